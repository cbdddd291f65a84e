#include "IniFile.h"

#include "Exceptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t MaxValueLength = 2047;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y)
            return false;
    }
    return true;
}

enum class TLineKind { Other, Section, Entry };

// One line of the file: its text is [Start, End), the next line begins at Next.
struct TProfileLine {
    size_t Start = 0, End = 0, Next = 0;
    TLineKind Kind = TLineKind::Other;
    std::string_view Name;  // section name or key, trimmed
    std::string_view Value; // entry value, trimmed
    size_t ValueStart = 0;  // just after the "="
};

TProfileLine ParseLine(std::string_view text, size_t start, size_t end)
{
    TProfileLine line;
    line.Start = start;
    line.End = end;
    std::string_view body = Trim(text.substr(start, end - start));
    if (!body.empty() && body.front() == '[') {
        // A header without "]" names the rest of the line.
        std::string_view name = body.substr(1);
        name = name.substr(0, name.find(']'));
        line.Kind = TLineKind::Section;
        line.Name = Trim(name);
        return line;
    }
    size_t equals = text.substr(start, end - start).find('=');
    if (equals == std::string_view::npos)
        return line; // blank lines and lines without "=" carry no value
    line.Kind = TLineKind::Entry;
    line.Name = Trim(text.substr(start, equals));
    line.ValueStart = start + equals + 1;
    line.Value = Trim(text.substr(line.ValueStart, end - line.ValueStart));
    return line;
}

// Lines end at CR LF, LF or CR; a UTF-8 byte order mark before the first line is skipped.
std::vector<TProfileLine> SplitLines(std::string_view text)
{
    std::vector<TProfileLine> lines;
    size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        TProfileLine line = ParseLine(text, start, end);
        line.Next = end;
        if (line.Next < text.size())
            line.Next += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
        lines.push_back(line);
        start = line.Next;
    }
    return lines;
}

// Index of the first header named Section, or -1.
int FindSection(const std::vector<TProfileLine>& lines, std::string_view section)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].Kind == TLineKind::Section && SameName(lines[i].Name, section))
            return static_cast<int>(i);
    return -1;
}

// One past the last line of the section whose header is at index header.
size_t SectionEnd(const std::vector<TProfileLine>& lines, int header)
{
    size_t i = static_cast<size_t>(header) + 1;
    while (i < lines.size() && lines[i].Kind != TLineKind::Section)
        ++i;
    return i;
}

// Index of the first entry named Ident in the section, or -1.
int FindEntry(const std::vector<TProfileLine>& lines, int header, std::string_view ident)
{
    const size_t end = SectionEnd(lines, header);
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
        if (lines[i].Kind == TLineKind::Entry && SameName(lines[i].Name, ident))
            return static_cast<int>(i);
    return -1;
}

// The last line of the section that is not blank (the header when there is none).
const TProfileLine& LastFilledLine(const std::vector<TProfileLine>& lines, std::string_view text, int header)
{
    size_t last = static_cast<size_t>(header);
    const size_t end = SectionEnd(lines, header);
    for (size_t i = last + 1; i < end; ++i)
        if (!Trim(text.substr(lines[i].Start, lines[i].End - lines[i].Start)).empty())
            last = i;
    return lines[last];
}

std::string_view StripQuotes(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

enum class TLoadResult { Loaded, Missing, Failed };

TLoadResult LoadFile(const std::string& path, std::string& text)
{
    // Non-blocking, so that a FIFO in the file's place cannot hang the program.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? TLoadResult::Missing : TLoadResult::Failed;
    struct stat info {};
    TLoadResult result = TLoadResult::Loaded;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        result = TLoadResult::Failed;
    text.clear();
    char block[65536];
    while (result == TLoadResult::Loaded) {
        ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result = TLoadResult::Failed;
        if (got <= 0)
            break;
        text.append(block, static_cast<size_t>(got));
    }
    ::close(fd);
    return result;
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(put));
    }
    return ::fsync(fd) == 0;
}

// Writes a new file. The old file, if any, is replaced only once the new text is
// complete on disk, so a failed write leaves it as it was.
bool SaveFile(const std::string& path, std::string_view text)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            return false;
        bool ok = WriteAll(fd, text);
        ok = ::close(fd) == 0 && ok;
        if (!ok)
            ::unlink(path.c_str());
        return ok;
    }
    // Through a symbolic link the file it names is replaced, not the link.
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return false;
    // Replacing needs only the folder's permission; a file the user may not write stays as it is.
    if (::access(resolved, W_OK) != 0)
        return false;
    std::string temp = std::string(resolved) + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, info.st_mode & 07777) == 0 && WriteAll(fd, text);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), resolved) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

// A line break inside a value would start a new line of the file.
std::string OneLine(std::string value)
{
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    return value;
}

} // namespace

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const
{
    std::string text;
    if (LoadFile(FFileName, text) == TLoadResult::Loaded) {
        auto lines = SplitLines(text);
        int header = FindSection(lines, Section);
        int entry = header < 0 ? -1 : FindEntry(lines, header, Ident);
        if (entry >= 0)
            return std::string(StripQuotes(lines[static_cast<size_t>(entry)].Value).substr(0, MaxValueLength));
    }
    // The default comes back without trailing blanks, as the file's values do.
    std::string_view value = Default;
    while (!value.empty() && IsBlank(value.back()))
        value.remove_suffix(1);
    return std::string(value.substr(0, MaxValueLength));
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value)
{
    std::string text;
    if (LoadFile(FFileName, text) == TLoadResult::Failed)
        throw Exception(FormatMessage("Unable to write to %s", FFileName));
    auto lines = SplitLines(text);
    const std::string entry = Ident + "=" + OneLine(Value) + "\r\n";
    int header = FindSection(lines, Section);
    if (header < 0) {
        std::string added = "[" + Section + "]\r\n" + entry;
        if (!text.empty() && text.back() != '\n' && text.back() != '\r')
            added.insert(0, "\r\n");
        text += added;
    } else if (int at = FindEntry(lines, header, Ident); at >= 0) {
        const TProfileLine& line = lines[static_cast<size_t>(at)];
        text.replace(line.ValueStart, line.End - line.ValueStart, OneLine(Value));
    } else {
        const TProfileLine& last = LastFilledLine(lines, text, header);
        text.insert(last.Next, last.Next == last.End ? "\r\n" + entry : entry);
    }
    if (!SaveFile(FFileName, text))
        throw Exception(FormatMessage("Unable to write to %s", FFileName));
}
