// The tool bar's actions, the address-book button and the tab order of the compose window.
#include "AppFixture.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QUrl>

// Stands in for the shell: notes the address and whether the main window was minimised.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QUrl Opened;
    bool MinimisedFirst = false;
public slots:
    void Open(const QUrl& Url)
    {
        Opened = Url;
        MinimisedFirst = Form1->isMinimized();
    }
};

TEST_F(AppTest, ClearAllEmptiesTheFields)
{
    Start("mailto:ann?subject");
    F1->Memo1->setPlainText("body");
    F1->ListBox1->addItem("/tmp/file");
    F1->StatusBar1->showMessage("SMTP Send Failure :-(");
    QTest::mouseClick(F1->ToolButton3, Qt::LeftButton);
    EXPECT_TRUE(F1->Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(F1->memo2->toPlainText().isEmpty());
    EXPECT_TRUE(F1->Edit2->text().isEmpty());
    EXPECT_EQ(F1->ListBox1->count(), 0);
    EXPECT_EQ(F1->StatusBar1->currentMessage(), "Idle");
}

TEST_F(AppTest, SettingsHidesTheAddressBook)
{
    Start();
    QTest::mouseClick(F1->Button3, Qt::LeftButton);
    EXPECT_TRUE(F2->isVisible());
    QTest::mouseClick(F1->ToolButton5, Qt::LeftButton);
    EXPECT_FALSE(F2->isVisible());
    EXPECT_TRUE(F3->isVisible());
}

TEST_F(AppTest, HomepageMinimisesBeforeOpening)
{
    Start();
    UrlCatcher Catcher;
    QDesktopServices::setUrlHandler("https", &Catcher, "Open");
    QTest::mouseClick(F1->ToolButton7, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(Catcher.Opened, QUrl(Homepage));
    EXPECT_TRUE(Catcher.MinimisedFirst);
}

TEST_F(AppTest, TabGoesFromRecipientsToSubjectToBody)
{
    Start();
    ActivateMain();
    ASSERT_TRUE(F1->memo2->hasFocus());
    QTest::keyClick(F1->memo2, Qt::Key_Tab);
    EXPECT_TRUE(F1->Edit2->hasFocus());
    QTest::keyClick(F1->Edit2, Qt::Key_Tab);
    EXPECT_TRUE(F1->Memo1->hasFocus());
    QTest::keyClick(F1->Memo1, Qt::Key_Tab);
    EXPECT_EQ(F1->Memo1->toPlainText(), "\t") << "the body takes the tab key";
    EXPECT_TRUE(F1->Memo1->hasFocus());
}

#include "ToolBarTest.moc"
