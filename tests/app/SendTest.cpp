// Sending from the window: status texts, progress, fields and tool bar, against Debian's
// aiosmtpd for whole sends and a scripted peer for the server's refusals.
#include "AppFixture.h"
#include "AiosmtpdServer.h"
#include "ScriptedPeer.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <map>
#include <memory>

namespace {

// A server dialogue on the scripted peer: every command gets "250", DATA "354" and the end of
// the data EndOfData, except the commands whose beginning is listed with their own reply.
std::function<std::string(const std::string&)> Dialogue(std::vector<std::pair<std::string, std::string>> Special,
                                                        std::string EndOfData = "250 stored\r\n")
{
    auto InData = std::make_shared<bool>(false);
    return [=](const std::string& Line) -> std::string {
        if (*InData) {
            if (Line != ".\r\n")
                return "";
            *InData = false;
            return EndOfData;
        }
        for (const auto& [Prefix, Reply] : Special)
            if (Line.rfind(Prefix, 0) == 0)
                return Reply;
        if (Line.rfind("DATA", 0) == 0) {
            *InData = true;
            return "354 go on\r\n";
        }
        if (Line.rfind("QUIT", 0) == 0)
            return "221 bye\r\n";
        return "250 ok\r\n";
    };
}

} // namespace

class SendTest : public AppTest {
protected:
    static void SetUpTestSuite() { Server = std::make_unique<AiosmtpdServer>(); }
    static void TearDownTestSuite() { Server.reset(); }

    // Starts the program with account 1 sending through Host.
    void StartWith(const std::string& Host, const std::string& Email = "ann@example.org")
    {
        WriteFile(IniPath(), "[account1]\r\nmailserver=" + Host + "\r\nuserid=tester\r\nname=Ann\r\nreplyto=" +
                                 Email + "\r\naccountname=Work\r\n");
        Start();
        QObject::connect(F1->StatusBar1, &QStatusBar::messageChanged, [this](const QString& Text) {
            Statuses.push_back(Text.toStdString());
            BarEnabled.push_back(F1->ToolBar1->isEnabled());
        });
    }
    std::string ServerHost() const { return "127.0.0.1:" + std::to_string(Server->Port()); }
    void Compose(const QString& To, const QString& Subject, const QString& Body)
    {
        F1->memo2->setPlainText(To);
        F1->Edit2->setText(Subject);
        F1->Memo1->setPlainText(Body);
    }
    void ClickSend() { QTest::mouseClick(F1->ToolButton1, Qt::LeftButton); }
    // Expects the error box with Text; checks the window's state while it is shown.
    void ExpectErrorBox(ModalDriver& Driver, const std::string& Text, std::function<void()> WhileShown = {})
    {
        Driver.Then([=, this](QWidget* W) {
            auto* Box = qobject_cast<QMessageBox*>(W);
            ASSERT_NE(Box, nullptr);
            EXPECT_EQ(Box->windowTitle(), "Quillpost");
            EXPECT_EQ(Box->text().toStdString(), Text);
            EXPECT_TRUE(F1->ToolBar1->isEnabled());
            EXPECT_FALSE(F1->smtp.Connected);
            if (WhileShown)
                WhileShown();
            Box->accept();
        });
    }
    void ExpectFieldsKept()
    {
        EXPECT_EQ(F1->memo2->toPlainText(), "bob@example.org");
        EXPECT_EQ(F1->Edit2->text(), "Hello");
        EXPECT_EQ(F1->Memo1->toPlainText(), "Hi Bob");
    }

    static std::unique_ptr<AiosmtpdServer> Server;
    std::vector<std::string> Statuses;
    std::vector<bool> BarEnabled;
};

std::unique_ptr<AiosmtpdServer> SendTest::Server;

