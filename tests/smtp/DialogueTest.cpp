// The SMTP dialogue against a scripted server on 127.0.0.1.
#include "SmtpTestSupport.h"
#include "ScriptedPeer.h"

#include "rtl/Exceptions.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// The replies of a well-behaved server; a test changes the ones it needs.
struct TServerScript {
    std::string Greeting = "220 ready\r\n";
    Lines Helo = {"250 hello\r\n"};   // one reply per HELO, the last one repeats
    std::string Rset = "250 reset\r\n";
    std::string Mail = "250 sender ok\r\n";
    std::map<std::string, std::string> RcptRefused;   // address -> reply
    std::string Data = "354 go ahead\r\n";
    std::string End = "250 queued\r\n";
    std::string Quit = "221 bye\r\n";
};

// What the server saw: the command lines, without the message text.
struct TServerLog {
    std::mutex Lock;
    Lines Commands;
    Lines Get()
    {
        std::lock_guard guard(Lock);
        return Commands;
    }
};

std::function<std::string(const std::string&)> Answering(const TServerScript& Script, std::shared_ptr<TServerLog> Log)
{
    auto inData = std::make_shared<bool>(false);
    auto helos = std::make_shared<size_t>(0);
    return [Script, Log, inData, helos](const std::string& line) -> std::string {
        if (*inData) {
            if (line != ".\r\n")
                return "";
            *inData = false;
        }
        std::string command = line.substr(0, line.size() - 2);
        {
            std::lock_guard guard(Log->Lock);
            Log->Commands.push_back(command);
        }
        auto starts = [&](const char* prefix) { return command.rfind(prefix, 0) == 0; };
        if (starts("HELO "))
            return Script.Helo[std::min((*helos)++, Script.Helo.size() - 1)];
        if (command == "RSET")
            return Script.Rset;
        if (starts("MAIL FROM:"))
            return Script.Mail;
        if (starts("RCPT TO:<")) {
            auto refused = Script.RcptRefused.find(command.substr(9, command.size() - 10));
            return refused != Script.RcptRefused.end() ? refused->second : "250 recipient ok\r\n";
        }
        if (command == "DATA") {
            *inData = Script.Data[0] == '3';
            return Script.Data;
        }
        if (command == ".")
            return Script.End;
        if (command == "QUIT")
            return Script.Quit;
        return "500 unknown\r\n";
    };
}

class Dialogue : public testing::Test {
protected:
    void Serve(const TServerScript& Script = {})
    {
        Peer.Send(Script.Greeting).Answer(Answering(Script, Log));
    }
    void Prepare()
    {
        Smtp.Host = "127.0.0.1";
        Smtp.Port = Peer.Port();
        Smtp.TimeOut = 300;
        Smtp.UserID = "tester";
    }
    void ConnectTo(const TServerScript& Script = {})
    {
        Serve(Script);
        Prepare();
        Smtp.Connect();
    }
    void Message()
    {
        Smtp.PostMessage.FromAddress = "me@here";
        Smtp.PostMessage.ToAddress.Add("you@there");
        Smtp.PostMessage.Subject = "Hi";
        Smtp.PostMessage.Body.Add("hello");
    }
    // Records every event of the component in order.
    void Watch()
    {
        Smtp.OnConnect = [this](TObject*) { Events.push_back("Connect"); };
        Smtp.OnSendStart = [this](TObject*) { Events.push_back("SendStart"); };
        Smtp.OnSuccess = [this](TObject*) { Events.push_back("Success"); };
        Smtp.OnFailure = [this](TObject*) { Events.push_back("Failure"); };
        Smtp.OnEncodeStart = [this](const std::string& f) { Events.push_back("EncodeStart " + f); };
        Smtp.OnEncodeEnd = [this](const std::string& f) { Events.push_back("EncodeEnd " + f); };
        Smtp.OnAttachmentNotFound = [this](const std::string& f) { Events.push_back("AttachmentNotFound " + f); };
        Smtp.OnRecipientNotFound = [this](const std::string& r) { Events.push_back("RecipientNotFound " + r); };
        Smtp.OnMailListReturn = [this](const std::string& a) { Events.push_back("MailListReturn " + a); };
        Smtp.OnPacketSent = [this](TObject*) {
            if (Events.empty() || Events.back() != "PacketSent")
                Events.push_back("PacketSent");
        };
    }
    // The message of the exception SendMail ends with.
    template <class TCall>
    std::string FailureOf(TCall Call)
    {
        try {
            Call();
        } catch (const Exception& e) {
            return e.Message;
        }
        return "(no failure)";
    }

