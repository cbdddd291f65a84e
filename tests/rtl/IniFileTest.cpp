#include "support/TempDir.h"

#include "rtl/Exceptions.h"
#include "rtl/IniFile.h"

#include <csignal>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    const char* fallback;
    std::string expected;
};

std::string WriteError(TIniFile& ini, const std::string& value = "v")
{
    try {
        ini.WriteString("account1", "name", value);
    } catch (const Exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(IniFile, ReadsHandWrittenFilesAsWindowsDoes)
{
    const std::string longValue(3000, 'x');
    const ReadCase cases[] = {
        {"plain", "[account1]\r\nname=Ann\r\n", "account1", "name", "none", "Ann"},
        {"case of names", "[Account1]\r\nNAME=Ann\r\n", "aCCOUNT1", "Name", "none", "Ann"},
        {"blanks around everything", "  [ account1 ]  \r\n\t name \t=  Ann Lee \t\r\n", "account1", "name", "none", "Ann Lee"},
        {"double quotes", "[a]\r\nk=\" spaced \"\r\n", "a", "k", "d", " spaced "},
        {"single quotes", "[a]\r\nk='x'\r\n", "a", "k", "d", "x"},
        {"only one pair of quotes", "[a]\r\nk=\"\"x\"\"\r\n", "a", "k", "d", "\"x\""},
        {"mismatched quotes stay", "[a]\r\nk=\"x'\r\n", "a", "k", "d", "\"x'"},
        {"a lone quote stays", "[a]\r\nk=\"\r\n", "a", "k", "d", "\""},
        {"empty value is not the default", "[a]\r\nk=\r\n", "a", "k", "d", ""},
        {"empty quotes", "[a]\r\nk=\"\"\r\n", "a", "k", "d", ""},
        {"missing key", "[a]\r\nother=1\r\n", "a", "k", "d", "d"},
        {"missing section", "[b]\r\nk=1\r\n", "a", "k", "d", "d"},
        {"key in another section", "[a]\r\nx=1\r\n[b]\r\nk=2\r\n", "a", "k", "d", "d"},
        {"blank lines between sections", "[a]\r\n\r\nk=1\r\n\r\n[b]\r\nk=2\r\n", "b", "k", "d", "2"},
        {"first of two keys", "[a]\r\nk=1\r\nk=2\r\n", "a", "k", "d", "1"},
        {"line without = is no key", "[a]\r\nk\r\n", "a", "k", "d", "d"},
        {"value keeps later =", "[a]\r\nk=x=y\r\n", "a", "k", "d", "x=y"},
        {"LF and CR line ends", "[a]\nk=1\r[b]\rk=2", "b", "k", "d", "2"},
        {"no line end at the end", "[a]\r\nk=last", "a", "k", "d", "last"},
        {"header without ]", "[a\r\nk=1\r\n", "a", "k", "d", "1"},
        {"entries before any header", "k=1\r\n[a]\r\n", "a", "k", "d", "d"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "d", "1"},
        {"long value is cut", "[a]\r\nk=" + longValue + "\r\n", "a", "k", "d", std::string(2047, 'x')},
        {"long quoted value is cut", "[a]\r\nk=\"" + longValue + "\"\r\n", "a", "k", "d", std::string(2047, 'x')},
        {"default loses trailing blanks", "", "a", "k", "UnNamed 1  ", "UnNamed 1"},
        {"empty file", "", "a", "k", "none", "none"},
        {"binary file", "\0\xff[\x01=\r\n\0\0=\xfe]"s, "a", "k", "none", "none"},
        {"binary value", "[a]\r\nk=\x01\0\x02\r\n"s, "a", "k", "d", "\x01\0\x02"s},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.File("case.ini");
        TempDir::Write(path, c.file);
        EXPECT_EQ(TIniFile(path).ReadString(c.section, c.key, c.fallback), c.expected) << c.name;
    }
}

TEST(IniFile, ReadingAMissingOrUnreadablePathGivesTheDefault)
{
    TempDir dir;
    EXPECT_EQ(TIniFile(dir.File("none.ini")).ReadString("a", "k", "none"), "none");
    EXPECT_EQ(TIniFile(dir.Path.string()).ReadString("a", "k", "none"), "none");
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini"))) << "reading creates nothing";
}

TEST(IniFile, SavingTwoAccountsWritesTheExactBytes)
{
    TempDir dir;
    const std::string path = dir.File("quillpost.ini");
    auto save = [&](const char* section, const char* host, const char* user, const char* name, const char* mail,
                    const char* account) {
        TIniFile ini(dir.Path.string() + "//quillpost.ini"); // a doubled separator names the same file
        ini.WriteString(section, "mailserver", host);
        ini.WriteString(section, "userid", user);
        ini.WriteString(section, "name", name);
        ini.WriteString(section, "replyto", mail);
        ini.WriteString(section, "accountname", account);
    };

    save("account1", "smtp.example.org", "ann", "Ann Lee", "ann@example.org", "Work");
    const std::string first =
        "[account1]\r\n"
        "mailserver=smtp.example.org\r\n"
        "userid=ann\r\n"
        "name=Ann Lee\r\n"
        "replyto=ann@example.org\r\n"
        "accountname=Work\r\n";
    EXPECT_EQ(TempDir::Read(path), first);

    save("account2", "mail.home.net", "bob", "Bob", "", "Home");
    const std::string second =
        "[account2]\r\n"
        "mailserver=mail.home.net\r\n"
        "userid=bob\r\n"
        "name=Bob\r\n"
        "replyto=\r\n"
        "accountname=Home\r\n";
    EXPECT_EQ(TempDir::Read(path), first + second);
    EXPECT_EQ(TIniFile(path).ReadString("account2", "replyto", "none"), "") << "an empty field is not the default";

    save("account1", "relay.example.org", "ann2", "Ann", "a@example.org", "Office");
    EXPECT_EQ(TempDir::Read(path),
              "[account1]\r\n"
              "mailserver=relay.example.org\r\n"
              "userid=ann2\r\n"
              "name=Ann\r\n"
              "replyto=a@example.org\r\n"
              "accountname=Office\r\n" +
                  second);
}

TEST(IniFile, WritesIntoAHandWrittenFileInPlace)
{
    struct WriteCase {
        const char* name;
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    };
    const WriteCase cases[] = {
        {"header of another case is the same section", "[Account1]\r\nName = old \r\n", "account1", "name", "new",
         "[Account1]\r\nName =new\r\n"},
        {"new key after the last entry, before blank lines", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "a", "k", "v",
         "[a]\r\nx=1\r\nk=v\r\n\r\n[b]\r\ny=2\r\n"},
        {"new key in an empty section", "[a]\n[b]\n", "a", "k", "v", "[a]\nk=v\r\n[b]\n"},
        {"new key when the file lacks a final line end", "[a]\r\nx=1", "a", "k", "v", "[a]\r\nx=1\r\nk=v\r\n"},
        {"new section when the file lacks a final line end", "[a]\r\nx=1", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
        {"other lines keep their bytes", "; note\n[a]\nx=1\n", "a", "x", "2", "; note\n[a]\nx=2\n"},
        {"line breaks in a value cannot start a line", "", "a", "k", "1\r\n[b]", "[a]\r\nk=1  [b]\r\n"},
        {"binary file gets a section at its end", "\0\xff"s, "a", "k", "v",
         "\0\xff\r\n[a]\r\nk=v\r\n"s},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.File("case.ini");
        TempDir::Write(path, c.before);
        TIniFile(path).WriteString(c.section, c.key, c.value);
        EXPECT_EQ(TempDir::Read(path), c.after) << c.name;
    }
}

TEST(IniFile, AWriteThatCannotReachTheFileRaisesAndNamesThePath)
{
    TempDir dir;
    TIniFile noFolder(dir.File("missing") + "/quillpost.ini");
    EXPECT_EQ(WriteError(noFolder), "Unable to write to " + noFolder.FileName());

    TIniFile folder(dir.Path.string());
    EXPECT_EQ(WriteError(folder), "Unable to write to " + folder.FileName());
}

TEST(IniFile, AFailedWriteLeavesTheOldFileWhole)
{
    TempDir dir;
    const std::string path = dir.File("quillpost.ini");
    const std::string before = "[account1]\r\nname=Ann\r\n";
    TempDir::Write(path, before);
    TIniFile ini(path);

    // A file size limit makes the new text fail to reach the disk, even for root.
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = WriteError(ini, std::string(200, 'y'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(message, "Unable to write to " + path);
    EXPECT_EQ(TempDir::Read(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1) << "no temporary file is left";
}

TEST(IniFile, WritingThroughALinkUpdatesTheFileItNames)
{
    TempDir dir;
    TempDir::Write(dir.File("real.ini"), "[a]\r\nk=1\r\n");
    std::filesystem::create_symlink(dir.File("real.ini"), dir.File("link.ini"));
    TIniFile(dir.File("link.ini")).WriteString("a", "k", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(TempDir::Read(dir.File("real.ini")), "[a]\r\nk=2\r\n");
}

TEST(IniFile, AReadOnlyFileIsNotReplaced)
{
    TempDir dir;
    const std::string path = dir.File("quillpost.ini");
    const std::string before = "[account1]\r\nname=Ann\r\n";
    TempDir::Write(path, before);
    using std::filesystem::perms;
    std::filesystem::permissions(path, perms::owner_read | perms::group_read | perms::others_read);
    TIniFile ini(path);
    const std::string expected = "Unable to write to " + path;

    std::string message;
    if (::geteuid() != 0) {
        message = WriteError(ini);
    } else {
        // Root may write any file, so the write runs in a child as an ordinary user,
        // in a folder that user may change.
        std::filesystem::permissions(dir.Path, perms::all);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
            ::_exit(!dropped ? 2 : WriteError(ini) == expected ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "the child could not become an ordinary user";
        message = WEXITSTATUS(status) == 0 ? expected : "(written or another error)";
    }
    EXPECT_EQ(message, expected);
    EXPECT_EQ(TempDir::Read(path), before);
}
