// Account profiles: what the settings window writes, what the compose window loads, and the
// account combo's state while the settings window is active.
#include "AppFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

struct Account {
    const char* AccountName;
    const char* Name;
    const char* UserId;
    const char* Host;
    const char* Email;
};

} // namespace

class AccountsTest : public AppTest {
protected:
    void Save(const Account& A)
    {
        ActivateSettings();
        F3->Edit5->setText(A.AccountName);
        F3->edit1->setText(A.Name);
        F3->edit2->setText(A.UserId);
        F3->edit3->setText(A.Host);
        F3->edit4->setText(A.Email);
        QTest::mouseClick(F3->Update, Qt::LeftButton);
    }
    void Choose(int Index)
    {
        F1->combox->setCurrentIndex(Index);
        emit F1->combox->activated(Index);
    }
    void ExpectLoaded(const Account& A)
    {
        EXPECT_EQ(F1->smtp.Host, A.Host);
        EXPECT_EQ(F1->smtp.UserID, A.UserId);
        EXPECT_EQ(F1->smtp.PostMessage.FromName, A.Name);
        EXPECT_EQ(F1->smtp.PostMessage.FromAddress, A.Email);
        EXPECT_EQ(F1->smtp.PostMessage.ReplyTo, A.Email);
    }
};

TEST_F(AccountsTest, SavesEachAccountIntoItsSectionInPlace)
{
    const Account First{"Work", "Ann Smith", "ann", "mail.example.org", "ann@example.org"};
    const Account Second{"Home", "Ann", "annie", "smtp.example.net:2525", "annie@example.net"};
    const Account FirstAgain{"Office", "A. Smith", "asmith", "relay.example.org", "a.smith@example.org"};
    Start();

    Save(First);
    EXPECT_EQ(ReadFile(IniPath()), "[account1]\r\n"
                                   "mailserver=mail.example.org\r\n"
                                   "userid=ann\r\n"
                                   "name=Ann Smith\r\n"
                                   "replyto=ann@example.org\r\n"
                                   "accountname=Work\r\n");
    EXPECT_FALSE(F3->isVisible());
    EXPECT_TRUE(F1->combox->isEnabled());
    ExpectLoaded(First);

    ActivateMain();
    Choose(1);
    Save(Second);
    const std::string Section2 = "[account2]\r\n"
                                 "mailserver=smtp.example.net:2525\r\n"
                                 "userid=annie\r\n"
                                 "name=Ann\r\n"
                                 "replyto=annie@example.net\r\n"
                                 "accountname=Home\r\n";
    EXPECT_EQ(ReadFile(IniPath()), "[account1]\r\n"
                                   "mailserver=mail.example.org\r\n"
                                   "userid=ann\r\n"
                                   "name=Ann Smith\r\n"
                                   "replyto=ann@example.org\r\n"
                                   "accountname=Work\r\n" +
                                       Section2);
    EXPECT_EQ(F1->combox->itemText(1), "Home");
    EXPECT_EQ(F1->combox->currentIndex(), 1);
    ExpectLoaded(Second);

    ActivateMain();
    Choose(0);
    ExpectLoaded(First);
    Save(FirstAgain);
    EXPECT_EQ(ReadFile(IniPath()), "[account1]\r\n"
                                   "mailserver=relay.example.org\r\n"
                                   "userid=asmith\r\n"
                                   "name=A. Smith\r\n"
                                   "replyto=a.smith@example.org\r\n"
                                   "accountname=Office\r\n" +
                                       Section2);
    EXPECT_EQ(F1->combox->itemText(0), "Office");
    EXPECT_EQ(F1->combox->itemText(1), "Home");
    EXPECT_EQ(F1->combox->currentIndex(), 0);

    ActivateMain();
    Choose(1);
    ExpectLoaded(Second);
}

TEST_F(AccountsTest, HandWrittenSectionLoadsAndIsUpdated)
{
    WriteFile(IniPath(), "[Account1]\r\n"
                         "AccountName = \"Mine\"\r\n"
                         "Name=Bea\r\n"
                         "UserID=bea\r\n"
                         "MailServer=mx.example.org\r\n"
                         "ReplyTo=bea@example.org\r\n");
    Start();
    EXPECT_EQ(F1->combox->itemText(0), "Mine");
    ExpectLoaded({"Mine", "Bea", "bea", "mx.example.org", "bea@example.org"});

    ActivateSettings();
    EXPECT_EQ(F3->Edit5->text(), "Mine");
    EXPECT_EQ(F3->edit1->text(), "Bea");
    F3->edit2->setText("beatrix");
    QTest::mouseClick(F3->Update, Qt::LeftButton);
    const std::string Text = ReadFile(IniPath());
    EXPECT_EQ(Text.find("[account1]"), std::string::npos) << Text;
    EXPECT_NE(Text.find("beatrix"), std::string::npos) << Text;
    EXPECT_EQ(F1->smtp.UserID, "beatrix");
}