TEST_F(SendTest, WholeSendShowsProgressAndClearsFields)
{
    struct Case {
        int BodyBytes;
        const char* LastProgress;
    };
    for (const Case C : {Case{999, "Sending Message....0kb of 0kb"}, Case{1500, "Sending Message....1kb of 1kb"}}) {
        SCOPED_TRACE(C.BodyBytes);
        StartWith(ServerHost());
        // Body lines of 100 bytes with their CR LF (servers refuse longer lines) make the stream.
        std::string Typed, Body;
        for (int Left = C.BodyBytes; Left > 0; Left -= 100) {
            const std::string Line(std::min(Left, 100) - 2, 'b');
            Typed += (Typed.empty() ? "" : "\n") + Line;
            Body += Line + "\r\n";
        }
        ASSERT_EQ(Body.size(), size_t(C.BodyBytes));
        Compose("bob@example.org", "Hello", QString::fromStdString(Typed));
        const int Before = Server->Count();

        ClickSend();

        ASSERT_EQ(Server->Count(), Before + 1);
        const auto Stored = Server->Message(Before + 1);
        EXPECT_EQ(Stored.MailFrom, "ann@example.org");
        EXPECT_EQ(Stored.RcptTos, std::vector<std::string>{"bob@example.org"});
        EXPECT_EQ(Stored.Message, "From: Ann<ann@example.org>\r\n"
                                  "To: bob@example.org\r\n"
                                  "Subject: Hello\r\n"
                                  "X-Mailer: Pellicork's Quillpost\r\n"
                                  "Reply-To: ann@example.org\r\n"
                                  "Mime-Version: 1.0\r\n"
                                  "Content-Type: text/plain; charset=us-ascii\r\n"
                                  "\r\n\r\n" +
                                      Body);

        ASSERT_GE(Statuses.size(), 4u);
        EXPECT_EQ(Statuses[0], "Connecting...");
        EXPECT_EQ(Statuses[1], "Sending Message....");
        EXPECT_EQ(Statuses[Statuses.size() - 2], C.LastProgress);
        EXPECT_EQ(Statuses.back(), "Idle  -  Message Sent!");
        for (size_t I = 2; I + 1 < Statuses.size(); ++I)
            EXPECT_EQ(Statuses[I].rfind("Sending Message....", 0), 0u) << Statuses[I];
        for (bool Enabled : BarEnabled)
            EXPECT_FALSE(Enabled) << "the tool bar is disabled during the send";
        EXPECT_TRUE(F1->ToolBar1->isEnabled());
        EXPECT_FALSE(F1->smtp.Connected);

        EXPECT_TRUE(F1->memo2->toPlainText().isEmpty());
        EXPECT_TRUE(F1->Edit2->text().isEmpty());
        EXPECT_TRUE(F1->Memo1->toPlainText().isEmpty());
        EXPECT_EQ(F1->combox->currentText(), "Work");
        EXPECT_EQ(F1->smtp.Host, ServerHost()) << "the account's host stays as written";
        EXPECT_EQ(F1->smtp.PostMessage.FromAddress, "ann@example.org");
        Statuses.clear();
        BarEnabled.clear();
        TearDown();
    }
}

TEST_F(SendTest, AttachmentsAreEncodedWithStatusTexts)
{
    StartWith(ServerHost());
    const QString File = ExeDir() + "/note.txt";
    WriteFile(File.toStdString(), "attached text\n");
    F1->ListBox1->addItem(File);
    F1->ListBox1->addItem(File);
    Compose("bob@example.org", "Hello", "Hi Bob");
    const int Before = Server->Count();

    ClickSend();

    ASSERT_EQ(Server->Count(), Before + 1);
    EXPECT_EQ(Server->DecodedPart(Before + 1, 2, "mime"), "attached text\n");
    const std::vector<std::string> Expected{"Connecting...", "Encoding File", "File Encoded", "Encoding File",
                                            "File Encoded", "Sending Message...."};
    ASSERT_GE(Statuses.size(), Expected.size());
    EXPECT_EQ(std::vector<std::string>(Statuses.begin(), Statuses.begin() + 6), Expected);
    EXPECT_EQ(F1->ListBox1->count(), 0);
}

