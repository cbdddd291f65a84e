#include "Unit2.h"

#include "app/Application.h"
#include "app/Quillpost.h"

#include <QApplication>
#include <QDialog>
#include <QDrag>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>

namespace {

const char* const DragFormat = "application/x-quillpost-address-node";

// A node's text holds no line breaks and no byte 00, which would split it in the file, and
// does not begin with blanks or tabs, which would be read back as indentation.
std::string NodeText(const QString& Text)
{
    std::string text = Str(Text);
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return text.substr(std::min(text.find_first_not_of("\t "), text.size()));
}

// A new last line of Memo. An empty last line (the text ends with a line break, as after
// pressing Enter) is filled rather than left as an empty entry before the new one.
void AppendLine(QPlainTextEdit* Memo, const QString& Line)
{
    QTextCursor end(Memo->document());
    end.movePosition(QTextCursor::End);
    if (end.block().text().isEmpty() && end.block().previous().isValid())
        end.deletePreviousChar();
    Memo->appendPlainText(Line);
}

QString ShownText(const TAddressNode* Node)
{
    return QStr(Node->Text);
}

TAddressNode* NodeOfItem(const QTreeWidgetItem* Item)
{
    return Item ? reinterpret_cast<TAddressNode*>(Item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

// ImageList1's one picture: a small envelope.
QIcon NodeImage()
{
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(QColor(64, 64, 96));
    painter.setBrush(QColor(255, 248, 220));
    painter.drawRect(1, 3, 13, 9);
    painter.drawLine(1, 3, 8, 9);
    painter.drawLine(14, 3, 8, 9);
    return QIcon(picture);
}

} // namespace

// --- TAddressTreeView ---

TAddressTreeView::TAddressTreeView(TForm2* Form)
    : QTreeWidget(Form), FForm(Form)
{
}

void TAddressTreeView::mousePressEvent(QMouseEvent* Event)
{
    FForm->TreeView1MouseDown(Event->position().toPoint());
    QTreeWidget::mousePressEvent(Event);
    if (Event->button() == Qt::RightButton)
        if (QTreeWidgetItem* item = itemAt(Event->position().toPoint()))
            setCurrentItem(item);
}

void TAddressTreeView::mouseDoubleClickEvent(QMouseEvent* Event)
{
    QTreeWidget::mouseDoubleClickEvent(Event);
    Guard([this] { FForm->TreeView1DblClick(); });
}

// The drag carries no data of its own: the drop moves DragNode.
void TAddressTreeView::startDrag(Qt::DropActions)
{
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setData(DragFormat, {});
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction);
}

void TAddressTreeView::dragEnterEvent(QDragEnterEvent* Event)
{
    dragMoveEvent(Event);
}

void TAddressTreeView::dragMoveEvent(QDragMoveEvent* Event)
{
    if (FForm->TreeView1DragOver(Event->source()))
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TAddressTreeView::dropEvent(QDropEvent* Event)
{
    const QObject* source = Event->source();
    const QPoint at = Event->position().toPoint();
    Event->acceptProposedAction();
    stopAutoScroll();
    setState(NoState);
    Guard([&] { FForm->TreeView1DragDrop(source, at); });
}

// --- TForm2 ---

TForm2::TForm2(QWidget* Parent)
    : QWidget(Parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Address Book");
    setFixedSize(240, 253);
    setFont(FormFont());

    TreeView1 = new TAddressTreeView(this);
    TreeView1->setGeometry(4, 4, 229, 201);
    TreeView1->setFrameShape(QFrame::NoFrame);
    TreeView1->viewport()->setCursor(Qt::PointingHandCursor);
    TreeView1->setHeaderHidden(true);
    TreeView1->setDragEnabled(true);
    TreeView1->setAcceptDrops(true);
    TreeView1->setDragDropMode(QAbstractItemView::DragDrop);
    TreeView1->setMouseTracking(true); // hot tracking
    TreeView1->setIndentation(19);
    TreeView1->setIconSize(QSize(16, 16));
    TreeView1->setRootIsDecorated(true);
    TreeView1->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    if (QStyle* lines = QStyleFactory::create("Windows")) { // draws the tree's lines
        lines->setParent(TreeView1);
        TreeView1->setStyle(lines);
    }
    QPalette palette = TreeView1->palette(); // the selection stays visible without focus
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    TreeView1->setPalette(palette);
    connect(TreeView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { LabelEdited(item); });

    Button1 = new QPushButton("Add Node", this);
    Button1->setGeometry(4, 212, 65, 17);
    Button2 = new QPushButton("Add Sub", this);
    Button2->setGeometry(84, 212, 69, 17);
    Button3 = new QPushButton("Delete", this);
    Button3->setGeometry(168, 212, 65, 17);
    for (QPushButton* button : {Button1, Button2, Button3})
        button->setCursor(Qt::PointingHandCursor);
    connect(Button1, &QPushButton::clicked, this, [this] { Guard([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guard([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Guard([this] { Button3Click(); }); });

    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(4, 232, 229, 21);
    Edit1->setToolTip("Paste/type address here");
    QPalette tip = Edit1->palette();
    tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
    tip.setColor(QPalette::Text, tip.color(QPalette::ToolTipText));
    Edit1->setPalette(tip);
    SetTypingLimit(Edit1, 80);

    ImageList1 = NodeImage();
    FFocusConnection = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget*, QWidget* now) { ProgramFocusChanged(now); });

    CreateSampleTree();
    ShowTree({});
}

// Focus moves while the controls go; by then this is no longer a TForm2.
TForm2::~TForm2()
{
    disconnect(FFocusConnection);
}

void TForm2::CreateSampleTree()
{
    TAddressNode* first = FTree.AddRoot("Add/delete nodes!");
    FTree.AddChild(first, "Dbl click an address");
    FTree.AddChild(first, "Have fun");
    TAddressNode* second = FTree.AddRoot("Node");
    FTree.AddChild(second, "someone@example.com");
    FTree.AddChild(second, "Rename these!");
    FTree.AddChild(second, "This is a Sub");
}

// --- activation, closing ---

bool TForm2::event(QEvent* Event)
{
    if (Event->type() == QEvent::WindowActivate && !FActiveForm) {
        FActiveForm = true;
        Guard([this] { FormActivate(); });
    }
    return QWidget::event(Event);
}

// Moving to another of the program's windows ends this one's turn as the active window;
// its dialogs and pop-ups do not, nor does leaving for another program.
void TForm2::ProgramFocusChanged(QWidget* Now)
{
    if (!Now || Now->window() == this)
        return;
    QWidget* window = Now->window();
    bool transient = qobject_cast<QDialog*>(window) || window->windowType() == Qt::Popup ||
                     window->windowType() == Qt::ToolTip;
    if (!transient)
        FActiveForm = false;
}

void TForm2::hideEvent(QHideEvent* Event)
{
    FActiveForm = false;
    QWidget::hideEvent(Event);
}

void TForm2::showEvent(QShowEvent* Event)
{
    if (!FShown) {
        FShown = true;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(Event);
}

void TForm2::closeEvent(QCloseEvent* Event)
{
    // A save that fails keeps the window open, so the tree is not lost from view.
    try {
        FormClose();
        Event->accept();
    } catch (const std::exception& failure) {
        ShowException(failure);
        Event->ignore();
    }
}

void TForm2::FormActivate()
{
    std::string note;
    try {
        note = FFile.Load(FTree);
    } catch (const ETreeViewError&) {
        ShowLoadedTree(); // the nodes before the bad line stay, unsorted
        throw;
    }
    FTree.Sort();
    ShowLoadedTree();
    if (!note.empty())
        throw Exception(note);
}

void TForm2::FormClose()
{
    FFile.Save(FTree);
}

// --- buttons ---

void TForm2::Button1Click()
{
    AddFromEdit1(nullptr);
}

void TForm2::Button2Click()
{
    AddFromEdit1(SelectedNode());
}

void TForm2::AddFromEdit1(TAddressNode* Parent)
{
    TViewState state = SaveViewState();
    FTree.AddChild(Parent, NodeText(Edit1->text()));
    ShowTree(state);
    Edit1->clear();
    FFile.Save(FTree);
}

// With no node selected nothing is deleted, and no file is written.
void TForm2::Button3Click()
{
    TAddressNode* node = SelectedNode();
    if (!node)
        return;
    FTree.SaveToFile("bkup.qpf");
    TViewState state = SaveViewState();
    state.Selected = nullptr;
    if (node->IsSelfOrAncestorOf(DragNode))
        DragNode = nullptr;
    FTree.Delete(node);
    ShowTree(state);
    FFile.Save(FTree);
}

// --- tree view ---

void TForm2::TreeView1DblClick()
{
    TAddressNode* node = SelectedNode();
    if (!node || node->HasChildren())
        return;
    AppendLine(Form1->memo2, ShownText(node));
    hide();
    Form1->activateWindow();
    Form1->Edit2->setFocus();
}

void TForm2::TreeView1MouseDown(const QPoint& Pos)
{
    DragNode = NodeAt(Pos);
}

bool TForm2::TreeView1DragOver(const QObject* Source) const
{
    return qobject_cast<const QTreeView*>(Source) != nullptr;
}

void TForm2::TreeView1DragDrop(const QObject* Source, const QPoint& Pos)
{
    TAddressNode* target = NodeAt(Pos);
    if (!TreeView1DragOver(Source) || !target)
        return;
    if (DragNode) {
        TViewState state = SaveViewState();
        if (FTree.MoveTo(DragNode, target))
            state.Expanded.insert(target);
        ShowTree(state);
    }
    FFile.Save(FTree);
}

void TForm2::LabelEdited(QTreeWidgetItem* Item)
{
    if (FShowingTree)
        return;
    TAddressNode* node = NodeOfItem(Item);
    node->Text = NodeText(Item->text(0));
    FTree.SortSiblings(node);
    // Re-shown once the editor has let go of the item.
    QTimer::singleShot(0, this, [this] { ShowTree(SaveViewState()); });
}

// --- tree and view ---

TAddressNode* TForm2::NodeAt(const QPoint& Pos) const
{
    return NodeOfItem(TreeView1->itemAt(Pos));
}

TAddressNode* TForm2::SelectedNode() const
{
    const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
    return selected.isEmpty() ? nullptr : NodeOfItem(selected.first());
}

QTreeWidgetItem* TForm2::ItemOf(const TAddressNode* Node) const
{
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        if (NodeOfItem(*it) == Node)
            return *it;
    return nullptr;
}

TForm2::TViewState TForm2::SaveViewState() const
{
    TViewState state;
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        if ((*it)->isExpanded())
            state.Expanded.insert(NodeOfItem(*it));
    state.Selected = SelectedNode();
    state.Scroll = TreeView1->verticalScrollBar()->value();
    return state;
}

// Rebuilds the view from the tree; nodes keep their expanded and selected state.
void TForm2::ShowTree(const TViewState& State)
{
    FShowingTree = true;
    TreeView1->clear();
    QTreeWidgetItem* selected = nullptr;
    std::vector<QTreeWidgetItem*> expanded;
    auto add = [&](auto& self, const TAddressNode::TNodes& nodes, QTreeWidgetItem* parent) -> void {
        for (const auto& node : nodes) {
            auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
            item->setText(0, ShownText(node.get()));
            item->setIcon(0, ImageList1);
            item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node.get())));
            item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled);
            if (node.get() == State.Selected)
                selected = item;
            if (State.Expanded.contains(node.get()))
                expanded.push_back(item);
            self(self, node->Children(), item);
        }
    };
    add(add, FTree.Roots(), nullptr);
    for (QTreeWidgetItem* item : expanded)
        item->setExpanded(true);
    if (selected)
        TreeView1->setCurrentItem(selected);
    TreeView1->verticalScrollBar()->setValue(State.Scroll);
    FShowingTree = false;
}

// A freshly loaded tree: all collapsed, nothing selected, no drag pending.
void TForm2::ShowLoadedTree()
{
    DragNode = nullptr;
    ShowTree({});
}
