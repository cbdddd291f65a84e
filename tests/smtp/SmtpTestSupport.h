// Shared helpers of the SMTP tests.
#pragma once

#include "smtp/NMsmtp.h"

#include <filesystem>
#include <string>

// Opens the message writer to the tests.
class TComposer : public TNMSMTP {
public:
    using TNMSMTP::ComposeMessage;
    using TNMSMTP::ReadReplyContinuation;

    // The header block and the body exactly as they follow DATA.
    std::string MessageText() { return FinalHeader.Text() + "\r\n\r\n" + BodyStream.ToString(); }
};

// A folder of its own for files a test creates; removed afterwards.
class TTempFolder {
public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    std::string Path(const std::string& Name) const { return FPath + "/" + Name; }
    // Writes a file and returns its full path.
    std::string File(const std::string& Name, const std::string& Content) const;

private:
    std::string FPath;
};

std::string RandomBytes(size_t Count, unsigned Seed);
std::string Base64Lines(const std::string& Data);   // independent reference encoder, 60 characters a line
