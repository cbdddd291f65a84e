// Shared helpers of the SMTP tests.
#pragma once

#include "smtp/NMsmtp.h"
#include "TempDir.h"

#include <string>

// Opens the message writer to the tests.
class TComposer : public TNMSMTP {
public:
    using TNMSMTP::ComposeMessage;
    using TNMSMTP::ReadReplyContinuation;

    // The header block and the body exactly as they follow DATA.
    std::string MessageText() { return FinalHeader.Text() + "\r\n\r\n" + BodyStream.ToString(); }
};

// Writes a file into the folder and returns its full path.
std::string MakeFile(const TempDir& Folder, const std::string& Name, const std::string& Content);
std::string RandomBytes(size_t Count, unsigned Seed);
std::string Base64Lines(const std::string& Data);   // independent reference encoder, 60 characters a line
