// The byte-stream family: an abstract stream whose Position and Size are derived
// from Seek, a growable in-memory stream and a read-only file stream.
#pragma once

#include "Classes.h"

#include <cstdint>
#include <memory>
#include <string>

enum : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
public:
    // Bytes actually read (0 at the end) / bytes actually written.
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // The new position. Origin: 0 from the beginning, 1 from the current position, 2 from the end.
    virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;
    virtual void SetSize(int64_t /*NewSize*/) {}

    // Position and Size go through Seek, so a derived stream sees every query.
    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
    int64_t Size();

    // Exact transfers: "Stream read error" / "Stream write error" when short.
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    // Copies Count bytes from Source's current position (Count 0: all of Source from its start).
    int64_t CopyFrom(TStream& Source, int64_t Count);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;
    ~TMemoryStream() override;

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;
    void SetSize(int64_t NewSize) override;

    void Clear();
    const char* Memory() const { return FMemory; }
    char* Memory() { return FMemory; }
    std::string ToString() const { return std::string(FMemory ? FMemory : "", static_cast<size_t>(FSize)); }
    void LoadFromFile(const std::string& FileName);

private:
    void SetCapacity(int64_t NewCapacity);

    char* FMemory = nullptr;
    int64_t FSize = 0;
    int64_t FPosition = 0;
    int64_t FCapacity = 0;
};

// Opens an existing plain file for reading only; a failure raises EFOpenError
// "Cannot open file %s". Small reads are served from an internal block.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& FileName);
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    ~TFileStream() override;

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;

private:
    static constexpr int64_t BlockSize = 65536;

    int FHandle = -1;
    int64_t FPosition = 0;        // logical position
    int64_t FBlockStart = 0;      // file offset of FBlock[0]
    int64_t FBlockLength = 0;     // valid bytes in FBlock
    std::unique_ptr<char[]> FBlock;
};
