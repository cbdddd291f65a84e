#include "app/Quillpost.h"

#include "app/Application.h"
#include "app/Settings.h"
#include "app/Unit2.h"
#include "rtl/IniFile.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTextCursor>
#include <QToolButton>
#include <QUrl>

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
std::string ExeName;
std::string AppDir;

namespace {

int AccountIndex = 0;
std::string SavedDir;

// The subject taken from the command line is at most this long.
constexpr std::string::size_type SubjectLength = 100;

std::string LowerCase(std::string S)
{
    for (char& C : S)
        if (C >= 'A' && C <= 'Z')
            C = static_cast<char>(C - 'A' + 'a');
    return S;
}

void Place(QWidget* W, int Left, int Top, int Width, int Height)
{
    W->setGeometry(Left, Top, Width, Height);
}

} // namespace

TForm1::TForm1(const std::string& ExePath, const std::string& Param1)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(AppTitle);
    setFont(FormFont());
    setFixedSize(266, 316);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                    QGuiApplication::primaryScreen()->availableGeometry()));
    CreateControls();
    SetupComponent();
    FormCreate(ExePath, Param1);
}

TForm1::~TForm1() = default;

void TForm1::CreateControls()
{
    Label1 = NewLabel(this, "To:", 28, 12);

    Button3 = new QPushButton("?", this);
    Place(Button3, 4, 8, 21, 21);
    Button3->setToolTip("Address book");
    Button3->setCursor(Qt::PointingHandCursor);
    Button3->setFocusPolicy(Qt::ClickFocus);
    connect(Button3, &QPushButton::clicked, this, [this] { Guard([this] { Button3Click(); }); });

    memo2 = new QPlainTextEdit(this);
    Place(memo2, 52, 4, 209, 33);
    memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo2->setTabChangesFocus(true);

    Label2 = NewLabel(this, "Subject:", 8, 44);

    Edit2 = new QLineEdit(this);
    Place(Edit2, 52, 40, 209, 21);
    SetTypingLimit(Edit2, 60);

    Label4 = NewLabel(this, "Current Account:", 32, 68);

    combox = new QComboBox(this);
    Place(combox, 112, 64, 149, 21);
    combox->setEditable(true);
    combox->setInsertPolicy(QComboBox::NoInsert);
    combox->setFocusPolicy(Qt::ClickFocus);
    connect(combox, &QComboBox::activated, this, [this] { Guard([this] { comboxChange(); }); });

    Memo1 = new QPlainTextEdit(this);
    Place(Memo1, 4, 88, 257, 153);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(false);

    CreateToolBar();

    Label3 = NewLabel(this, "Attach:", 0, 272);

    ListBox1 = new QListWidget(this);
    Place(ListBox1, 36, 268, 229, 25);
    ListBox1->setToolTip("Drag&Drop, insert & delete key");
    ListBox1->setFocusPolicy(Qt::ClickFocus);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette Tip = ListBox1->palette();
    Tip.setColor(QPalette::Base, Tip.color(QPalette::ToolTipBase));
    Tip.setColor(QPalette::Text, Tip.color(QPalette::ToolTipText));
    ListBox1->setPalette(Tip);
    ListBox1->installEventFilter(this);

    StatusBar1 = new QStatusBar(this);
    Place(StatusBar1, 0, 295, 266, 21);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->showMessage("Idle");

    OpenDialog1 = new QFileDialog(this, "Select Attachment");
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);

    setTabOrder(memo2, Edit2);
    setTabOrder(Edit2, Memo1);
    memo2->setFocus();
}

void TForm1::CreateToolBar()
{
    ToolBar1 = new QWidget(this);
    Place(ToolBar1, 0, 244, 266, 22);
    ToolBar1->setCursor(Qt::PointingHandCursor);
    const auto NewButton = [this](const char* Caption, int Index, void (TForm1::*Click)()) {
        constexpr int Width = 59, Separator = 8;
        auto* B = new QToolButton(ToolBar1);
        B->setText(Caption);
        B->setAutoRaise(true);
        B->setToolButtonStyle(Qt::ToolButtonTextOnly);
        B->setFocusPolicy(Qt::NoFocus);
        Place(B, Index * (Width + Separator), 0, Width, 21);
        connect(B, &QToolButton::clicked, this, [this, Click] { Guard([this, Click] { (this->*Click)(); }); });
        return B;
    };
    ToolButton1 = NewButton("Send Mail", 0, &TForm1::ToolButton1Click);
    ToolButton3 = NewButton("Clear all", 1, &TForm1::ToolButton3Click);
    ToolButton5 = NewButton("Settings", 2, &TForm1::ToolButton5Click);
    ToolButton7 = NewButton("Homepage", 3, &TForm1::ToolButton7Click);
}

