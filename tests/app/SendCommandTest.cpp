// quillpost-send, run as a program against the scripted peer and a real SMTP server.
#include "ScriptedPeer.h"
#include "AiosmtpdServer.h"
#include "TempDir.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <random>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

TRun RunSend(const QStringList& Args, const std::string& Input = {})
{
    QProcess process;
    process.start(QUILLPOST_SEND, Args);
    EXPECT_TRUE(process.waitForStarted(10000));
    process.write(Input.data(), static_cast<qint64>(Input.size()));
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30000)) << "quillpost-send did not end";
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

// Runs quillpost-send with a terminal as its standard input, output and error; returns
// what the terminal showed and the exit status.
TRun RunOnTerminal(const std::vector<std::string>& Args)
{
    std::vector<char*> argv = {const_cast<char*>(QUILLPOST_SEND)};
    for (const auto& arg : Args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    TRun run;
    if (child < 0)
        return run;
    char buffer[4096];
    for (int rounds = 0; rounds < 1000; ++rounds) {   // at most ten seconds
        pollfd fd = {master, POLLIN, 0};
        if (::poll(&fd, 1, 10) == 0)
            continue;
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;   // the program has ended and closed the terminal
        run.Err.append(buffer, static_cast<size_t>(got));
    }
    ::close(master);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

QString Local(uint16_t Port)
{
    return QStringLiteral("127.0.0.1:%1").arg(Port);
}

// An SMTP peer that accepts everything except the recipients named in Refused.
void AcceptAll(TScriptedPeer& Peer, std::vector<std::string> Refused = {})
{
    Peer.Send("220 ready\r\n").Answer([Refused, inData = false](const std::string& Line) mutable -> std::string {
        if (inData) {
            inData = Line != ".\r\n";
            return inData ? "" : "250 queued\r\n";
        }
        for (const auto& r : Refused)
            if (Line == "RCPT TO:<" + r + ">\r\n")
                return "550 no such user\r\n";
        if (Line == "DATA\r\n") {
            inData = true;
            return "354 go ahead\r\n";
        }
        return Line == "QUIT\r\n" ? "221 bye\r\n" : "250 OK\r\n";
    });
}

bool Has(const std::string& Text, const std::string& Part)
{
    return Text.find(Part) != std::string::npos;
}

} // namespace

TEST(SendCommand, UsageErrorsExitWithTwoAndAHint)
{
    const QStringList cases[] = {
        {"--bogus"}, {"-x"}, {"--to"}, {"--account", "3"}, {"--port", "http"}, {"--port", "70000"},
        {"--subtype", "rtf"}, {"--timeout", "-1"}, {"--quiet=yes"},
    };
    for (const auto& args : cases) {
        TRun run = RunSend(args);
        EXPECT_EQ(run.Exit, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(Has(run.Err, "quillpost-send: ") && Has(run.Err, "--help")) << run.Err;
    }
}

TEST(SendCommand, HelpAndVersion)
{
    TRun help = RunSend({"--help"});
    EXPECT_EQ(help.Exit, 0);
    for (const char* option : {"--config", "--account", "--host", "--port", "--user-id", "--from", "--name", "--to",
                               "--cc", "--bcc", "--subject", "--attach", "--body-file", "--timeout", "--uucode",
                               "--subtype", "--charset", "--date", "--trace", "--quiet", "--version"})
        EXPECT_TRUE(Has(help.Out, option)) << option;
    TRun version = RunSend({"--version"});
    EXPECT_EQ(version.Exit, 0);
    EXPECT_EQ(version.Out, "quillpost-send " QUILLPOST_VERSION "\n");
}

TEST(SendCommand, AccountsComeFromTheProfileWithOverrides)
{
    TScriptedPeer peer;
    AcceptAll(peer);
    TempDir dir;
    const std::string ini = dir.File("quillpost.ini");
    TempDir::Write(ini, "[Account1]\r\nmailserver=127.0.0.1:" + std::to_string(peer.Port()) +
                            "\r\nuserid=one\r\nname=Ann One\r\nreplyto=ann@one.example\r\naccountname=First\r\n"
                            "[account2]\r\n MailServer = \"127.0.0.1:" + std::to_string(peer.Port()) +
                            "\"\r\nUSERID=two\r\nname=Bob Two\r\nreplyto=bob@two.example\r\n");
    const QString config = QString::fromStdString(ini);
    struct Case {
        QStringList args;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"--config", config}, {"HELO one\r\n", "MAIL FROM:<ann@one.example>\r\n", "From: Ann One<ann@one.example>\r\n",
                                "Reply-To: ann@one.example\r\n"}},
        {{"--config", config, "--account", "2"}, {"HELO two\r\n", "MAIL FROM:<bob@two.example>\r\n", "From: Bob Two<bob@two.example>\r\n"}},
        {{"--config", config, "--account=2", "--user-id", "other", "--from", "me@x.example", "--name", "Me"},
         {"HELO other\r\n", "MAIL FROM:<me@x.example>\r\n", "From: Me<me@x.example>\r\n", "Reply-To: me@x.example\r\n"}},
        // No profile file: every value is "none", as in the window.
        {{"--config", QString::fromStdString(dir.File("missing.ini")), "--host", Local(peer.Port())},
         {"HELO none\r\n", "MAIL FROM:<none>\r\n", "From: none<none>\r\n"}},
        {{"--config", QString::fromStdString(dir.File("missing.ini")), "--host", "127.0.0.1", "--port",
          QString::number(peer.Port())}, {"HELO none\r\n"}},
    };
    int connections = 0;
    for (const auto& c : cases) {
        const size_t before = peer.Received().size();
        TRun run = RunSend(QStringList(c.args) << "--" << "rcpt@example.org", "body\n");
        EXPECT_EQ(run.Exit, 0) << run.Err;
        ASSERT_TRUE(peer.WaitForFinished(++connections, 5000));
        const std::string dialogue = peer.Received().substr(before);
        for (const auto& line : c.expected)
            EXPECT_TRUE(Has(dialogue, line)) << c.args.join(' ').toStdString() << " lacks " << line << "\n" << dialogue;
        EXPECT_TRUE(Has(dialogue, "RCPT TO:<rcpt@example.org>\r\n"));
    }
}

