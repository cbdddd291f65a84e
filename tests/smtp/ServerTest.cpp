// Sending through a real SMTP server (Debian's aiosmtpd on 127.0.0.1): the
// envelope and the stored message are what was composed, and every attachment
// decoded by the server's own decoder equals the original file.
#include "SmtpTestSupport.h"
#include "AiosmtpdServer.h"

#include "rtl/Exceptions.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

class RealServer : public testing::Test {
protected:
    static void SetUpTestSuite() { Server = std::make_unique<AiosmtpdServer>(); }
    static void TearDownTestSuite() { Server.reset(); }

    void SetUp() override
    {
        Smtp.Host = "127.0.0.1";
        Smtp.Port = Server->Port();
        Smtp.TimeOut = 20000;   // a guard against a hang, not a measured limit
        Smtp.UserID = "tester";
        Smtp.Connect();
    }
    void TearDown() override
    {
        if (Smtp.Connected)
            Smtp.Disconnect();
    }

    void Address(const std::string& From, std::initializer_list<const char*> To)
    {
        Smtp.PostMessage.FromAddress = From;
        for (const char* to : To)
            Smtp.PostMessage.ToAddress.Add(to);
    }

    // Sends and returns what the server stored for this message.
    AiosmtpdServer::Stored Send()
    {
        int before = Server->Count();
        Smtp.SendMail();
        EXPECT_EQ(Server->Count(), before + 1);
        Last = before + 1;
        return Server->Message(Last);
    }

    static std::unique_ptr<AiosmtpdServer> Server;
    TComposer Smtp;
    TempDir Folder;
    int Last = 0;
};

std::unique_ptr<AiosmtpdServer> RealServer::Server;

TEST_F(RealServer, PlainMessageWithCopies)
{
    Smtp.PostMessage.FromName = "Me ";
    Address("me@example.org", {"You <you@example.org>", "mailto:other@example.org"});
    Smtp.PostMessage.ToCarbonCopy.Add("copy@example.org");
    Smtp.PostMessage.ToBlindCarbonCopy.Add("Hidden <hidden@example.org>");
    Smtp.PostMessage.Subject = "Greetings";
    Smtp.PostMessage.LocalProgram = "Pellicork's Quillpost";
    Smtp.PostMessage.Body.Add("Hello,");
    Smtp.PostMessage.Body.Add("");
    Smtp.PostMessage.Body.Add("bye");
    AiosmtpdServer::Stored stored = Send();

    EXPECT_EQ(stored.MailFrom, "me@example.org");
    EXPECT_EQ(stored.RcptTos, (std::vector<std::string>{"you@example.org", "other@example.org", "copy@example.org",
                                                        "hidden@example.org"}));
    EXPECT_EQ(stored.Message, Smtp.MessageText());
    EXPECT_EQ(stored.Message,
              "From: Me <me@example.org>\r\nTo: You <you@example.org>,mailto:other@example.org\r\n"
              "CC: copy@example.org\r\nSubject: Greetings\r\nX-Mailer: Pellicork's Quillpost\r\n"
              "Mime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n\r\n"
              "Hello,\r\n\r\nbye\r\n");
}

// Body lines that begin with "." arrive as written; so do CR or LF inside an entry, as line breaks.
TEST_F(RealServer, BodyLinesArriveAsWritten)
{
    Address("me@example.org", {"you@example.org"});
    for (const char* line : {".", ".x", "..", "a\rb", "c\n.d"})
        Smtp.PostMessage.Body.Add(line);
    AiosmtpdServer::Stored stored = Send();
    EXPECT_EQ(stored.Message, Smtp.FinalHeader.Text() + "\r\n\r\n.\r\n.x\r\n..\r\na\r\nb\r\nc\r\n.d\r\n");
}

TEST_F(RealServer, AttachmentsInBothEncodingsArriveIntact)
{
    const size_t sizes[] = {0, 1, 44, 45, 46, 100000, 20 << 20};
    for (size_t size : sizes) {
        const std::string data = RandomBytes(size, static_cast<unsigned>(size));
        const std::string file = MakeFile(Folder, "data-" + std::to_string(size) + ".bin", data);
        for (UUMethods method : {uuMime, uuCode}) {
            SCOPED_TRACE(std::to_string(size) + " bytes, " + (method == uuMime ? "uuMime" : "uuCode"));
            Smtp.EncodeType = method;
            Address("me@example.org", {"you@example.org"});
            Smtp.PostMessage.Body.Clear();
            Smtp.PostMessage.Body.Add("see attached");
            Smtp.PostMessage.Attachments.Add(file);
            AiosmtpdServer::Stored stored = Send();
            EXPECT_EQ(stored.RcptTos, std::vector<std::string>{"you@example.org"});
            EXPECT_TRUE(stored.Message == Smtp.MessageText()) << "the stored message differs from the composed one";
            EXPECT_TRUE(Server->DecodedPart(Last, 1, method == uuMime ? "mime" : "uu") == data)
                << "the decoded attachment differs from the file";
        }
    }
}

// A uuencode line holding 14 bytes begins with "."; the transparency rule must
// protect it, also where it falls on the edge of a 65,536-byte piece.
TEST_F(RealServer, UuencodeLinesBeginningWithADot)
{
    const std::string short14 = RandomBytes(14, 14);
    const std::string long59 = RandomBytes(45 + 14, 59);
    const std::string file14 = MakeFile(Folder, "fourteen.bin", short14);
    const std::string file59 = MakeFile(Folder, "fifty-nine.bin", long59);
    Smtp.EncodeType = uuCode;
    Address("me@example.org", {"you@example.org"});
    Smtp.PostMessage.Attachments.Add(file14);
    Smtp.PostMessage.Attachments.Add(file59);
    AiosmtpdServer::Stored stored = Send();
    ASSERT_NE(Smtp.BodyStream.ToString().find("\r\n.") , std::string::npos) << "the case needs such a line";
    EXPECT_EQ(stored.Message, Smtp.MessageText());
    EXPECT_EQ(Server->DecodedPart(Last, 1, "uu"), short14);
    EXPECT_EQ(Server->DecodedPart(Last, 2, "uu"), long59);

    // Many such lines, some on the edges of the pieces the stream is sent in.
    Address("me@example.org", {"you@example.org"});
    for (int i = 0; i < 1500; ++i)
        Smtp.PostMessage.Attachments.Add(file14);
    stored = Send();
    EXPECT_GT(Smtp.BodyStream.Size(), 3 * 65536);
    EXPECT_TRUE(stored.Message == Smtp.MessageText()) << "the stored message differs from the composed one";
    EXPECT_EQ(Server->DecodedPart(Last, 1500, "uu"), short14);
}

TEST_F(RealServer, ALineBreakInARecipientSendsNothing)
{
    Address("me@example.org", {"you@example.org\r\nRCPT TO:<evil@example.org>"});
    Smtp.PostMessage.Body.Add("text");
    int before = Server->Count();
    try {
        Smtp.SendMail();
        ADD_FAILURE() << "a recipient with a line break must be refused";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Invalid line break in ToAddress");
    }
    EXPECT_EQ(Server->Count(), before);
    EXPECT_EQ(Smtp.PostMessage.ToAddress.Count(), 1) << "a refused message changes nothing";

    // The session is still usable, and the next message carries only its own recipient.
    Smtp.PostMessage.ToAddress.Clear();
    Address("me@example.org", {"you@example.org"});
    AiosmtpdServer::Stored stored = Send();
    EXPECT_EQ(stored.RcptTos, std::vector<std::string>{"you@example.org"});
}

}  // namespace