void TForm1::SetupComponent()
{
    smtp.Host = "null";
    smtp.Port = 25;
    smtp.TimeOut = 20000;
    smtp.ReportLevel = 0;
    smtp.PostMessage.LocalProgram = "Pellicork's Quillpost";
    smtp.EncodeType = uuMime;
    smtp.ClearParams = true;
    smtp.SubType = mtPlain;
    smtp.Charset = "us-ascii";

    smtp.OnConnect = [this](auto*) { smtpConnect(); };
    smtp.OnPacketSent = [this](auto*) { smtpPacketSent(); };
    smtp.OnRecipientNotFound = [this](const std::string& Recipient) { smtpRecipientNotFound(Recipient); };
    smtp.OnHeaderIncomplete = [this](bool& handled, int hiType) { smtpHeaderIncomplete(handled, hiType); };
    smtp.OnSendStart = [this](auto*) { smtpSendStart(); };
    smtp.OnSuccess = [this](auto*) { smtpSuccess(); };
    smtp.OnFailure = [this](auto*) { smtpFailure(); };
    smtp.OnEncodeStart = [this](const std::string& Filename) { smtpEncodeStart(Filename); };
    smtp.OnEncodeEnd = [this](const std::string& Filename) { smtpEncodeEnd(Filename); };
    smtp.OnAttachmentNotFound = [this](const std::string& Filename) { smtpAttachmentNotFound(Filename); };
    smtp.OnAuthenticationFailed = [this](bool& Handled) { smtpAuthenticationFailed(Handled); };
}

void TForm1::FormCreate(const std::string& ExePath, const std::string& Param1)
{
    // Files dropped anywhere on the window, also on the text fields, become attachments.
    setAcceptDrops(true);
    installEventFilter(this);
    for (QWidget* Child : findChildren<QWidget*>())
        if (Child->acceptDrops())
            Child->installEventFilter(this);

    ExeName = ExePath;
    AppDir = ProfileDir(ExeName);

    std::string Target;
    smtp.ExtractAddress(LowerCase(Param1), Target);
    const auto P = Target.find('?');
    if (P != std::string::npos) {
        const std::string Subject = Target.substr(P, SubjectLength);
        Target.erase(P, SubjectLength);
        Edit2->setText(QStr(Subject));
    }
    memo2->setPlainText(QStr(Target));

    // A directory that cannot be entered leaves the current one; the book is looked up there.
    QDir::setCurrent(QStr(AppDir));

    LoadAccounts();
}

void TForm1::LoadAccounts()
{
    TIniFile Ini(AppDir + "quillpost.ini");
    const auto FillCombo = [this, &Ini] {
        combox->clear();
        combox->clearEditText();
        combox->addItem(QStr(AccountDisplayName(Ini, 0)));
        combox->addItem(QStr(AccountDisplayName(Ini, 1)));
    };
    if (combox->currentIndex() == -1) {
        FillCombo();
        combox->setCurrentIndex(0);
    }
    AccountIndex = combox->currentIndex();
    FillCombo();
    combox->setCurrentIndex(AccountIndex);
    ApplyAccount(smtp, ReadAccount(Ini, AccountIndex));
}

bool TForm1::event(QEvent* E)
{
    if (FActiveForm.Activates(E))
        Guard([this] { FormActivate(); });
    return QWidget::event(E);
}

// The compose window is the main window: closing it ends the program, whatever else is shown.
void TForm1::closeEvent(QCloseEvent* E)
{
    QWidget::closeEvent(E);
    QCoreApplication::quit();
}

void TForm1::FormActivate()
{
    QTextCursor Cursor = memo2->textCursor();
    Cursor.setPosition(0);
    Cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    memo2->setTextCursor(Cursor);
}

bool TForm1::eventFilter(QObject* Watched, QEvent* E)
{
    if (Watched == ListBox1 && E->type() == QEvent::KeyPress) {
        // The key goes on to the list box as well.
        Guard([this, E] { ListBox1KeyDown(static_cast<QKeyEvent*>(E)->key()); });
        return false;
    }
    if (E->type() == QEvent::DragEnter || E->type() == QEvent::DragMove) {
        auto* Drag = static_cast<QDropEvent*>(E);
        if (!Drag->mimeData()->hasUrls())
            return false;
        Drag->acceptProposedAction();
        return true;
    }
    if (E->type() == QEvent::Drop) {
        auto* Drop = static_cast<QDropEvent*>(E);
        if (!Drop->mimeData()->hasUrls())
            return false;
        Drop->acceptProposedAction();
        Guard([this, Drop] { WMDropFiles(Drop->mimeData()->urls()); });
        return true;
    }
    return QWidget::eventFilter(Watched, E);
}

void TForm1::ToolButton1Click()
{
    ToolBar1->setEnabled(false);
    try {
        ConnectToAccountHost();
        smtp.PostMessage.ToAddress.SetText(Str(memo2->toPlainText()));
        smtp.PostMessage.Body.SetText(Str(Memo1->toPlainText()));
        TStringList Attachments;
        for (int I = 0; I < ListBox1->count(); ++I)
            Attachments.Add(Str(ListBox1->item(I)->text()));
        smtp.PostMessage.Attachments.SetText(Attachments.Text());
        smtp.PostMessage.Subject = Str(Edit2->text());
        smtp.SendMail();
        smtp.Disconnect();
    } catch (...) {
        EndFailedSend();
        throw;
    }
    ToolBar1->setEnabled(true);
}