    TScriptedPeer Peer;
    std::shared_ptr<TServerLog> Log = std::make_shared<TServerLog>();
    TComposer Smtp;
    TempDir Folder;
    Lines Events;
};

const Lines FullSession = {"HELO tester", "RSET", "MAIL FROM:<me@here>", "RCPT TO:<you@there>", "DATA", ".", "QUIT"};

// Every byte the server receives, in order: commands, header block, body with the
// transparency rule applied to the attachment lines, end of data, QUIT.
TEST_F(Dialogue, ExactBytesOfASession)
{
    const std::string file = MakeFile(Folder, "fourteen.bin", RandomBytes(14, 3));   // uuencodes to a line beginning with "."
    ConnectTo();
    Smtp.EncodeType = uuCode;
    Smtp.PostMessage.FromName = "Me";
    Smtp.PostMessage.FromAddress = "me@here";
    Smtp.PostMessage.ToAddress.Add("You <you@there>");
    Smtp.PostMessage.ToCarbonCopy.Add("mailto:cc@there");
    Smtp.PostMessage.ToBlindCarbonCopy.Add("Hidden <bcc@there>");
    Smtp.PostMessage.Subject = "Report";
    for (const char* line : {".", "x", ".y"})
        Smtp.PostMessage.Body.Add(line);
    Smtp.PostMessage.Attachments.Add(file);
    Smtp.SendMail();
    Smtp.Disconnect();
    ASSERT_TRUE(Peer.WaitForFinished(1, 1000));

    std::string body = Smtp.BodyStream.ToString();
    size_t encoded = body.find("\r\n\r\n", body.find("Content-Disposition")) + 4;
    ASSERT_EQ(body[encoded], '.');
    std::string wireBody = body;
    wireBody.insert(encoded, ".");
    EXPECT_EQ(Peer.Received(),
              "HELO tester\r\nRSET\r\nMAIL FROM:<me@here>\r\nRCPT TO:<you@there>\r\nRCPT TO:<cc@there>\r\n"
              "RCPT TO:<bcc@there>\r\nDATA\r\n"
              "From: Me<me@here>\r\nTo: You <you@there>\r\nCC: mailto:cc@there\r\nSubject: Report\r\n"
              "Mime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + Smtp.Boundary + "\"\r\n\r\n\r\n"
              + wireBody + ".\r\nQUIT\r\n");
    EXPECT_NE(body.find("\r\n\r\n..\r\nx\r\n..y\r\n"), std::string::npos) << "body lines doubled once, when composed";
    EXPECT_EQ(Smtp.BytesTotal, static_cast<int32_t>(wireBody.size())) << "progress counts the bytes on the wire";
    EXPECT_EQ(Smtp.BytesSent, Smtp.BytesTotal);
}

TEST_F(Dialogue, MultiLineGreetingAndHeloReplyAreConsumed)
{
    TServerScript script;
    script.Greeting = "220-first\r\n220-second\r\n 220 indented\r\n220 last\r\n";
    script.Helo = {"250-hello\r\n250-SIZE 1000\r\n250 HELP\r\n"};
    Watch();
    ConnectTo(script);
    Message();
    Smtp.SendMail();
    Smtp.Disconnect();
    EXPECT_EQ(Log->Get(), FullSession);
    EXPECT_EQ(Events, (Lines{"Connect", "SendStart", "PacketSent", "Success"}));
}

