// The two sender accounts kept in "quillpost.ini", read the same way by the compose
// window and by the headless sender.
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
// Loads an account into the component: the host as written, user id, sender name and
// address, and the reply-to address (the sender address).
void ApplyAccount(TNMSMTP& Smtp, const TAccount& Account);

// A host written "name:port" names its port; anything else is a plain host on port 25.
void SplitHost(const std::string& Written, std::string& Name, int& Port);

// The folder that holds "quillpost.ini" (with a trailing "/"): the executable's folder when
// it can be written, else the per-user folder ($XDG_CONFIG_HOME/quillpost, usually
// ~/.config/quillpost), created when missing.
std::string ProfileDir(const std::string& ExePath);
