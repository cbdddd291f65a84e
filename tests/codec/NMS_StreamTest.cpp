#include "support/MessageOf.h"
#include "codec/NMS_Huge.h"
#include "codec/NMS_Stream.h"
#include "rtl/Exceptions.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A base stream that records every call made on it.
class RecordingStream : public TMemoryStream {
public:
    explicit RecordingStream(const std::string& content = "")
    {
        TMemoryStream::Write(content.data(), static_cast<int64_t>(content.size()));
        TMemoryStream::Seek(0, soFromBeginning);
    }

    int64_t Read(void* Buffer, int64_t Count) override
    {
        Calls.push_back("Read " + std::to_string(Count));
        return TMemoryStream::Read(Buffer, Count);
    }
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        Calls.push_back("Write " + std::to_string(Count));
        return TMemoryStream::Write(Buffer, std::min(Count, TakesAtMost));
    }
    int64_t Seek(int64_t Offset, uint16_t Origin) override
    {
        Calls.push_back("Seek " + std::to_string(Offset) + "," + std::to_string(Origin));
        return TMemoryStream::Seek(Offset, Origin);
    }

    std::vector<std::string> Only(const std::string& kind) const
    {
        std::vector<std::string> result;
        for (const auto& call : Calls)
            if (call.starts_with(kind))
                result.push_back(call);
        return result;
    }
    int64_t BasePosition() { return TMemoryStream::Seek(0, soFromCurrent); }

    std::vector<std::string> Calls;
    int64_t TakesAtMost = INT64_MAX;
};

class Buffered : public TS_BufferStream {
public:
    using TS_BufferStream::Mode;
    using TS_BufferStream::TMode;
    using TS_BufferStream::TS_BufferStream;
};
using TMode = Buffered::TMode;

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 31 + i / 26) % 26);
    return s;
}

std::string ReadText(TStream& s, int64_t count)
{
    std::string text(static_cast<size_t>(count), '\0');
    text.resize(static_cast<size_t>(s.Read(text.data(), count)));
    return text;
}

} // namespace

TEST(BufferStream, HugeHelpers)
{
    char bytes[] = "abcdef";
    EXPECT_EQ(OffsetPointer(bytes, 4), bytes + 4);
    MoveBytes(bytes + 1, bytes, 4); // overlapping
    EXPECT_STREQ(bytes, "aabcdf");
}

TEST(BufferStream, OutputReachesTheBaseInWholeBlocks)
{
    RecordingStream base;
    const std::string data = Pattern(70000);
    Buffered s(&base);
    for (size_t at = 0; at < data.size(); at += 62)
        s.WriteBuffer(data.data() + at, static_cast<int64_t>(std::min<size_t>(62, data.size() - at)));
    EXPECT_EQ(base.Only("Write"), (std::vector<std::string>{"Write 32768", "Write 32768"}));
    EXPECT_EQ(s.Mode, TMode::Writing);

    s.SetPosition(0);
    EXPECT_EQ(base.Only("Write"), (std::vector<std::string>{"Write 32768", "Write 32768", "Write 4464"}));
    EXPECT_TRUE(base.ToString() == data);
    EXPECT_EQ(base.BasePosition(), 0);
    EXPECT_EQ(s.Mode, TMode::Idle);
}

TEST(BufferStream, AFullBlockIsFlushedAtOnce)
{
    RecordingStream base;
    Buffered s(&base);
    const std::string data = Pattern(32768);
    s.WriteBuffer(data.data(), 32768);
    EXPECT_EQ(base.Only("Write"), (std::vector<std::string>{"Write 32768"}));
    EXPECT_EQ(s.Mode, TMode::Idle);
    EXPECT_EQ(s.BufferOffset(), 0);
    EXPECT_EQ(s.Position(), 32768);
}

TEST(BufferStream, RewindAfterASmallWriteThenReadBack)
{
    RecordingStream base;
    Buffered s(&base);
    const std::string data = Pattern(100);
    s.WriteBuffer(data.data(), 100);
    EXPECT_TRUE(base.Calls.empty());
    s.SetPosition(0);
    EXPECT_EQ(base.Calls, (std::vector<std::string>{"Seek 0,1", "Write 100", "Seek 0,0"}));
    EXPECT_EQ(base.BasePosition(), 0);
    EXPECT_EQ(s.Mode, TMode::Idle);

    base.Calls.clear();
    EXPECT_EQ(ReadText(s, 100), data);
    EXPECT_EQ(base.Calls, (std::vector<std::string>{"Read 32768"}));
}

TEST(BufferStream, SeekingToTheCurrentPositionOrWithABadOriginChangesNothing)
{
    RecordingStream base;
    Buffered s(&base);
    s.WriteBuffer("0123456789", 10);
    EXPECT_EQ(s.Position(), 10);
    s.SetPosition(10);
    EXPECT_EQ(MessageOf<Exception>([&] { s.Seek(0, 3); }), "Invalid seek origin = 3");
    EXPECT_TRUE(base.Only("Write").empty());
    EXPECT_EQ(s.Mode, TMode::Writing);
    EXPECT_EQ(s.Position(), 10);
}

