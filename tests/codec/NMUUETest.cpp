#include "support/TempDir.h"

#include "codec/NMUUE.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

std::string Encode(const std::string& source, UUMethods method)
{
    TMemoryStream in, out;
    in.WriteBuffer(source.data(), static_cast<int64_t>(source.size()));
    TNMUUProcessor uu;
    uu.Method = method;
    uu.SourceStream = &in;
    uu.TargetStream = &out;
    uu.Encode();
    return out.ToString();
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

// The system's base64 tool, with 60-character lines ending in CR LF.
std::string ReferenceBase64(const TempDir& dir, const std::string& source)
{
    const std::string path = dir.File("source.bin");
    TempDir::Write(path, source);
    std::FILE* pipe = ::popen(("base64 -w 60 < '" + path + "'").c_str(), "r");
    if (!pipe)
        return "(base64 tool did not start)";
    std::string text;
    char block[65536];
    for (size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;)
        text.append(block, got);
    if (::pclose(pipe) != 0)
        return "(base64 tool failed)";
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 60 + 1);
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    return crlf;
}

// A source that hands out at most MaxRead bytes per read, may claim more than it holds,
// and may fail after FailAfter bytes.
class TestSource : public TMemoryStream {
public:
    int64_t MaxRead = 1 << 30;
    int64_t ClaimedSize = -1;
    int64_t FailAfter = -1;
    std::vector<int64_t> Requests;

    int64_t Read(void* Buffer, int64_t Count) override
    {
        Requests.push_back(Count);
        if (FailAfter >= 0 && Position() >= FailAfter)
            throw EReadError("Stream read error");
        return TMemoryStream::Read(Buffer, std::min(Count, MaxRead));
    }
    int64_t Seek(int64_t Offset, uint16_t Origin) override
    {
        if (Origin == soFromEnd && ClaimedSize >= 0)
            return TMemoryStream::Seek(ClaimedSize + Offset, soFromBeginning);
        return TMemoryStream::Seek(Offset, Origin);
    }
};

// A target that refuses writes once it holds Capacity bytes.
class FullTarget : public TMemoryStream {
public:
    int64_t Capacity = 0;
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        if (Position() + Count > Capacity)
            throw EWriteError("Stream write error");
        return TMemoryStream::Write(Buffer, Count);
    }
};

} // namespace

TEST(Encoder, Base64MatchesTheRfc4648Vectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg==\r\n"},
        {"fo", "Zm8=\r\n"},
        {"foo", "Zm9v\r\n"},
        {"foob", "Zm9vYg==\r\n"},
        {"fooba", "Zm9vYmE=\r\n"},
        {"foobar", "Zm9vYmFy\r\n"},
    };
    for (const auto& [source, expected] : vectors)
        EXPECT_EQ(Encode(source, uuMime), expected) << "source: " << source;
}

TEST(Encoder, Base64MatchesTheSystemToolInSixtyCharacterLines)
{
    TempDir dir;
    for (size_t n = 0; n <= 200; ++n) {
        const std::string source = RandomBytes(n, static_cast<unsigned>(n));
        ASSERT_EQ(Encode(source, uuMime), ReferenceBase64(dir, source)) << n << " bytes";
    }
    const std::string large = RandomBytes(3'000'017, 2024); // two bytes in the last group
    const std::string text = Encode(large, uuMime);
    EXPECT_TRUE(text == ReferenceBase64(dir, large)) << "a large random source";
    EXPECT_EQ(text.find('='), text.size() - 3) << "'=' only at the end of the last line";
}

TEST(Encoder, UuencodeLines)
{
    const std::string cat45 = [] {
        std::string s;
        for (int i = 0; i < 15; ++i)
            s += "Cat";
        return s;
    }();
    std::string catLine = "M";
    for (int i = 0; i < 15; ++i)
        catLine += "0V%T";
    const std::pair<std::string, std::string> cases[] = {
        {"", "`\r\n"},
        {"abc", "#86)C\r\n`\r\n"},
        {"a", "!80\r\n`\r\n"},
        {"ab", "\"86(\r\n`\r\n"},
        {std::string(3, '\0'), "#````\r\n`\r\n"},
        {cat45, catLine + "\r\n`\r\n"},
        {cat45 + "a", catLine + "\r\n!80\r\n`\r\n"},
    };
    for (const auto& [source, expected] : cases)
        EXPECT_EQ(Encode(source, uuCode), expected) << "source: " << testing::PrintToString(source);
    EXPECT_EQ(Encode(std::string(200, '\0'), uuCode).find(' '), std::string::npos) << "zero is never a space";
}

