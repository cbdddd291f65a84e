// The two sender accounts kept in "quillpost.ini", as the compose window and the
// headless sender read them.
#pragma once

#include "rtl/IniFile.h"

#include <string>

class TNMSMTP;

struct TAccount {
    std::string Name;        // sender name
    std::string UserID;      // sent after HELO
    std::string MailServer;  // host, or host:port
    std::string ReplyTo;     // sender address
};

// "account1" for index 0, "account2" for any other.
std::string AccountSection(int AccountIndex);
// The display name shown in the account combo ("UnNamed 1" / "UnNamed 2" when absent).
std::string AccountDisplayName(const TIniFile& Ini, int AccountIndex);
// The account's values; each missing key reads as "none".
TAccount ReadAccount(const TIniFile& Ini, int AccountIndex);
// Loads an account into the component: host, user id, sender name and address, reply-to.
void ApplyAccount(TNMSMTP& Smtp, const TAccount& Account);
// Host written "name:port" connects to that port; a plain host uses port 25.
void SetMailServer(TNMSMTP& Smtp, const std::string& MailServer);

// The folder that holds "quillpost.ini" (with a trailing "/"): the program's own folder
// when it can be written, else the per-user folder ($XDG_CONFIG_HOME/quillpost or
// ~/.config/quillpost), which is created when missing.
std::string ProfileDir(const std::string& AppDir);
