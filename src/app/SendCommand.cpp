#include "SendCommand.h"

#include "Accounts.h"
#include "smtp/NMsmtp.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <unistd.h>

const char* const SendUsage =
    "Usage: quillpost-send [options] [--] [RECIPIENT...]\n"
    "Sends one message over SMTP with a Quillpost account; the body is read from\n"
    "standard input unless it is a terminal.\n"
    "  --config PATH     profile file (default: quillpost.ini beside the program)\n"
    "  --account N       account 1 or 2 (default 1)\n"
    "  --host H          SMTP host, or host:port     --port N   SMTP port\n"
    "  --user-id ID      HELO user id    --from ADDR  sender    --name NAME  sender name\n"
    "  --to ADDR  --cc ADDR  --bcc ADDR   recipients (repeatable; RECIPIENTs are --to)\n"
    "  --subject TEXT    --attach PATH (repeatable)\n"
    "  --body-file PATH  message body ('-' = standard input)\n"
    "  --timeout MS      time limit of each wait (default 20000)\n"
    "  --uucode          uuencode attachments instead of Base64\n"
    "  --subtype plain|enriched|sgml|tab-separated|html     --charset CS (default us-ascii)\n"
    "  --date TEXT       Date header line\n"
    "  --trace           print every status text and reply line\n"
    "  --quiet           no progress line\n"
    "  --help  --version\n"
    "Exit status: 0 sent, 1 failed, 2 usage error, 3 sent but a recipient was refused.\n";

namespace {

int ParseNumber(const std::string& Option, const std::string& Text, int Low, int High)
{
    int value = 0;
    auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (error != std::errc() || end != Text.data() + Text.size() || value < Low || value > High)
        throw EUsageError(Option + " takes a number from " + std::to_string(Low) + " to " + std::to_string(High) + ": " + Text);
    return value;
}

int ParseSubType(const std::string& Text)
{
    static const std::map<std::string, int> names = {
        {"plain", mtPlain}, {"enriched", mtEnriched}, {"sgml", mtSgml}, {"tab-separated", mtTabSeperated}, {"html", mtHtml}};
    auto found = names.find(Text);
    if (found == names.end())
        throw EUsageError("--subtype takes plain, enriched, sgml, tab-separated or html: " + Text);
    return found->second;
}

using TValueOption = std::function<void(TSendOptions&, const std::string&)>;
using TFlagOption = std::function<void(TSendOptions&)>;

const std::map<std::string, TValueOption>& ValueOptions()
{
    static const std::map<std::string, TValueOption> options = {
        {"--config", [](TSendOptions& o, const std::string& v) { o.Config = v; }},
        {"--account", [](TSendOptions& o, const std::string& v) { o.Account = ParseNumber("--account", v, 1, 2); }},
        {"--host", [](TSendOptions& o, const std::string& v) { o.Host = v; }},
        {"--port", [](TSendOptions& o, const std::string& v) { o.Port = ParseNumber("--port", v, 1, 65535); }},
        {"--user-id", [](TSendOptions& o, const std::string& v) { o.UserID = v; }},
        {"--from", [](TSendOptions& o, const std::string& v) { o.From = v; }},
        {"--name", [](TSendOptions& o, const std::string& v) { o.Name = v; }},
        {"--to", [](TSendOptions& o, const std::string& v) { o.To.push_back(v); }},
        {"--cc", [](TSendOptions& o, const std::string& v) { o.Cc.push_back(v); }},
        {"--bcc", [](TSendOptions& o, const std::string& v) { o.Bcc.push_back(v); }},
        {"--subject", [](TSendOptions& o, const std::string& v) { o.Subject = v; }},
        {"--attach", [](TSendOptions& o, const std::string& v) { o.Attach.push_back(v); }},
        {"--body-file", [](TSendOptions& o, const std::string& v) { o.BodyFile = v; }},
        {"--timeout", [](TSendOptions& o, const std::string& v) { o.TimeOut = ParseNumber("--timeout", v, 0, 2147483647); }},
        {"--subtype", [](TSendOptions& o, const std::string& v) { o.SubType = ParseSubType(v); }},
        {"--charset", [](TSendOptions& o, const std::string& v) { o.Charset = v; }},
        {"--date", [](TSendOptions& o, const std::string& v) { o.Date = v; }},
    };
    return options;
}

const std::map<std::string, TFlagOption>& FlagOptions()
{
    static const std::map<std::string, TFlagOption> options = {
        {"--uucode", [](TSendOptions& o) { o.UUCode = true; }},
        {"--trace", [](TSendOptions& o) { o.Trace = true; }},
        {"--quiet", [](TSendOptions& o) { o.Quiet = true; }},
        {"--help", [](TSendOptions& o) { o.Help = true; }},
        {"--version", [](TSendOptions& o) { o.Version = true; }},
    };
    return options;
}

} // namespace

