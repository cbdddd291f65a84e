// quillpost-send: one message from the command line, sent with the compose window's
// sequence (Connect, fill PostMessage, SendMail, Disconnect) and its account profiles.
#pragma once

#include "rtl/Exceptions.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// A command line that cannot be used; exit status 2.
class EUsageError : public Exception {
    using Exception::Exception;
};

struct TSendOptions {
    std::string Config;                    // empty: quillpost.ini where the window keeps it
    int Account = 1;
    std::optional<std::string> Host, UserID, From, Name;
    std::optional<int> Port;
    std::vector<std::string> To, Cc, Bcc, Attach;
    std::string Subject;
    std::optional<std::string> BodyFile;   // "-" is standard input
    int TimeOut = 20000;
    bool UUCode = false;
    int SubType = 0;                       // a TSubType
    std::string Charset = "us-ascii";
    std::string Date;
    bool Trace = false;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

enum TSendExit { seSent = 0, seFailed = 1, seUsage = 2, seRecipientRefused = 3 };

// Raises EUsageError for anything it cannot take.
TSendOptions ParseSendOptions(const std::vector<std::string>& Args);

extern const char* const SendUsage;

// Runs the send and reports on Err. ExePath locates the default profile file.
TSendExit RunSendCommand(const TSendOptions& Options, const std::string& ExePath, std::istream& In, std::ostream& Err);