TEST(SendCommand, TraceShowsStatusTextsAndEveryReplyLine)
{
    TScriptedPeer peer;
    peer.Send("220-first greeting line\r\n220 last greeting line\r\n").Answer([](const std::string& Line) -> std::string {
        if (Line.rfind("HELO", 0) == 0)
            return "250-hello\r\n250 pleased to meet you\r\n";
        return Line == "QUIT\r\n" ? "221 bye\r\n" : "550 refused\r\n";
    });
    TRun run = RunSend({"--trace", "--host", Local(peer.Port()), "--from", "me@example.org", "you@example.org"}, "");
    EXPECT_EQ(run.Exit, 1);
    size_t at = 0;
    for (const char* line : {"Connecting\n", "220-first greeting line\n", "220 last greeting line\n", "250-hello\n",
                             "250 pleased to meet you\n", "550 refused\n", "221 bye\n", "quillpost-send: 550 refused\n"}) {
        at = run.Err.find(line, at);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << run.Err;
    }
}

// On a terminal the window's texts go on one line that is rewritten; --quiet shows none.
TEST(SendCommand, ProgressOnATerminal)
{
    TempDir dir;
    const std::string file = dir.File("data.bin");
    TempDir::Write(file, std::string(300000, 'x'));
    for (bool quiet : {false, true}) {
        TScriptedPeer peer;
        AcceptAll(peer);
        std::vector<std::string> args = {"--host", Local(peer.Port()).toStdString(), "--from", "me@example.org",
                                         "--attach", file, "you@example.org"};
        if (quiet)
            args.push_back("--quiet");
        TRun run = RunOnTerminal(args);
        EXPECT_EQ(run.Exit, 0) << run.Err;
        if (quiet) {
            EXPECT_EQ(run.Err, "");
            continue;
        }
        size_t at = 0;
        for (const char* text : {"\r\033[KConnecting...", "\r\033[KEncoding File", "\r\033[KFile Encoded",
                                 "\r\033[KSending Message....\r", "kb of "}) {
            at = run.Err.find(text, at);
            ASSERT_NE(at, std::string::npos) << "missing or out of order: " << testing::PrintToString(std::string(text))
                                             << "\n" << testing::PrintToString(run.Err);
        }
        // The last count is the whole stream, then the success text ends the line.
        EXPECT_TRUE(std::regex_search(run.Err, std::regex("\r\x1b\\[KSending Message\\.{4}(\\d+)kb of \\1kb"
                                                          "\r\x1b\\[KIdle  -  Message Sent!\r\n$")))
            << testing::PrintToString(run.Err);
    }
}