// smtp.Connect to the account's host. A host written "name:port" stays so written in the
// component, for the settings window; only the connection uses its parts.
void TForm1::ConnectToAccountHost()
{
    const std::string Written = smtp.Host;
    std::string Name;
    SplitHost(Written, Name, smtp.Port);
    smtp.Host = Name;
    // A host changed meanwhile (a new account chosen during the connect) is kept.
    const auto Restore = [&] {
        if (smtp.Host == Name)
            smtp.Host = Written;
    };
    try {
        smtp.Connect();
    } catch (...) {
        Restore();
        throw;
    }
    Restore();
}

void TForm1::EndFailedSend()
{
    try {
        if (smtp.Connected)
            smtp.Disconnect();
    } catch (const std::exception&) {
        // The failure of the send itself is the one the user needs to see.
    }
    ToolBar1->setEnabled(true);
}

void TForm1::ClearFields()
{
    Memo1->clear();
    memo2->clear();
    Edit2->clear();
    ListBox1->clear();
}

void TForm1::SetStatus(const char* Text)
{
    StatusBar1->showMessage(Text);
}

void TForm1::ToolButton3Click()
{
    ClearFields();
    SetStatus("Idle");
}

void TForm1::ToolButton5Click()
{
    Form2->setVisible(false);
    Form3->setVisible(true);
}

void TForm1::ToolButton7Click()
{
    setWindowState(windowState() | Qt::WindowMinimized);
    // The shell's answer is not reported.
    QDesktopServices::openUrl(QUrl(Homepage));
}

void TForm1::Button3Click()
{
    Form2->setVisible(true);
}

void TForm1::comboxChange()
{
    LoadAccounts();
}

void TForm1::ListBox1KeyDown(int Key)
{
    SavedDir = Str(QDir::currentPath());
    if (Key == Qt::Key_Insert && OpenDialog1->exec() == QDialog::Accepted) {
        const QString Chosen = OpenDialog1->selectedFiles().value(0);
        if (!Chosen.isEmpty()) {
            ListBox1->addItem(QFileInfo(Chosen).absoluteFilePath());
            OpenDialog1->selectFile(Chosen);
        }
    }
    QDir::setCurrent(QStr(SavedDir));
    if (Key == Qt::Key_Delete) {
        const auto Selected = ListBox1->selectedItems();
        if (!Selected.isEmpty()) {
            delete Selected.first();
            ListBox1->clearSelection();
        }
    }
    QDir::setCurrent(QStr(SavedDir));
}

void TForm1::WMDropFiles(const QList<QUrl>& Urls)
{
    for (const QUrl& Url : Urls)
        if (Url.isLocalFile())
            ListBox1->addItem(Url.toLocalFile());
}

void TForm1::smtpConnect()
{
    SetStatus("Connecting...");
}

void TForm1::smtpPacketSent()
{
    StatusBar1->showMessage(QString("Sending Message....%1kb of %2kb")
                                .arg(smtp.BytesSent / 1000)
                                .arg(smtp.BytesTotal / 1000));
}

void TForm1::smtpRecipientNotFound(const std::string&)
{
    smtp.Disconnect();
    ToolBar1->setEnabled(true);
}

void TForm1::smtpHeaderIncomplete(bool& handled, int hiType)
{
    bool Ok = false;
    if (hiType == 1) {
        const QString Value = QInputDialog::getText(this, "missing from Address", "Enter from Address",
                                                    QLineEdit::Normal, QString(), &Ok);
        if (Ok) {
            smtp.PostMessage.FromAddress = Str(Value);
            handled = true;
        }
    } else if (hiType == 2) {
        const QString Value =
            QInputDialog::getText(this, "Missing to Address", "Enter To:", QLineEdit::Normal, QString(), &Ok);
        if (Ok) {
            smtp.PostMessage.ToAddress.SetText(Str(Value));
            handled = true;
        }
    }
}

void TForm1::smtpSendStart()
{
    SetStatus("Sending Message....");
}

void TForm1::smtpSuccess()
{
    SetStatus("Idle  -  Message Sent!");
    ClearFields();
}

void TForm1::smtpFailure()
{
    SetStatus("SMTP Send Failure :-(");
}

void TForm1::smtpEncodeStart(const std::string&)
{
    SetStatus("Encoding File");
}

void TForm1::smtpEncodeEnd(const std::string&)
{
    SetStatus("File Encoded");
}

void TForm1::smtpAttachmentNotFound(const std::string&)
{
    SetStatus("File not found!");
}

void TForm1::smtpAuthenticationFailed(bool& Handled)
{
    bool Ok = false;
    const QString Value = QInputDialog::getText(this, "Authentication Failed", "Invalid User ID. New User ID: ",
                                                QLineEdit::Normal, QStr(smtp.UserID), &Ok);
    if (Ok) {
        smtp.UserID = Str(Value);
        Handled = true;
    }
}