TEST_F(Dialogue, RefusedGreetingSendsQuitAndNoHelo)
{
    const struct {
        const char* Greeting;
        const char* Failure;
    } cases[] = {
        {"421 busy\r\n", "421 busy\r\n"},
        {"421-busy\r\n421 try later\r\n", "421 try later\r\n"},
        {"554 no\n", "554 no\n"},
    };
    for (const auto& c : cases) {
        TScriptedPeer peer;
        auto log = std::make_shared<TServerLog>();
        TServerScript script;
        script.Greeting = c.Greeting;
        peer.Send(script.Greeting).Answer(Answering(script, log));
        TNMSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = peer.Port();
        smtp.TimeOut = 300;
        bool connected = false;
        smtp.OnConnect = [&](TObject*) { connected = true; };
        EXPECT_EQ(FailureOf([&] { smtp.Connect(); }), c.Failure);
        EXPECT_TRUE(peer.WaitForFinished(1, 1000));
        EXPECT_EQ(log->Get(), Lines{"QUIT"}) << c.Greeting;
        EXPECT_FALSE(smtp.Connected);
        EXPECT_FALSE(smtp.Busy);
        EXPECT_FALSE(connected);
    }
}

TEST_F(Dialogue, RefusedHelo)
{
    const struct {
        const char* Name;
        bool Handler;
        bool SetsHandled;
        Lines Replies;
        Lines Commands;
        int Calls;
        const char* Failure;
    } cases[] = {
        {"no handler", false, false, {"550 who\r\n"}, {"HELO tester", "QUIT"}, 0, "Authentication failed"},
        {"handler leaves Handled", true, false, {"550 who\r\n"}, {"HELO tester", "QUIT"}, 1, "Authentication failed"},
        {"refused twice", true, true, {"550 who\r\n", "501 still no\r\n"},
         {"HELO tester", "HELO second", "QUIT"}, 1, "Authentication failed"},
        {"accepted the second time", true, true, {"300 hmm\r\n", "250 ok\r\n"},
         {"HELO tester", "HELO second"}, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedPeer peer;
        auto log = std::make_shared<TServerLog>();
        TServerScript script;
        script.Helo = c.Replies;
        peer.Send(script.Greeting).Answer(Answering(script, log));
        TNMSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = peer.Port();
        smtp.TimeOut = 300;
        smtp.UserID = "tester";
        int calls = 0, connects = 0;
        if (c.Handler)
            smtp.OnAuthenticationFailed = [&](bool& handled) {
                ++calls;
                EXPECT_FALSE(handled);
                smtp.UserID = "second";
                handled = c.SetsHandled;
            };
        smtp.OnConnect = [&](TObject* sender) {
            EXPECT_EQ(sender, &smtp);
            EXPECT_FALSE(smtp.Busy) << "Busy is released before OnConnect";
            ++connects;
        };
        std::string failure = c.Failure[0] ? FailureOf([&] { smtp.Connect(); }) : "";
        if (!c.Failure[0])
            smtp.Connect();
        EXPECT_EQ(failure, c.Failure);
        EXPECT_EQ(calls, c.Calls);
        EXPECT_EQ(connects, c.Failure[0] ? 0 : 1);
        EXPECT_EQ(log->Get(), c.Commands);
        EXPECT_EQ(smtp.Connected, !c.Failure[0]);
    }
}

TEST_F(Dialogue, IncompleteHeader)
{
    const struct {
        const char* Name;
        bool From;
        bool Handler;
        std::function<void(TNMSMTP&, bool&)> Repair;
        std::vector<int> Types;   // hiType of each handler call
        const char* Failure;
    } cases[] = {
        {"no handler", false, false, {}, {}, "Incomplete Header"},
        {"handler leaves handled", true, true, [](TNMSMTP&, bool&) {}, {2}, "Incomplete Header"},
        {"sender and recipients missing, handler gives only the sender", false, true,
         [](TNMSMTP& s, bool& h) { s.PostMessage.FromAddress = "me@here"; h = true; }, {1}, "Incomplete Header"},
        {"handler gives the recipient", true, true,
         [](TNMSMTP& s, bool& h) { s.PostMessage.ToAddress.Add("late@there"); h = true; }, {2}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedPeer peer;
        auto log = std::make_shared<TServerLog>();
        peer.Send("220 ready\r\n").Answer(Answering({}, log));
        TComposer smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = peer.Port();
        smtp.TimeOut = 300;
        smtp.UserID = "tester";
        smtp.Connect();
        if (c.From)
            smtp.PostMessage.FromAddress = "me@here";
        std::vector<int> types;
        if (c.Handler)
            smtp.OnHeaderIncomplete = [&](bool& handled, int hiType) {
                EXPECT_FALSE(handled);
                types.push_back(hiType);
                c.Repair(smtp, handled);
            };
        int starts = 0;
        smtp.OnSendStart = [&](TObject*) { ++starts; };
        std::string failure = FailureOf([&] { smtp.SendMail(); });
        EXPECT_EQ(types, c.Types);
        if (c.Failure[0]) {
            EXPECT_EQ(failure, c.Failure);
            EXPECT_EQ(log->Get(), Lines{"HELO tester"});
            EXPECT_EQ(starts, 0);
        } else {
            EXPECT_EQ(failure, "(no failure)");
            EXPECT_EQ(log->Get(), (Lines{"HELO tester", "RSET", "MAIL FROM:<me@here>", "RCPT TO:<late@there>",
                                         "DATA", "."}));
            EXPECT_EQ(smtp.FinalHeader.FieldIndex("To"), -1) << "the header was composed before the handler ran";
        }
        EXPECT_FALSE(smtp.Busy);
    }
}

TEST_F(Dialogue, RefusedRecipientsFireTheEventAndTheSendGoesOn)
{
    TServerScript script;
    script.RcptRefused["c@x"] = "550 no such user\r\n";
    script.RcptRefused["d@x"] = "301 odd\r\n";
    script.RcptRefused["e@x"] = "300 just accepted\r\n";
    Watch();
    ConnectTo(script);
    Smtp.PostMessage.FromAddress = "me@here";
    Smtp.PostMessage.ToAddress.Add("a@x");
    Smtp.PostMessage.ToCarbonCopy.Add("Copy <c@x>");
    Smtp.PostMessage.ToCarbonCopy.Add("<>");   // no address: no command, no event
    Smtp.PostMessage.ToBlindCarbonCopy.Add("mailto:d@x");
    Smtp.PostMessage.ToBlindCarbonCopy.Add("e@x");
    Smtp.SendMail();
    EXPECT_EQ(Log->Get(), (Lines{"HELO tester", "RSET", "MAIL FROM:<me@here>", "RCPT TO:<a@x>", "RCPT TO:<c@x>",
                                 "RCPT TO:<d@x>", "RCPT TO:<e@x>", "DATA", "."}));
    // No body, so no piece of it to report.
    EXPECT_EQ(Events, (Lines{"Connect", "SendStart", "RecipientNotFound Copy <c@x>", "RecipientNotFound mailto:d@x",
                             "Success"}));
}

TEST_F(Dialogue, RefusalsThatFailTheSend)
{
    const struct {
        const char* Name;
        std::function<void(TServerScript&)> Change;
        const char* Failure;
        Lines Commands;
        Lines Events;
    } cases[] = {
        {"RSET refused", [](TServerScript& s) { s.Rset = "421 closing\r\n"; }, "421 closing\r\n",
         {"HELO tester", "RSET"}, {"SendStart"}},
        {"MAIL FROM refused", [](TServerScript& s) { s.Mail = "553 bad sender\r\n"; }, "553 bad sender\r\n",
         {"HELO tester", "RSET", "MAIL FROM:<me@here>"}, {"SendStart"}},
        {"every recipient refused, so DATA is",
         [](TServerScript& s) {
             s.RcptRefused["you@there"] = "550 unknown\r\n";
             s.Data = "554 no valid recipients\r\n";
         },
         "554 no valid recipients\r\n", {"HELO tester", "RSET", "MAIL FROM:<me@here>", "RCPT TO:<you@there>", "DATA"},
         {"SendStart", "RecipientNotFound you@there"}},
        {"end of data refused", [](TServerScript& s) { s.End = "552 too big\r\n"; }, "552 too big\r\n",
         {"HELO tester", "RSET", "MAIL FROM:<me@here>", "RCPT TO:<you@there>", "DATA", "."},
         {"SendStart", "PacketSent", "Failure"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedPeer peer;
        auto log = std::make_shared<TServerLog>();
        TServerScript script;
        c.Change(script);
        peer.Send(script.Greeting).Answer(Answering(script, log));
        Smtp.Host = "127.0.0.1";
        Smtp.Port = peer.Port();
        Smtp.TimeOut = 300;
        Smtp.UserID = "tester";
        Smtp.Connect();
        Smtp.PostMessage = TPostMessage();
        Message();
        Events.clear();
        Watch();
        EXPECT_EQ(FailureOf([&] { Smtp.SendMail(); }), c.Failure);
        EXPECT_EQ(log->Get(), c.Commands);
        EXPECT_EQ(Events, c.Events);
        EXPECT_EQ(Smtp.PostMessage.ToAddress.Count(), 1) << "a failed send clears nothing";
        EXPECT_FALSE(Smtp.Busy);
        EXPECT_TRUE(Smtp.Connected) << "a failed send keeps the session";
        Smtp.Disconnect();
    }
}

TEST_F(Dialogue, QuitReply)
{
    const struct {
        const char* Reply;
        bool Refused;
    } cases[] = {{"221 bye\r\n", false}, {"339 fine\r\n", false}, {"340 no\r\n", true}, {"500 what\r\n", true}};
    for (const auto& [reply, refused] : cases) {
        TScriptedPeer peer;
        auto log = std::make_shared<TServerLog>();
        TServerScript script;
        script.Quit = reply;
        peer.Send(script.Greeting).Answer(Answering(script, log));
        TNMSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = peer.Port();
        smtp.TimeOut = 300;
        smtp.Connect();
        EXPECT_EQ(FailureOf([&] { smtp.Disconnect(); }), refused ? reply : "(no failure)");
        EXPECT_FALSE(smtp.Connected) << "the socket is closed in every case";
    }
}

TEST_F(Dialogue, BusyTurnsANestedSendIntoNothing)
{
    ConnectTo();
    Message();
    int starts = 0;
    Smtp.OnSendStart = [&](TObject*) {
        ++starts;
        EXPECT_TRUE(Smtp.Busy);
        Smtp.SendMail();
    };
    Smtp.OnPacketSent = [&](TObject*) { Smtp.SendMail(); };
    Smtp.SendMail();
    EXPECT_EQ(starts, 1);
    EXPECT_FALSE(Smtp.Busy);
    Smtp.Disconnect();
    EXPECT_EQ(Log->Get(), FullSession);
}

TEST_F(Dialogue, ClearParams)
{
    const std::string file = MakeFile(Folder, "a.txt", "a");
    for (bool clear : {true, false}) {
        TScriptedPeer peer;
        auto log = std::make_shared<TServerLog>();
        peer.Send("220 ready\r\n").Answer(Answering({}, log));
        TNMSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = peer.Port();
        smtp.TimeOut = 300;
        smtp.ClearParams = clear;
        smtp.Connect();
        smtp.PostMessage.FromAddress = "me@here";
        smtp.PostMessage.ToAddress.Add("a@x");
        smtp.PostMessage.ToCarbonCopy.Add("b@x");
        smtp.PostMessage.ToBlindCarbonCopy.Add("c@x");
        smtp.PostMessage.Attachments.Add(file);
        smtp.PostMessage.Body.Add("text");
        smtp.PostMessage.Subject = "S";
        smtp.SendMail();
        const TPostMessage& m = smtp.PostMessage;
        const int kept = clear ? 0 : 1;
        EXPECT_EQ(m.ToAddress.Count(), kept);
        EXPECT_EQ(m.ToCarbonCopy.Count(), kept);
        EXPECT_EQ(m.ToBlindCarbonCopy.Count(), kept);
        EXPECT_EQ(m.Attachments.Count(), kept);
        EXPECT_EQ(m.Body.Count(), 1);
        EXPECT_EQ(m.Subject, "S");
        EXPECT_EQ(m.FromAddress, "me@here");
    }
}

TEST_F(Dialogue, EventOrderWithOneAttachment)
{
    const std::string file = MakeFile(Folder, "data.bin", RandomBytes(200000, 5));
    TServerScript script;
    script.RcptRefused["gone@there"] = "550 unknown\r\n";
    Watch();
    ConnectTo(script);
    Message();
    Smtp.PostMessage.ToAddress.Add("gone@there");
    Smtp.PostMessage.Attachments.Add(file);
    Smtp.SendMail();
    EXPECT_EQ(Events, (Lines{"Connect", "EncodeStart " + file, "EncodeEnd " + file, "SendStart",
                             "RecipientNotFound gone@there", "PacketSent", "Success"}));
}

TEST_F(Dialogue, MissingAttachmentSendsNoCommand)
{
    const std::string missing = Folder.File("gone.pdf");
    Watch();
    ConnectTo();
    Message();
    Smtp.PostMessage.Attachments.Add(missing);
    EXPECT_EQ(FailureOf([&] { Smtp.SendMail(); }), "Cannot open file " + missing);
    Smtp.Disconnect();
    EXPECT_EQ(Log->Get(), (Lines{"HELO tester", "QUIT"}));
    EXPECT_EQ(Events, (Lines{"Connect", "AttachmentNotFound " + missing}));
}

TEST_F(Dialogue, LineBreaksInValuesSendNothing)
{
    const struct {
        const char* Name;
        std::function<void(TPostMessage&)> Spoil;
    } cases[] = {
        {"FromAddress", [](TPostMessage& m) { m.FromAddress = "me@here>\r\nRCPT TO:<x@y"; }},
        {"FromName", [](TPostMessage& m) { m.FromName = "Me\nBcc: x@y"; }},
        {"ToAddress", [](TPostMessage& m) { m.ToAddress.Add("x@y\r\nDATA"); }},
        {"ToCarbonCopy", [](TPostMessage& m) { m.ToCarbonCopy.Add("x@y\r"); }},
        {"ToBlindCarbonCopy", [](TPostMessage& m) { m.ToBlindCarbonCopy.Add("\nx@y"); }},
        {"Subject", [](TPostMessage& m) { m.Subject = "Hi\r\nX-Evil: 1"; }},
        {"LocalProgram", [](TPostMessage& m) { m.LocalProgram = "P\n"; }},
        {"ReplyTo", [](TPostMessage& m) { m.ReplyTo = "a\rb"; }},
        {"Date", [](TPostMessage& m) { m.Date = "today\r\n"; }},
    };
    Watch();
    ConnectTo();
    for (const auto& c : cases) {
        Smtp.PostMessage = TPostMessage();
        Message();
        c.Spoil(Smtp.PostMessage);
        EXPECT_EQ(FailureOf([&] { Smtp.SendMail(); }), std::string("Invalid line break in ") + c.Name);
    }
    Smtp.PostMessage = TPostMessage();
    Message();
    Smtp.Charset = "us-ascii\r\nX-Evil: 1";
    EXPECT_EQ(FailureOf([&] { Smtp.SendMail(); }), "Invalid line break in Charset");
    Smtp.Disconnect();
    EXPECT_EQ(Log->Get(), (Lines{"HELO tester", "QUIT"}));
    EXPECT_EQ(Events, Lines{"Connect"});
}

TEST_F(Dialogue, LineBreakInUserIdConnectsNowhere)
{
    Serve();
    Prepare();
    Smtp.UserID = "me\r\nMAIL FROM:<x@y>";
    EXPECT_EQ(FailureOf([&] { Smtp.Connect(); }), "Invalid line break in UserID");
    EXPECT_EQ(Peer.Connections(), 0);
    EXPECT_FALSE(Smtp.Busy);
}

// A server that closes, resets or stops answering ends the operation with a
// failure, never with a success, and within the time limit.
TEST_F(Dialogue, ServerThatClosesOrFallsSilent)
{
    const struct {
        const char* Name;
        std::function<void(TScriptedPeer&)> Script;
        bool FailsInConnect;
    } cases[] = {
        {"closes before the HELO reply", [](TScriptedPeer& p) { p.Send("220 ready\r\n").ExpectLine().Close(); }, true},
        {"silent after the greeting", [](TScriptedPeer& p) { p.Send("220 ready\r\n").ExpectLine(); }, true},
        {"closes after MAIL FROM",
         [](TScriptedPeer& p) {
             p.Send("220 ready\r\n").ExpectLine().Send("250 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Close();
         },
         false},
        {"resets after RCPT TO",
         [](TScriptedPeer& p) {
             p.Send("220 ready\r\n").ExpectLine().Send("250 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine()
                 .Send("250 ok\r\n").ExpectLine().Reset();
         },
         false},
        {"silent after the data",
         [](TScriptedPeer& p) {
             p.Send("220 ready\r\n").ExpectLine().Send("250 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine()
                 .Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("354 go\r\n")
                 .ExpectUntil("\r\n.\r\n");
         },
         false},
        {"closes instead of answering the end of data",
         [](TScriptedPeer& p) {
             p.Send("220 ready\r\n").ExpectLine().Send("250 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine()
                 .Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("354 go\r\n")
                 .ExpectUntil("\r\n.\r\n").Close();
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedPeer peer;
        c.Script(peer);
        TNMSMTP smtp;
        smtp.Host = "127.0.0.1";
        smtp.Port = peer.Port();
        smtp.TimeOut = 200;
        smtp.UserID = "tester";
        smtp.PostMessage.FromAddress = "me@here";
        smtp.PostMessage.ToAddress.Add("you@there");
        smtp.PostMessage.Body.Add("text");
        bool succeeded = false;
        smtp.OnSuccess = [&](TObject*) { succeeded = true; };
        const auto start = std::chrono::steady_clock::now();
        std::string failure = FailureOf([&] {
            smtp.Connect();
            smtp.SendMail();
        });
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_NE(failure, "(no failure)");
        EXPECT_FALSE(succeeded);
        if (c.FailsInConnect) {
            EXPECT_FALSE(smtp.Connected) << "a failed Connect closes the socket";
        }
        // Each wait is bounded by the time limit: at most a read and the QUIT's read.
        EXPECT_LT(elapsed, std::chrono::milliseconds(5 * 200));
    }
}

TEST_F(Dialogue, ReplyContinuationNeverReadsPastAShortLine)
{
    Smtp.TimeOut = 100;
    for (const char* line : {"", "2", "25", "250", "250 ok\r\n", "250\r\n"}) {
        std::string reply = line;
        Smtp.ReadReplyContinuation(reply);   // unconnected: any read would fail
        EXPECT_EQ(reply, line);
    }
}

}  // namespace