TEST(SendCommand, RefusedRecipientsAreNamedAndExitThree)
{
    TScriptedPeer peer;
    AcceptAll(peer, {"bad@example.org"});
    TRun run = RunSend({"--host", Local(peer.Port()), "--from", "me@example.org", "--to", "Bad Guy <bad@example.org>",
                        "good@example.org"}, "hi\n");
    EXPECT_EQ(run.Exit, 3) << run.Err;
    EXPECT_TRUE(Has(run.Err, "Bad Guy <bad@example.org>")) << run.Err;
    EXPECT_FALSE(Has(run.Err, "good@example.org")) << run.Err;
}

// The message is accepted before QUIT: a refused QUIT is reported, but the exit status
// says what became of the message, so that a script does not send it twice.
TEST(SendCommand, RefusedQuitAfterTheMessageWasAccepted)
{
    for (bool refuseRecipient : {false, true}) {
        TScriptedPeer peer;
        peer.Send("220 ready\r\n").Answer([inData = false](const std::string& Line) mutable -> std::string {
            if (inData) {
                inData = Line != ".\r\n";
                return inData ? "" : "250 queued\r\n";
            }
            if (Line == "RCPT TO:<bad@example.org>\r\n")
                return "550 no such user\r\n";
            if (Line == "DATA\r\n") {
                inData = true;
                return "354 go ahead\r\n";
            }
            return Line == "QUIT\r\n" ? "554 closing badly\r\n" : "250 OK\r\n";
        });
        QStringList args = {"--host", Local(peer.Port()), "--from", "me@example.org", "you@example.org"};
        if (refuseRecipient)
            args << "bad@example.org";
        TRun run = RunSend(args, "hi\n");
        EXPECT_EQ(run.Exit, refuseRecipient ? 3 : 0) << run.Err;
        EXPECT_TRUE(Has(run.Err, "quillpost-send: 554 closing badly\n")) << run.Err;
        EXPECT_EQ(Has(run.Err, "bad@example.org"), refuseRecipient) << run.Err;
    }
}

