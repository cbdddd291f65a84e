#include "support/MessageOf.h"
#include "support/TempDir.h"

#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

} // namespace

TEST(MemoryStream, SeekOriginsPositionAndSize)
{
    TMemoryStream m;
    m.WriteBuffer("0123456789", 10);
    EXPECT_EQ(m.Position(), 10);
    EXPECT_EQ(m.Size(), 10);
    EXPECT_EQ(m.Seek(3, soFromBeginning), 3);
    EXPECT_EQ(m.Seek(2, soFromCurrent), 5);
    EXPECT_EQ(m.Seek(-4, soFromEnd), 6);
    EXPECT_EQ(m.Size(), 10);
    EXPECT_EQ(m.Position(), 6) << "asking for the size keeps the position";
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(m.Read(buf, 8), 0);
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros)
{
    TMemoryStream m;
    m.WriteBuffer("ab", 2);
    m.SetPosition(5);
    m.WriteBuffer("c", 1);
    EXPECT_EQ(m.ToString(), std::string("ab\0\0\0c", 6));
    m.SetSize(3);
    EXPECT_EQ(m.ToString(), std::string("ab\0", 3));
    EXPECT_EQ(m.Position(), 3);
}

TEST(MemoryStream, ReadAtANegativePositionGivesNothing)
{
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(-2);
    char buf[4];
    EXPECT_EQ(m.Read(buf, 4), 0);
    EXPECT_EQ(m.Write("x", 1), 0);
}

TEST(MemoryStream, LargeWritesKeepEveryByte)
{
    const std::string data = Pattern(3 << 20);
    TMemoryStream m;
    for (size_t at = 0; at < data.size(); at += 4093)
        m.WriteBuffer(data.data() + at, static_cast<int64_t>(std::min<size_t>(4093, data.size() - at)));
    EXPECT_TRUE(m.ToString() == data);
    m.SetSize(5 << 20);
    EXPECT_TRUE(m.ToString().substr(0, data.size()) == data) << "growing keeps the bytes";
    EXPECT_EQ(m.ToString().find_first_not_of('\0', data.size()), std::string::npos) << "and adds zeros";
    m.Clear();
    m.WriteBuffer("again", 5);
    EXPECT_EQ(m.ToString(), "again");
}

TEST(MemoryStream, ExactTransfersRaiseOnShortCounts)
{
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(1);
    char buf[4];
    EXPECT_EQ(MessageOf<EReadError>([&] { m.ReadBuffer(buf, 4); }), "Stream read error");

    TMemoryStream copy;
    EXPECT_EQ(copy.CopyFrom(m, 0), 3);
    EXPECT_EQ(copy.ToString(), "abc");
}

TEST(FileStream, ReadsTheFileInSmallAndLargePieces)
{
    TempDir dir;
    const std::string data = Pattern(200000);
    TempDir::Write(dir.File("f"), data);
    TFileStream f(dir.File("f"));
    EXPECT_EQ(f.Size(), 200000);

    std::string got(data.size(), '\0');
    int64_t at = 0;
    for (int64_t piece : {45, 45, 1, 70000, 3, 100000}) {
        ASSERT_EQ(f.Read(got.data() + at, piece), piece);
        at += piece;
    }
    EXPECT_EQ(f.Read(got.data() + at, 100000), 200000 - at);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(f.Read(got.data(), 1), 0);

    EXPECT_EQ(f.Seek(-10, soFromEnd), 199990);
    char tail[10];
    f.ReadBuffer(tail, 10);
    EXPECT_EQ(std::string(tail, 10), data.substr(199990));
    f.SetPosition(65535);
    f.ReadBuffer(tail, 2);
    EXPECT_EQ(std::string(tail, 2), data.substr(65535, 2)) << "a read across the internal block";
    EXPECT_EQ(f.Write("x", 1), 0) << "opened for reading only";
}

TEST(FileStream, OpenFailuresNameThePath)
{
    TempDir dir;
    const std::string missing = dir.File("no such file.txt");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(missing); }), "Cannot open file " + missing);
    const std::string folder = dir.Path.string();
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(folder); }), "Cannot open file " + folder);
}

TEST(FileStream, UnreadableFileCannotBeOpened)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which reads any file; the directory case covers the error";
    TempDir dir;
    const std::string path = dir.File("secret");
    TempDir::Write(path, "x");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(path); }), "Cannot open file " + path);
}

TEST(FileStream, AFifoIsRefusedWithoutWaitingForAWriter)
{
    TempDir dir;
    const std::string path = dir.File("fifo");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] { return MessageOf<EFOpenError>([&] { TFileStream f(path); }); });
    const bool done = opening.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
    // An open that waits for a writer is released by one, so that the test ends either way.
    for (int i = 0; i < 100 && opening.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready; ++i)
        if (int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK); writer >= 0)
            ::close(writer);
    EXPECT_TRUE(done) << "opening waited for a writer";
    EXPECT_EQ(opening.get(), "Cannot open file " + path);
}