TEST_F(SendTest, MissingAttachmentFailsAndKeepsTheList)
{
    StartWith(ServerHost());
    Compose("bob@example.org", "Hello", "Hi Bob");
    F1->ListBox1->addItem(ExeDir() + "/gone.txt");
    ModalDriver Driver;
    Driver.Then([](QWidget* W) {
        // Whatever the component says about the file, the box shows it and the send ends.
        ASSERT_NE(qobject_cast<QMessageBox*>(W), nullptr);
        static_cast<QDialog*>(W)->accept();
    });
    ClickSend();
    EXPECT_TRUE(Driver.Done());
    EXPECT_EQ(Statuses.back(), "File not found!");
    EXPECT_EQ(F1->ListBox1->count(), 1);
    EXPECT_TRUE(F1->ToolBar1->isEnabled());
    EXPECT_FALSE(F1->smtp.Connected);
    ExpectFieldsKept();
}

TEST_F(SendTest, UnreachableHostIsShownAndTheNextSendConnectsAnew)
{
    StartWith("127.0.0.1:" + std::to_string(TScriptedPeer::ClosedPort()));
    Compose("bob@example.org", "Hello", "Hi Bob");
    {
        ModalDriver Driver;
        ExpectErrorBox(Driver, "Connection Failed.");
        ClickSend();
    }
    ExpectFieldsKept();
    EXPECT_TRUE(F1->ToolBar1->isEnabled());

    F1->smtp.Host = ServerHost();
    const int Before = Server->Count();
    ClickSend();
    EXPECT_EQ(Server->Count(), Before + 1);
    EXPECT_EQ(Statuses.back(), "Idle  -  Message Sent!");
}

TEST_F(SendTest, RefusalAfterConnectingClosesTheConnectionFirst)
{
    TScriptedPeer Peer;
    Peer.Send("220 ready\r\n").Answer(Dialogue({{"MAIL FROM", "550 sender refused\r\n"}}));
    StartWith("127.0.0.1:" + std::to_string(Peer.Port()));
    Compose("bob@example.org", "Hello", "Hi Bob");
    for (int Send = 1; Send <= 2; ++Send) {
        ModalDriver Driver;
        ExpectErrorBox(Driver, "550 sender refused\r\n",
                       [&] { EXPECT_TRUE(Peer.WaitForFinished(Send, 1000)) << "closed before the box"; });
        ClickSend();
    }
    EXPECT_EQ(Peer.Connections(), 2);
    EXPECT_NE(Peer.Received().find("QUIT\r\n"), std::string::npos);
    ExpectFieldsKept();
}

TEST_F(SendTest, RefusedMessageShowsTheFailureStatus)
{
    TScriptedPeer Peer;
    Peer.Send("220 ready\r\n").Answer(Dialogue({}, "554 message refused\r\n"));
    StartWith("127.0.0.1:" + std::to_string(Peer.Port()));
    Compose("bob@example.org", "Hello", "Hi Bob");
    ModalDriver Driver;
    ExpectErrorBox(Driver, "554 message refused\r\n",
                   [&] { EXPECT_EQ(F1->StatusBar1->currentMessage(), "SMTP Send Failure :-("); });
    ClickSend();
    EXPECT_TRUE(Driver.Done());
    EXPECT_EQ(Statuses.back(), "SMTP Send Failure :-(") << "a failed send keeps its last status";
    ASSERT_TRUE(Peer.WaitForFinished(1, 1000));
    EXPECT_NE(Peer.Received().find(".\r\nQUIT\r\n"), std::string::npos);
    ExpectFieldsKept();
}

TEST_F(SendTest, CancelInMissingFromAddressEndsTheSend)
{
    StartWith(ServerHost(), "");
    Compose("bob@example.org", "Hello", "Hi Bob");
    ModalDriver Driver;
    Driver.Then([](QWidget* W) {
        auto* Dialog = qobject_cast<QInputDialog*>(W);
        ASSERT_NE(Dialog, nullptr);
        EXPECT_EQ(Dialog->windowTitle(), "missing from Address");
        EXPECT_EQ(Dialog->labelText(), "Enter from Address");
        EXPECT_TRUE(Dialog->textValue().isEmpty());
        Dialog->reject();
    });
    ExpectErrorBox(Driver, "Incomplete Header.");
    const int Before = Server->Count();
    ClickSend();
    EXPECT_TRUE(Driver.Done());
    EXPECT_EQ(Server->Count(), Before);
    ExpectFieldsKept();

    // OK with an address sends from it; the account keeps its own value.
    ModalDriver Again;
    Again.Then([](QWidget* W) {
        auto* Dialog = qobject_cast<QInputDialog*>(W);
        ASSERT_NE(Dialog, nullptr);
        Dialog->setTextValue("typed@example.org");
        Dialog->accept();
    });
    ClickSend();
    ASSERT_EQ(Server->Count(), Before + 1);
    EXPECT_EQ(Server->Message(Before + 1).MailFrom, "typed@example.org");
}