TEST(SendCommand, FailuresExitWithOneAndTheComponentsText)
{
    TScriptedPeer refusing;
    refusing.Send("421 too busy\r\n").Answer([](const std::string& Line) -> std::string {
        return Line == "QUIT\r\n" ? "221 bye\r\n" : "";
    });
    TScriptedPeer heloRefused;
    heloRefused.Send("220 ready\r\n").Answer([](const std::string& Line) -> std::string {
        return Line == "QUIT\r\n" ? "221 bye\r\n" : "550 who are you\r\n";
    });
    TScriptedPeer silent;   // accepts the connection and never greets
    TScriptedPeer accepting;
    AcceptAll(accepting);
    TScriptedPeer noRecipient;
    AcceptAll(noRecipient);
    TempDir folder;   // a folder is no body file
    struct Case {
        QStringList args;
        std::string message;   // as the window's error box shows it, reply lines without their line end
    };
    const QStringList to = {"you@example.org"};
    const Case cases[] = {
        {QStringList{"--host", Local(refusing.Port())} + to, "quillpost-send: 421 too busy\n"},
        {QStringList{"--host", Local(TScriptedPeer::ClosedPort())} + to, "quillpost-send: Connection Failed.\n"},
        {QStringList{"--host", "no-such-host.invalid"} + to, "quillpost-send: Null Remote Address.\n"},
        {QStringList{"--host", Local(silent.Port()), "--timeout", "500"} + to, "quillpost-send: Socket readln aborted.\n"},
        {QStringList{"--host", Local(accepting.Port()), "--attach", "/no/such/file"} + to,
         "quillpost-send: Cannot open file /no/such/file.\n"},
        // No prompts: where the window would ask, the component's own text.
        {QStringList{"--host", Local(heloRefused.Port())} + to, "quillpost-send: Authentication failed.\n"},
        {{"--host", Local(noRecipient.Port())}, "quillpost-send: Incomplete Header.\n"},
        {QStringList{"--host", Local(accepting.Port()), "--body-file", folder.Path.c_str()} + to,
         "quillpost-send: Cannot read file " + folder.Path.string() + ".\n"},
    };
    for (const auto& c : cases) {
        QElapsedTimer clock;
        clock.start();
        TRun run = RunSend(QStringList(c.args) << "--from" << "me@example.org", "");
        EXPECT_EQ(run.Exit, 1) << c.args.join(' ').toStdString();
        EXPECT_EQ(run.Err, c.message);
        EXPECT_LT(clock.elapsed(), 15000) << "a failure must not wait for the default time limit";
    }
    ASSERT_TRUE(accepting.WaitForFinished(1, 5000));
    EXPECT_FALSE(Has(accepting.Received(), "MAIL FROM")) << "a missing attachment sends no command of the send";
    ASSERT_TRUE(noRecipient.WaitForFinished(1, 5000));
    EXPECT_FALSE(Has(noRecipient.Received(), "RSET")) << "an incomplete message sends no command of the send";
}

TEST(SendCommand, MessageWithAttachmentsIsStoredAsComposed)
{
    AiosmtpdServer server;
    TempDir dir;
    std::mt19937 random(7);
    std::string small = "short text\n", binary(100000, '\0');
    for (auto& c : binary)
        c = static_cast<char>(random());
    TempDir::Write(dir.File("note.txt"), small);
    TempDir::Write(dir.File("data.bin"), binary);
    TempDir::Write(dir.File("body.txt"), "Hello,\r\n.hidden dot\nbye");

    TRun run = RunSend({"--host", Local(server.Port()), "--from", "me@example.org", "--name", "Me", "--subject", "Files",
                        "--date", "Fri, 11 Dec 2026 12:00:00 +0000", "--cc", "cc@example.org", "--bcc", "bcc@example.org",
                        "--attach", QString::fromStdString(dir.File("note.txt")), "--attach",
                        QString::fromStdString(dir.File("data.bin")), "--body-file", QString::fromStdString(dir.File("body.txt")),
                        "to@example.org"});
    ASSERT_EQ(run.Exit, 0) << run.Err;
    ASSERT_EQ(server.Count(), 1);
    AiosmtpdServer::Stored stored = server.Message(1);
    EXPECT_EQ(stored.MailFrom, "me@example.org");
    EXPECT_EQ(stored.RcptTos, (std::vector<std::string>{"to@example.org", "cc@example.org", "bcc@example.org"}));
    const std::string boundary = "====================54535aavfgq====";   // first of a fresh process
    const std::string head =
        "From: Me<me@example.org>\r\nTo: to@example.org\r\nCC: cc@example.org\r\nSubject: Files\r\n"
        "X-Mailer: Pellicork's Quillpost\r\nReply-To: me@example.org\r\nDate: Fri, 11 Dec 2026 12:00:00 +0000\r\n"
        "Mime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n\r\n"
        "--" + boundary + "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
        "Hello,\r\n.hidden dot\r\nbye\r\n--" + boundary + "\r\n"
        "Content-Type: application/octet-stream; name=\"note.txt\"\r\n";
    EXPECT_EQ(stored.Message.substr(0, head.size()), head);
    EXPECT_EQ(server.DecodedPart(1, 1, "mime"), small);
    EXPECT_EQ(server.DecodedPart(1, 2, "mime"), binary);
}