TEST_F(AccountsTest, EmptyEmailReadsBackEmpty)
{
    Start();
    Save({"Blank", "Cy", "cy", "mx", ""});
    EXPECT_NE(ReadFile(IniPath()).find("replyto=\r\n"), std::string::npos);
    F3.reset();
    F2.reset();
    F1.reset();
    Start();
    ExpectLoaded({"Blank", "Cy", "cy", "mx", ""});
}

TEST_F(AccountsTest, ComboDisabledWhileSettingsActive)
{
    Start();
    ActivateSettings();
    EXPECT_FALSE(F1->combox->isEnabled());
    F3->close();
    EXPECT_TRUE(F1->combox->isEnabled());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(IniPath()))) << "closing saves nothing";

    // Typing that was not saved is discarded when the window is activated again.
    ActivateSettings();
    F3->edit1->setText("unsaved");
    ActivateMain();
    ActivateSettings();
    EXPECT_EQ(F3->edit1->text(), "none");
    EXPECT_FALSE(F1->combox->isEnabled());
    QTest::mouseClick(F3->Update, Qt::LeftButton);
    EXPECT_TRUE(F1->combox->isEnabled());
}

TEST_F(AccountsTest, UnwritableFileIsReportedAndChangesNothingElse)
{
    Start();
    // A directory in the file's place cannot be written, whoever runs the test.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(IniPath())));
    ActivateSettings();
    F3->edit3->setText("new.example.org");

    QString Shown;
    QString Caption;
    ModalDriver Driver;
    Driver.Then([&](QWidget* Box) {
        auto* M = qobject_cast<QMessageBox*>(Box);
        ASSERT_NE(M, nullptr);
        Shown = M->text();
        Caption = M->windowTitle();
        M->accept();
    });
    QTest::mouseClick(F3->Update, Qt::LeftButton);
    EXPECT_EQ(Caption, "Quillpost");
    EXPECT_EQ(Shown.toStdString(), "Unable to write to " + ExeDir().toStdString() + "//quillpost.ini.");
    EXPECT_FALSE(F1->combox->isEnabled());
    EXPECT_TRUE(F3->isVisible());
    EXPECT_EQ(F1->smtp.Host, "none");

    // The typing survives the box, and the front given back to the window after it, so the
    // user can mend the cause and save again.
    ActivateSettings();
    EXPECT_EQ(F3->edit3->text(), "new.example.org");
    ASSERT_TRUE(QDir().rmdir(QString::fromStdString(IniPath())));
    QTest::mouseClick(F3->Update, Qt::LeftButton);
    EXPECT_NE(ReadFile(IniPath()).find("mailserver=new.example.org\r\n"), std::string::npos);
    EXPECT_EQ(F1->smtp.Host, "new.example.org");
}

TEST_F(AccountsTest, ReturningFromAnotherProgramKeepsTheTyping)
{
    Start();
    ActivateSettings();
    F3->edit1->setText("typed");
    // The whole program loses the front and gets it back: the settings window stays the
    // program's active window all along.
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(F3.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(F3.get(), 1000));
    EXPECT_EQ(F3->edit1->text(), "typed");
}

TEST_F(AccountsTest, AccountNameIsTheSelectedEntry)
{
    Start();
    // Text typed into the combo's edit part names no account.
    F1->combox->setEditText("typed");
    ActivateSettings();
    EXPECT_EQ(F3->Edit5->text(), "UnNamed 1");
}

TEST_F(AccountsTest, SettingsFieldsLimitTyping)
{
    Start();
    ActivateSettings();
    const std::pair<QLineEdit*, int> Limits[] = {{F3->edit1, 60}, {F3->edit2, 40}, {F3->edit3, 60}, {F3->edit4, 80}};
    for (const auto& [Edit, Limit] : Limits) {
        Edit->clear();
        QTest::keyClicks(Edit, QString(Limit + 5, 'k'));
        EXPECT_EQ(Edit->text().size(), Limit);
    }
    F3->Edit5->clear();
    QTest::keyClicks(F3->Edit5, QString(120, 'k'));
    EXPECT_EQ(F3->Edit5->text().size(), 120) << "the account name has no limit";
}

TEST_F(AccountsTest, TabOrderStartsAtTheSenderName)
{
    Start();
    ActivateSettings();
    const QWidget* Order[] = {F3->edit1, F3->edit2, F3->edit3, F3->edit4, F3->Update, F3->Edit5, F3->edit1};
    EXPECT_EQ(QApplication::focusWidget(), Order[0]) << "the first field has the focus when the window opens";
    for (size_t I = 1; I < std::size(Order); ++I) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), Order[I]) << I;
    }
}
