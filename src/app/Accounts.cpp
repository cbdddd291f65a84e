#include "Accounts.h"

#include "smtp/NMsmtp.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

std::string AccountSection(int AccountIndex)
{
    return AccountIndex == 0 ? "account1" : "account2";
}

std::string AccountDisplayName(const TIniFile& Ini, int AccountIndex)
{
    return AccountIndex == 0 ? Ini.ReadString("Account1", "accountname", "UnNamed 1")
                             : Ini.ReadString("Account2", "accountname", "UnNamed 2");
}

TAccount ReadAccount(const TIniFile& Ini, int AccountIndex)
{
    const std::string section = AccountSection(AccountIndex);
    TAccount account;
    account.Name = Ini.ReadString(section, "name", "none");
    account.UserID = Ini.ReadString(section, "userid", "none");
    account.MailServer = Ini.ReadString(section, "mailserver", "none");
    account.ReplyTo = Ini.ReadString(section, "replyto", "none");
    return account;
}

void ApplyAccount(TNMSMTP& Smtp, const TAccount& Account)
{
    SetMailServer(Smtp, Account.MailServer);
    Smtp.UserID = Account.UserID;
    Smtp.PostMessage.FromName = Account.Name;
    Smtp.PostMessage.FromAddress = Account.ReplyTo;
    Smtp.PostMessage.ReplyTo = Smtp.PostMessage.FromAddress;
}

void SetMailServer(TNMSMTP& Smtp, const std::string& MailServer)
{
    Smtp.Host = MailServer;
    Smtp.Port = 25;
    const size_t colon = MailServer.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == MailServer.size() || colon + 6 < MailServer.size())
        return;
    int port = 0;
    for (size_t i = colon + 1; i < MailServer.size(); ++i) {
        if (MailServer[i] < '0' || MailServer[i] > '9')
            return;
        port = port * 10 + (MailServer[i] - '0');
    }
    if (port < 1 || port > 65535)
        return;
    Smtp.Host = MailServer.substr(0, colon);
    Smtp.Port = port;
}

std::string ProfileDir(const std::string& AppDir)
{
    if (::access(AppDir.c_str(), W_OK) == 0)
        return AppDir;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return AppDir;
    const std::string dir = base + "/quillpost/";
    std::error_code ignored;   // an unusable folder shows up as "Unable to write to %s" on save
    std::filesystem::create_directories(dir, ignored);
    return dir;
}
