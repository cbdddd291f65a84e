// Unit2: the address book window. It shows the tree of "mailtos.qpf", saves it at every
// change, and appends a double-clicked address to the compose window's recipients.
#pragma once

#include "app/AddressTree.h"

#include <QIcon>
#include <QTreeWidget>
#include <QWidget>

#include <unordered_set>

class QLineEdit;
class QPushButton;
class TForm2;

// TreeView1: hands mouse-downs, double clicks, drags and drops to its form.
class TAddressTreeView : public QTreeWidget {
public:
    explicit TAddressTreeView(TForm2* Form);

protected:
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void startDrag(Qt::DropActions Actions) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    TForm2* FForm;
};

class TForm2 : public QWidget {
public:
    explicit TForm2(QWidget* Parent = nullptr);
    ~TForm2() override;

    TAddressTreeView* TreeView1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QLineEdit* Edit1;
    QIcon ImageList1; // the one picture every node shows

    // Handlers; each lets its failure go to the caller, which shows it.
    void FormActivate();
    void FormClose();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void TreeView1DblClick();
    void TreeView1MouseDown(const QPoint& Pos);
    bool TreeView1DragOver(const QObject* Source) const;
    void TreeView1DragDrop(const QObject* Source, const QPoint& Pos);

    const TAddressTree& Tree() const { return FTree; }
    TAddressNode* NodeAt(const QPoint& Pos) const;
    QTreeWidgetItem* ItemOf(const TAddressNode* Node) const;

protected:
    bool event(QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    struct TViewState {
        std::unordered_set<const TAddressNode*> Expanded;
        const TAddressNode* Selected = nullptr;
        int Scroll = 0;
    };

    void CreateSampleTree();
    TAddressNode* SelectedNode() const;
    TViewState SaveViewState() const;
    void ShowTree(const TViewState& State);
    void ShowLoadedTree();
    void AddFromEdit1(TAddressNode* Parent);
    void LabelEdited(QTreeWidgetItem* Item);
    void ProgramFocusChanged(QWidget* Now);

    TAddressTree FTree;
    TAddressBookFile FFile{"mailtos.qpf"};
    TAddressNode* DragNode = nullptr; // under the mouse at the last mouse-down in the tree
    bool FActiveForm = false;         // the program's active window, until another one is
    bool FShown = false;
    bool FShowingTree = false;
    QMetaObject::Connection FFocusConnection;
};

extern TForm2* Form2;