TEST(Encoder, EncodesTheWholeSourceAndRewindsTheTarget)
{
    TMemoryStream in, out;
    in.WriteBuffer("foobar", 6); // left at its end: the position before the call does not matter
    out.WriteBuffer("X-", 2);
    TNMUUProcessor uu;
    uu.SourceStream = &in;
    uu.TargetStream = &out;
    std::vector<std::string> events;
    uu.OnBeginEncode = [&](TObject* sender) { events.push_back(sender == &uu ? "begin" : "begin?"); };
    uu.OnEndEncode = [&](TObject* sender) {
        events.push_back(sender == &uu ? "end" : "end?");
        EXPECT_EQ(out.Position(), 0) << "rewound before the end is reported";
    };
    uu.Encode();
    EXPECT_EQ(out.ToString(), "X-Zm9vYmFy\r\n");
    EXPECT_EQ(out.Position(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"begin", "end"}));

    uu.Method = uuCode;
    out.Clear();
    uu.Encode();
    EXPECT_EQ(out.ToString(), "&9F]O8F%R\r\n`\r\n") << "the same instance encodes again with the new method";
    EXPECT_EQ(std::string(uu.Alphabet, 2), "`!");
}

TEST(Encoder, EachLineEncodesTheBytesOfOneRead)
{
    TestSource in;
    in.WriteBuffer("abcdefgh", 8);
    in.MaxRead = 3;
    TMemoryStream out;
    TNMUUProcessor uu;
    uu.SourceStream = &in;
    uu.TargetStream = &out;
    uu.Encode();
    EXPECT_EQ(out.ToString(), "YWJj\r\nZGVm\r\nZ2g=\r\n");
    EXPECT_EQ(in.Requests, (std::vector<int64_t>{45, 45, 45}));
}

TEST(Encoder, ASourceThatHoldsLessThanItsSizeEndsTheEncoding)
{
    TestSource in;
    in.WriteBuffer("abc", 3);
    in.ClaimedSize = 1000;
    TMemoryStream out;
    TNMUUProcessor uu;
    uu.SourceStream = &in;
    uu.TargetStream = &out;
    uu.Encode();
    EXPECT_EQ(out.ToString(), "YWJj\r\n");
}

TEST(Encoder, FailingStreamsStillRewindAndReportTheEnd)
{
    struct Case {
        const char* name;
        int64_t sourceFailsAfter;
        int64_t targetCapacity;
        const char* message;
        std::string written;
    };
    std::string line;
    for (int i = 0; i < 15; ++i)
        line += "QUFB"; // "AAA"
    line += "\r\n";
    const Case cases[] = {
        {"source fails on its third read", 90, 1 << 20, "Stream read error", line + line},
        {"target full after one line", -1, 70, "Stream write error", line},
    };
    for (const auto& c : cases) {
        TestSource in;
        const std::string source(200, 'A');
        in.WriteBuffer(source.data(), 200);
        in.FailAfter = c.sourceFailsAfter;
        FullTarget out;
        out.Capacity = c.targetCapacity;
        TNMUUProcessor uu;
        uu.SourceStream = &in;
        uu.TargetStream = &out;
        int ends = 0;
        uu.OnEndEncode = [&](TObject*) { ++ends; };
        try {
            uu.Encode();
            ADD_FAILURE() << c.name << ": nothing raised";
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
        EXPECT_EQ(ends, 1) << c.name;
        EXPECT_EQ(out.Position(), 0) << c.name;
        EXPECT_EQ(out.ToString(), c.written) << c.name;
    }
}

TEST(Encoder, AFailingBeginHandlerStopsBeforeAnything)
{
    TMemoryStream in, out;
    in.WriteBuffer("abc", 3);
    out.WriteBuffer("x", 1);
    TNMUUProcessor uu;
    uu.SourceStream = &in;
    uu.TargetStream = &out;
    bool ended = false;
    uu.OnBeginEncode = [](TObject*) { throw Exception("stop"); };
    uu.OnEndEncode = [&](TObject*) { ended = true; };
    EXPECT_THROW(uu.Encode(), Exception);
    EXPECT_FALSE(ended);
    EXPECT_EQ(out.Position(), 1) << "the target is not rewound";
    EXPECT_EQ(out.ToString(), "x");
}
