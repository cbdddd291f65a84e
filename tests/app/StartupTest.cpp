// Start-up: the command line split into recipient and subject, the first account, the
// current directory, and the typing limit of the subject.
#include "AppFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QApplication>
#include <QTest>
#include <QTimer>

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

TEST_F(AppTest, OnlyMovingHereFromAnotherWindowOfTheProgramActivates)
{
    Start("ann");
    ActivateMain();
    const auto CursorAtEnd = [this] {
        QTextCursor Cursor = F1->memo2->textCursor();
        Cursor.movePosition(QTextCursor::End);
        F1->memo2->setTextCursor(Cursor);
    };
    CursorAtEnd();
    // Leaving for another program and coming back leaves the recipients as the user had them.
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(F1.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(F1.get(), 1000));
    EXPECT_FALSE(F1->memo2->textCursor().hasSelection());
    EXPECT_EQ(F1->memo2->textCursor().position(), 3);

    // Coming from the settings window is an activation.
    ActivateSettings();
    ActivateMain();
    EXPECT_EQ(F1->memo2->textCursor().selectedText(), "a");
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

TEST_F(AppTest, ClosingTheMainWindowEndsTheProgram)
{
    Start();
    F2->show();
    F3->show();
    QTimer::singleShot(0, [this] { F1->close(); });
    // Should the loop not end by itself, this ends it with a distinct result.
    QTimer Limit;
    Limit.setSingleShot(true);
    QObject::connect(&Limit, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    Limit.start(2000);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST(SplitHost, PortOnlyWhenWrittenAsNumber)
{
    const struct {
        const char* Written;
        const char* Name;
        int Port;
    } Cases[] = {
        {"mail.example.org", "mail.example.org", 25}, {"127.0.0.1:2525", "127.0.0.1", 2525},
        {"mail:1", "mail", 1},                         {"mail:65535", "mail", 65535},
        {"mail:65536", "mail:65536", 25},              {"mail:0", "mail:0", 25},
        {"mail:", "mail:", 25},                        {"mail:2x5", "mail:2x5", 25},
        {"a:b:587", "a:b", 587},                       {"", "", 25},
    };
    for (const auto& C : Cases) {
        std::string Name;
        int Port = 0;
        SplitHost(C.Written, Name, Port);
        EXPECT_EQ(Name, C.Name) << C.Written;
        EXPECT_EQ(Port, C.Port) << C.Written;
    }
}
