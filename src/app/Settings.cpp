#include "app/Settings.h"

#include "app/Application.h"
#include "app/Quillpost.h"
#include "rtl/IniFile.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

std::string SettingsDir;

namespace {

QLineEdit* NewEdit(QWidget* Parent, int Left, int Top, int Width, int Limit)
{
    auto* E = new QLineEdit(Parent);
    E->setGeometry(Left, Top, Width, 21);
    if (Limit > 0)
        SetTypingLimit(E, Limit);
    return E;
}

} // namespace

TForm3::TForm3() : QWidget(nullptr, Qt::Tool)
{
    setWindowTitle("Quill Post Settings");
    setFont(FormFont());
    setFixedSize(265, 149);

    Label2 = NewLabel(this, "Acct Name:", 0, 8);
    Label3 = NewLabel(this, "User Name", 0, 32);
    Label4 = NewLabel(this, "User ID", 16, 56);
    Label5 = NewLabel(this, "SMTP Host", 0, 80);
    Label6 = NewLabel(this, "User Email", 0, 104);
    Edit5 = NewEdit(this, 56, 4, 97, 0);
    edit1 = NewEdit(this, 56, 28, 205, 60);
    edit2 = NewEdit(this, 56, 52, 205, 40);
    edit3 = NewEdit(this, 56, 76, 205, 60);
    edit4 = NewEdit(this, 56, 100, 205, 80);

    Update = new QPushButton("Update", this);
    Update->setGeometry(92, 128, 81, 17);
    Update->setCursor(Qt::PointingHandCursor);
    connect(Update, &QPushButton::clicked, this, [this] { Guard([this] { UpdateClick(); }); });

    setTabOrder(edit1, edit2);
    setTabOrder(edit2, edit3);
    setTabOrder(edit3, edit4);
    setTabOrder(edit4, Update);
    setTabOrder(Update, Edit5);
    edit1->setFocus();
}

void TForm3::showEvent(QShowEvent* E)
{
    if (!FShown) {
        FShown = true;
        const QRect Main = Form1->frameGeometry();
        move(Main.center() - QPoint(width() / 2, height() / 2));
    }
    QWidget::showEvent(E);
}

bool TForm3::event(QEvent* E)
{
    if (FActiveForm.Activates(E))
        Guard([this] { FormActivate(); });
    return QWidget::event(E);
}

void TForm3::closeEvent(QCloseEvent* E)
{
    Guard([this] { FormClose(); });
    QWidget::closeEvent(E);
}

void TForm3::FormActivate()
{
    Form1->combox->setEnabled(false);
    SettingsDir = ProfileDir(ExeName);
    edit1->setText(QStr(Form1->smtp.PostMessage.FromName));
    edit2->setText(QStr(Form1->smtp.UserID));
    edit3->setText(QStr(Form1->smtp.Host));
    edit4->setText(QStr(Form1->smtp.PostMessage.FromAddress));
    Edit5->setText(Form1->combox->itemText(Form1->combox->currentIndex()));
}

void TForm3::UpdateClick()
{
    SaveAccount();
}

void TForm3::SaveAccount()
{
    const std::string Section = Form1->combox->currentIndex() == 0 ? "account1" : "account2";
    {
        TIniFile Ini(SettingsDir + "/quillpost.ini");
        Ini.WriteString(Section, "mailserver", Str(edit3->text()));
        Ini.WriteString(Section, "userid", Str(edit2->text()));
        Ini.WriteString(Section, "name", Str(edit1->text()));
        Ini.WriteString(Section, "replyto", Str(edit4->text()));
        Ini.WriteString(Section, "accountname", Str(Edit5->text()));
    }
    Form1->combox->setEnabled(true);
    Form1->LoadAccounts();
    hide();
    Form1->smtp.Host = Str(edit3->text());
    Form1->smtp.UserID = Str(edit2->text());
    Form1->smtp.PostMessage.FromName = Str(edit1->text());
    Form1->smtp.PostMessage.ReplyTo = Str(edit4->text());
    Form1->smtp.PostMessage.FromAddress = Form1->smtp.PostMessage.ReplyTo;
}

void TForm3::FormClose()
{
    Form1->combox->setEnabled(true);
}