TSendOptions ParseSendOptions(const std::vector<std::string>& Args)
{
    TSendOptions options;
    bool onlyRecipients = false;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (onlyRecipients || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!onlyRecipients && arg.size() > 1 && arg[0] == '-')
                throw EUsageError("unknown option: " + arg);
            options.To.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyRecipients = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
            if (equals != std::string::npos)
                throw EUsageError(name + " takes no value");
            flag->second(options);
            continue;
        }
        auto valued = ValueOptions().find(name);
        if (valued == ValueOptions().end())
            throw EUsageError("unknown option: " + name);
        if (equals != std::string::npos)
            valued->second(options, arg.substr(equals + 1));
        else if (i + 1 < Args.size())
            valued->second(options, Args[++i]);
        else
            throw EUsageError(name + " needs a value");
    }
    return options;
}

namespace {

std::string ReadAll(std::istream& In)
{
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

std::string ReadBody(const TSendOptions& Options, std::istream& In)
{
    if (!Options.BodyFile)
        return ::isatty(STDIN_FILENO) ? std::string() : ReadAll(In);
    if (*Options.BodyFile == "-")
        return ReadAll(In);
    std::ifstream file(*Options.BodyFile, std::ios::binary);
    if (!file)
        throw Exception(FormatMessage("Cannot open file %s", *Options.BodyFile));
    try {
        return ReadAll(file);
    } catch (const std::ios_base::failure&) {
        // The file stream throws when a read fails, as for a folder.
        throw Exception(FormatMessage("Cannot read file %s", *Options.BodyFile));
    }
}

void AssignList(TStringList& List, const std::vector<std::string>& Entries)
{
    List.Clear();
    for (const auto& entry : Entries)
        List.Add(entry);
}

// What the component shows as it goes: the compose window's texts on one line, or,
// with --trace, every status text of the socket layer one per line.
class TProgress {
public:
    TProgress(const TSendOptions& Options, std::ostream& Err)
        : FErr(Err), FTrace(Options.Trace), FLive(!Options.Quiet && !Options.Trace && ::isatty(STDERR_FILENO)) {}
    ~TProgress() { Finish(); }

    void Show(const std::string& Text)
    {
        if (FLive) {
            FErr << "\r\033[K" << Text << std::flush;
            FShown = true;
        }
    }
    void Trace(const std::string& Status)
    {
        if (FTrace)
            FErr << TrimLineEnd(Status) << '\n' << std::flush;
    }
    void Finish()
    {
        if (FShown)
            FErr << '\n' << std::flush;
        FShown = false;
    }

    static std::string TrimLineEnd(std::string Text)
    {
        while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r'))
            Text.pop_back();
        return Text;
    }

private:
    std::ostream& FErr;
    bool FTrace;
    bool FLive;
    bool FShown = false;
};

void BindEvents(TNMSMTP& Smtp, TProgress& Progress, std::vector<std::string>& Refused, bool& Accepted)
{
    Smtp.OnConnect = [&](TObject*) { Progress.Show("Connecting..."); };
    Smtp.OnSendStart = [&](TObject*) { Progress.Show("Sending Message...."); };
    Smtp.OnEncodeStart = [&](const std::string&) { Progress.Show("Encoding File"); };
    Smtp.OnEncodeEnd = [&](const std::string&) { Progress.Show("File Encoded"); };
    Smtp.OnAttachmentNotFound = [&](const std::string&) { Progress.Show("File not found!"); };
    Smtp.OnFailure = [&](TObject*) { Progress.Show("SMTP Send Failure :-("); };
    Smtp.OnSuccess = [&](TObject*) {
        Accepted = true;
        Progress.Show("Idle  -  Message Sent!");
    };
    Smtp.OnPacketSent = [&](TObject*) {
        Progress.Show("Sending Message...." + std::to_string(Smtp.BytesSent / 1000) + "kb of " +
                      std::to_string(Smtp.BytesTotal / 1000) + "kb");
    };
    Smtp.OnRecipientNotFound = [&](const std::string& Recipient) { Refused.push_back(Recipient); };
    Smtp.OnStatus = [&](TObject*, const std::string& Status) { Progress.Trace(Status); };
}

void Configure(TNMSMTP& Smtp, const TSendOptions& Options, const std::string& ExePath)
{
    const std::string config = Options.Config.empty() ? ProfileDir(ExePath) + "quillpost.ini" : Options.Config;
    ApplyAccount(Smtp, ReadAccount(TIniFile(config), Options.Account - 1));
    SplitHost(Options.Host.value_or(Smtp.Host), Smtp.Host, Smtp.Port);
    if (Options.Port)
        Smtp.Port = *Options.Port;
    if (Options.UserID)
        Smtp.UserID = *Options.UserID;
    if (Options.Name)
        Smtp.PostMessage.FromName = *Options.Name;
    if (Options.From)
        Smtp.PostMessage.FromAddress = Smtp.PostMessage.ReplyTo = *Options.From;
    Smtp.TimeOut = Options.TimeOut;
    Smtp.ReportLevel = Options.Trace ? 8 : 0;
    Smtp.PostMessage.LocalProgram = "Pellicork's Quillpost";
    Smtp.EncodeType = Options.UUCode ? uuCode : uuMime;
    Smtp.SubType = static_cast<TSubType>(Options.SubType);
    Smtp.Charset = Options.Charset;
    Smtp.ClearParams = true;
}

void FillMessage(TNMSMTP& Smtp, const TSendOptions& Options, const std::string& Body)
{
    AssignList(Smtp.PostMessage.ToAddress, Options.To);
    AssignList(Smtp.PostMessage.ToCarbonCopy, Options.Cc);
    AssignList(Smtp.PostMessage.ToBlindCarbonCopy, Options.Bcc);
    Smtp.PostMessage.Body.SetText(Body);
    AssignList(Smtp.PostMessage.Attachments, Options.Attach);
    Smtp.PostMessage.Subject = Options.Subject;
    Smtp.PostMessage.Date = Options.Date;
}

// The compose window's sequence; on a failure an open connection is closed first and
// the first failure is the one reported.
void Send(TNMSMTP& Smtp, const TSendOptions& Options, const std::string& Body)
{
    try {
        Smtp.Connect();
        FillMessage(Smtp, Options, Body);
        Smtp.SendMail();
        Smtp.Disconnect();
    } catch (const Exception&) {
        if (Smtp.Connected) {
            try {
                Smtp.Disconnect();
            } catch (const Exception&) {
                // the failure that ended the send is the one worth reporting
            }
        }
        throw;
    }
}

} // namespace

TSendExit RunSendCommand(const TSendOptions& Options, const std::string& ExePath, std::istream& In, std::ostream& Err)
{
    std::vector<std::string> refused;
    bool accepted = false;
    try {
        const std::string body = ReadBody(Options, In);
        TNMSMTP smtp;
        TProgress progress(Options, Err);
        BindEvents(smtp, progress, refused, accepted);
        Configure(smtp, Options, ExePath);
        Send(smtp, Options, body);
    } catch (const std::exception& failure) {
        // The window's error box text; a reply line loses its line end.
        Err << "quillpost-send: " << TProgress::TrimLineEnd(ErrorBoxText(failure.what())) << '\n';
        // Once the server has taken the message, a failing QUIT does not make it unsent:
        // a script that sent again would deliver it twice.
        if (!accepted)
            return seFailed;
    }
    for (const auto& recipient : refused)
        Err << "quillpost-send: recipient refused: " << recipient << '\n';
    return refused.empty() ? seSent : seRecipientRefused;
}
