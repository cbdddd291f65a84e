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
    const std::string Section = AccountSection(AccountIndex);
    TAccount Account;
    Account.Name = Ini.ReadString(Section, "name", "none");
    Account.UserID = Ini.ReadString(Section, "userid", "none");
    Account.MailServer = Ini.ReadString(Section, "mailserver", "none");
    Account.ReplyTo = Ini.ReadString(Section, "replyto", "none");
    return Account;
}

void ApplyAccount(TNMSMTP& Smtp, const TAccount& Account)
{
    Smtp.Host = Account.MailServer;
    Smtp.UserID = Account.UserID;
    Smtp.PostMessage.FromName = Account.Name;
    Smtp.PostMessage.FromAddress = Account.ReplyTo;
    Smtp.PostMessage.ReplyTo = Smtp.PostMessage.FromAddress;
}

void SplitHost(const std::string& Written, std::string& Name, int& Port)
{
    Name = Written;
    Port = 25;
    const auto Colon = Written.rfind(':');
    if (Colon == std::string::npos || Colon + 1 == Written.size() || Colon + 6 < Written.size())
        return;
    int Value = 0;
    for (auto I = Colon + 1; I < Written.size(); ++I) {
        if (Written[I] < '0' || Written[I] > '9')
            return;
        Value = Value * 10 + (Written[I] - '0');
    }
    if (Value < 1 || Value > 65535)
        return;
    Name = Written.substr(0, Colon);
    Port = Value;
}

std::string ProfileDir(const std::string& ExePath)
{
    namespace fs = std::filesystem;
    std::error_code Ignored;
    const fs::path ExeDir = fs::absolute(fs::path(ExePath), Ignored).parent_path();
    if (::access(ExeDir.c_str(), W_OK) == 0)
        return ExeDir.string() + "/";
    fs::path Base;
    if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg && *Xdg == '/')
        Base = Xdg;
    else if (const char* Home = std::getenv("HOME"); Home && *Home)
        Base = fs::path(Home) / ".config";
    else
        return ExeDir.string() + "/";
    const fs::path UserDir = Base / "quillpost";
    // A folder that cannot be made shows up as "Unable to write to %s" at the first save.
    fs::create_directories(UserDir, Ignored);
    return UserDir.string() + "/";
}
