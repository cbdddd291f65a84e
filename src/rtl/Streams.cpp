#include "Streams.h"

#include "Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size()
{
    int64_t pos = Seek(0, soFromCurrent);
    int64_t result = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return result;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count)
{
    if (Count != 0 && Read(Buffer, Count) != Count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count)
{
    if (Count != 0 && Write(Buffer, Count) != Count)
        throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    const int64_t chunk = std::min<int64_t>(Count, 1 << 20);
    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(std::max<int64_t>(chunk, 1))]);
    int64_t left = Count;
    while (left > 0) {
        int64_t n = std::min(left, chunk);
        Source.ReadBuffer(buffer.get(), n);
        WriteBuffer(buffer.get(), n);
        left -= n;
    }
    return Count;
}

// --- TMemoryStream ---

namespace {

// From this capacity on the block is mapped pages that grow without copying and may be
// backed by huge pages: an encoded attachment is written once from start to end, and
// 4 KiB pages would cost one page fault each.
constexpr int64_t LargeBlock = 2 << 20;

char* GrowLarge(char* memory, int64_t size, int64_t capacity, int64_t newCapacity)
{
    void* grown;
    if (capacity >= LargeBlock) {
        grown = ::mremap(memory, static_cast<size_t>(capacity), static_cast<size_t>(newCapacity), MREMAP_MAYMOVE);
    } else {
        grown = ::mmap(nullptr, static_cast<size_t>(newCapacity), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
        if (grown != MAP_FAILED) {
            if (size > 0)
                std::memcpy(grown, memory, static_cast<size_t>(size));
            std::free(memory);
        }
    }
    if (grown == MAP_FAILED)
        throw std::bad_alloc();
    // Only advice: where huge pages are not available, ordinary pages serve.
    ::madvise(grown, static_cast<size_t>(newCapacity), MADV_HUGEPAGE);
    return static_cast<char*>(grown);
}

void Release(char* memory, int64_t capacity)
{
    if (capacity >= LargeBlock)
        ::munmap(memory, static_cast<size_t>(capacity));
    else
        std::free(memory);
}

} // namespace

TMemoryStream::~TMemoryStream()
{
    Release(FMemory, FCapacity);
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition < 0 || FPosition >= FSize)
        return 0;
    int64_t n = std::min(Count, FSize - FPosition);
    std::memcpy(Buffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition < 0)
        return 0;
    int64_t end = FPosition + Count;
    if (end > FCapacity)
        SetCapacity(std::max(end, FCapacity + FCapacity / 2));
    if (FPosition > FSize)
        std::memset(FMemory + FSize, 0, static_cast<size_t>(FPosition - FSize));
    std::memcpy(FMemory + FPosition, Buffer, static_cast<size_t>(Count));
    FSize = std::max(FSize, end);
    FPosition = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, uint16_t Origin)
{
    switch (Origin) {
    case soFromBeginning: FPosition = Offset; break;
    case soFromCurrent: FPosition += Offset; break;
    case soFromEnd: FPosition = FSize + Offset; break;
    }
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0)
        NewSize = 0;
    if (NewSize > FCapacity)
        SetCapacity(NewSize);
    if (NewSize > FSize)
        std::memset(FMemory + FSize, 0, static_cast<size_t>(NewSize - FSize));
    FSize = NewSize;
    FPosition = std::min(FPosition, FSize);
}

void TMemoryStream::Clear()
{
    Release(FMemory, FCapacity);
    FMemory = nullptr;
    FSize = FPosition = FCapacity = 0;
}

void TMemoryStream::SetCapacity(int64_t NewCapacity)
{
    NewCapacity = (NewCapacity + 8191) & ~int64_t(8191);
    if (NewCapacity >= LargeBlock) {
        NewCapacity = (NewCapacity + LargeBlock - 1) & ~(LargeBlock - 1);
        FMemory = GrowLarge(FMemory, FSize, FCapacity, NewCapacity);
    } else {
        void* grown = std::realloc(FMemory, static_cast<size_t>(NewCapacity));
        if (!grown)
            throw std::bad_alloc();
        FMemory = static_cast<char*>(grown);
    }
    FCapacity = NewCapacity;
}

void TMemoryStream::LoadFromFile(const std::string& FileName)
{
    TFileStream file(FileName);
    Clear();
    SetSize(file.Size());
    if (FSize > 0)
        file.ReadBuffer(FMemory, FSize);
    FPosition = 0;
}

// --- TFileStream ---

TFileStream::TFileStream(const std::string& FileName)
    : FBlock(new char[BlockSize])
{
    // Non-blocking, so that a FIFO cannot hold the open until a writer comes; only a
    // plain file has the bytes and the size this stream reads.
    FHandle = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (FHandle >= 0 && (::fstat(FHandle, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(FHandle);
        FHandle = -1;
    }
    if (FHandle < 0)
        throw EFOpenError(FormatMessage("Cannot open file %s", FileName));
}

TFileStream::~TFileStream()
{
    ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count)
{
    char* dest = static_cast<char*>(Buffer);
    int64_t total = 0;
    if (FPosition < 0)
        return 0;
    while (Count > 0) {
        int64_t inBlock = FPosition - FBlockStart;
        if (inBlock >= 0 && inBlock < FBlockLength) {
            int64_t n = std::min(Count, FBlockLength - inBlock);
            std::memcpy(dest, FBlock.get() + inBlock, static_cast<size_t>(n));
            dest += n; Count -= n; total += n; FPosition += n;
            continue;
        }
        // Large requests bypass the block; small ones refill it.
        bool direct = Count >= BlockSize;
        ssize_t got;
        do
            got = ::pread(FHandle, direct ? dest : FBlock.get(), static_cast<size_t>(direct ? Count : BlockSize), FPosition);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            throw EReadError("Stream read error");
        if (got == 0)
            break;
        if (direct) {
            dest += got; Count -= got; total += got; FPosition += got;
        } else {
            FBlockStart = FPosition;
            FBlockLength = got;
        }
    }
    return total;
}

int64_t TFileStream::Write(const void*, int64_t)
{
    return 0; // opened for reading only
}

int64_t TFileStream::Seek(int64_t Offset, uint16_t Origin)
{
    switch (Origin) {
    case soFromBeginning: FPosition = Offset; break;
    case soFromCurrent: FPosition += Offset; break;
    case soFromEnd: {
        struct stat info {};
        if (::fstat(FHandle, &info) == 0)
            FPosition = info.st_size + Offset;
        break;
    }
    }
    return FPosition;
}
