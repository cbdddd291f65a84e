// Start-up: the command line split into recipient and subject, the first account, the
// current directory, and the typing limit of the subject.
#include "AppFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>

namespace {

struct CommandLineCase {
    std::string Argument;
    std::string Recipient;
    std::string Subject;
};

const std::string LongTail = std::string(99, 'x') + "yz";

} // namespace

TEST_F(AppTest, CommandLineFillsRecipientAndSubject)
{
    const CommandLineCase Cases[] = {
        {"", "", ""},
        {"MAILTO:Ann?Subject=Hi", "ann", "?subject=hi"},
        {"ann", "ann", ""},
        {"mailto:ann?subject=re: hi", "ann", "?subject=re"},
        // The subject takes 100 characters from the "?" on; the rest stays with the recipient.
        {"mailto:bob?" + LongTail, "bobyz", "?" + std::string(99, 'x')},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Argument);
        Start(C.Argument);
        EXPECT_EQ(F1->memo2->toPlainText().toStdString(), C.Recipient);
        EXPECT_EQ(F1->Edit2->text().toStdString(), C.Subject);
        TearDown();
    }
}

TEST_F(AppTest, NoProfileFileGivesDefaultAccounts)
{
    Start();
    EXPECT_EQ(F1->StatusBar1->currentMessage(), "Idle");
    ASSERT_EQ(F1->combox->count(), 2);
    EXPECT_EQ(F1->combox->itemText(0), "UnNamed 1");
    EXPECT_EQ(F1->combox->itemText(1), "UnNamed 2");
    EXPECT_EQ(F1->combox->currentIndex(), 0);
    EXPECT_EQ(F1->smtp.Host, "none");
    EXPECT_EQ(F1->smtp.UserID, "none");
    EXPECT_EQ(F1->smtp.PostMessage.FromName, "none");
    EXPECT_EQ(F1->smtp.PostMessage.FromAddress, "none");
    EXPECT_EQ(F1->smtp.PostMessage.ReplyTo, "none");
    EXPECT_EQ(F1->smtp.Port, 25);
    EXPECT_EQ(F1->smtp.TimeOut, 20000);
    EXPECT_EQ(F1->smtp.PostMessage.LocalProgram, "Pellicork's Quillpost");
    EXPECT_EQ(AppDir, ExeDir().toStdString() + "/");
    EXPECT_EQ(QDir::currentPath(), ExeDir());
}

TEST_F(AppTest, SubjectLimitBindsTypingOnly)
{
    Start("mailto:bob?" + LongTail);
    ASSERT_EQ(F1->Edit2->text().size(), 100);
    QTest::keyClicks(F1->Edit2, "more");
    EXPECT_EQ(F1->Edit2->text().size(), 100) << "typing must not grow a text beyond the limit";
    QTest::keyClick(F1->Edit2, Qt::Key_Backspace);
    EXPECT_EQ(F1->Edit2->text().size(), 99) << "a long text can still be shortened";

    F1->Edit2->clear();
    QTest::keyClicks(F1->Edit2, QString(70, 'a'));
    EXPECT_EQ(F1->Edit2->text(), QString(60, 'a'));
}

TEST_F(AppTest, ActivationSelectsFirstRecipientCharacter)
{
    Start("ann");
    ActivateMain();
    const QTextCursor Cursor = F1->memo2->textCursor();
    EXPECT_EQ(Cursor.selectionStart(), 0);
    EXPECT_EQ(Cursor.selectedText(), "a");
    EXPECT_TRUE(F1->memo2->hasFocus());
}

TEST_F(AppTest, ProfileDirFallsBackToUserDirectory)
{
    QTemporaryDir Config;
    const QByteArray Saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", Config.path().toUtf8());
    // A directory that does not exist cannot be written either.
    const std::string Dir = ProfileDir("/nonexistent-quillpost-dir/quillpost");
    if (Saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", Saved);
    EXPECT_EQ(Dir, (Config.path() + "/quillpost/").toStdString());
    EXPECT_TRUE(QDir(Config.path() + "/quillpost").exists());
    EXPECT_EQ(ProfileDir(ExeDir().toStdString() + "/quillpost"), ExeDir().toStdString() + "/");
}