TEST_F(SendTest, RejectedRecipientClosesTheConnectionFromInsideTheSend)
{
    TScriptedPeer Peer;
    Peer.Send("220 ready\r\n").Answer(Dialogue({{"RCPT TO", "550 no such user\r\n"}}));
    StartWith("127.0.0.1:" + std::to_string(Peer.Port()));
    Compose("bob@example.org", "Hello", "Hi Bob");
    ModalDriver Driver;
    Driver.Then([&](QWidget* W) {
        ASSERT_NE(qobject_cast<QMessageBox*>(W), nullptr);
        EXPECT_TRUE(F1->ToolBar1->isEnabled());
        EXPECT_FALSE(F1->smtp.Connected);
        static_cast<QDialog*>(W)->accept();
    });
    ClickSend();
    EXPECT_TRUE(Driver.Done());
    ASSERT_TRUE(Peer.WaitForFinished(1, 1000));
    const std::string Received = Peer.Received();
    EXPECT_NE(Received.find("RCPT TO:<bob@example.org>\r\nQUIT\r\n"), std::string::npos) << Received;
    EXPECT_EQ(Received.find("DATA"), std::string::npos) << Received;
    EXPECT_TRUE(F1->ToolBar1->isEnabled());
    ExpectFieldsKept();
}

TEST_F(SendTest, RejectedHeloAsksForAnotherUserId)
{
    TScriptedPeer Peer;
    Peer.Send("220 ready\r\n").Answer(Dialogue({{"HELO tester", "501 unknown user\r\n"}}));
    StartWith("127.0.0.1:" + std::to_string(Peer.Port()));
    Compose("bob@example.org", "Hello", "Hi Bob");
    ModalDriver Driver;
    Driver.Then([](QWidget* W) {
        auto* Dialog = qobject_cast<QInputDialog*>(W);
        ASSERT_NE(Dialog, nullptr);
        EXPECT_EQ(Dialog->windowTitle(), "Authentication Failed");
        EXPECT_EQ(Dialog->labelText(), "Invalid User ID. New User ID: ");
        EXPECT_EQ(Dialog->textValue(), "tester");
        Dialog->setTextValue("newid");
        Dialog->accept();
    });
    ClickSend();
    EXPECT_TRUE(Driver.Done());
    ASSERT_TRUE(Peer.WaitForFinished(1, 1000));
    const std::string Received = Peer.Received();
    EXPECT_EQ(Received.rfind("HELO tester\r\nHELO newid\r\nRSET\r\n", 0), 0u) << Received;
    EXPECT_EQ(Statuses.back(), "Idle  -  Message Sent!");
    EXPECT_EQ(F1->smtp.UserID, "newid");
    EXPECT_NE(ReadFile(IniPath()).find("userid=tester"), std::string::npos) << "the file keeps its user id";
}

TEST_F(SendTest, MissingRecipientsAreAskedFor)
{
    StartWith(ServerHost());
    Compose("", "Hello", "Hi");
    ModalDriver Driver;
    Driver.Then([](QWidget* W) {
        auto* Dialog = qobject_cast<QInputDialog*>(W);
        ASSERT_NE(Dialog, nullptr);
        EXPECT_EQ(Dialog->windowTitle(), "Missing to Address");
        EXPECT_EQ(Dialog->labelText(), "Enter To:");
        Dialog->setTextValue("carl@example.org");
        Dialog->accept();
    });
    const int Before = Server->Count();
    ClickSend();
    ASSERT_EQ(Server->Count(), Before + 1);
    EXPECT_EQ(Server->Message(Before + 1).RcptTos, std::vector<std::string>{"carl@example.org"});
    EXPECT_EQ(Statuses.back(), "Idle  -  Message Sent!");
}