TEST(BufferStream, SizeAndSeekFromTheEnd)
{
    RecordingStream base;
    Buffered s(&base);
    const std::string data = Pattern(100);
    s.WriteBuffer(data.data(), 100);
    EXPECT_EQ(s.Size(), 100) << "pending output counts";
    EXPECT_TRUE(base.Only("Write").empty()) << "asking for the size flushes nothing";
    EXPECT_EQ(s.Position(), 100);

    s.SetPosition(0);
    EXPECT_EQ(s.Size(), static_cast<int64_t>(base.ToString().size()));
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(s.Seek(5, soFromEnd), 95) << "a positive offset lands before the end";
    EXPECT_EQ(ReadText(s, 10), data.substr(95));
}

TEST(BufferStream, ReadsAskTheBaseForFullBlocks)
{
    const std::string data = Pattern(40000);
    RecordingStream base(data);
    Buffered s(&base);
    std::string got;
    for (int i = 0; i < 40; ++i)
        got += ReadText(s, 1000);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(ReadText(s, 1000), "");
    EXPECT_EQ(base.Only("Read"), (std::vector<std::string>{"Read 32768", "Read 32768", "Read 32768"}));
    EXPECT_EQ(s.Mode, TMode::Idle);
}

TEST(BufferStream, PutBackRoomIsWhatThisFillHandedOut)
{
    const std::string data = Pattern(40000);
    RecordingStream base(data);
    Buffered s(&base);
    EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack('x'); }), "PutBack overflow") << "nothing read yet";

    ASSERT_EQ(ReadText(s, 5), data.substr(0, 5));
    for (char c : std::string("54321"))
        s.PutBack(c);
    EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack('x'); }), "PutBack overflow");
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(ReadText(s, 7), "12345" + data.substr(5, 2));

    s.SetPosition(10);
    EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack('x'); }), "PutBack overflow") << "right after a seek";

    s.SetPosition(0);
    ASSERT_EQ(ReadText(s, 32767), data.substr(0, 32767));
    ASSERT_EQ(ReadText(s, 2), data.substr(32767, 2)); // the second byte comes from a new fill
    s.PutBack('z');
    EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack('x'); }), "PutBack overflow") << "no room before the refill";
    EXPECT_EQ(ReadText(s, 2), (std::string{'z', data[32769]}));
}

TEST(BufferStream, DirectionSwitchesKeepTheLogicalPosition)
{
    RecordingStream base("0123456789");
    Buffered s(&base);
    EXPECT_EQ(ReadText(s, 3), "012");
    s.WriteBuffer("ab", 2);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(0);
    EXPECT_EQ(base.ToString(), "012ab56789") << "the unread read-ahead is not skipped";

    s.WriteBuffer("XY", 2);
    EXPECT_EQ(ReadText(s, 3), "2ab") << "a read after a write starts after the written bytes";
    EXPECT_EQ(s.Position(), 5);
    EXPECT_EQ(base.ToString(), "XY2ab56789");
}

TEST(BufferStream, AWriteAfterReadingPastTheEndAppends)
{
    RecordingStream base("abc");
    Buffered s(&base);
    EXPECT_EQ(ReadText(s, 10), "abc");
    s.WriteBuffer("de", 2);
    s.SetPosition(0);
    EXPECT_EQ(base.ToString(), "abcde");
}

TEST(BufferStream, ShortFlushes)
{
    RecordingStream base;
    base.TakesAtMost = 60;
    {
        Buffered s(&base);
        s.WriteBuffer(Pattern(100).data(), 100);
        EXPECT_EQ(MessageOf<EStreamError>([&] { s.SetPosition(0); }), "Seek error");
        EXPECT_EQ(s.Mode, TMode::Idle);
        EXPECT_EQ(base.BasePosition(), 60) << "the base is not moved to the target";
        EXPECT_EQ(s.Write(Pattern(40000).data(), 40000), 0) << "the lost block held all of this write";
        char c;
        EXPECT_EQ(MessageOf<EStreamError>([&] { s.WriteBuffer(Pattern(100).data(), 100); s.Read(&c, 1); }),
                  "Stream write error") << "output that cannot reach the base is not read over";
    }
}

TEST(BufferStream, NotificationsFollowEveryFillAndFlush)
{
    RecordingStream base;
    Buffered s(&base);
    std::vector<std::string> seen;
    s.AfterFill = [&](TObject* sender) { seen.push_back(sender == &s ? "fill" : "fill?"); };
    s.AfterFlush = [&](TObject* sender) { seen.push_back(sender == &s ? "flush" : "flush?"); };
    const std::string data = Pattern(40000);
    s.WriteBuffer(data.data(), 40000);
    s.SetPosition(0);
    EXPECT_TRUE(ReadText(s, 50000) == data);
    EXPECT_EQ(seen, (std::vector<std::string>{"flush", "flush", "fill", "fill", "fill"}));
}

TEST(BufferStream, DestructionFlushesAndTheBaseKeepsItsPosition)
{
    RecordingStream base("0123");
    {
        Buffered s(&base);
        s.SetPosition(4);
        s.WriteBuffer("456", 3);
    }
    EXPECT_EQ(base.ToString(), "0123456");
    EXPECT_EQ(base.BasePosition(), 7);
}
