// A stream that passes everything through one memory block in front of a base
// stream, so that many small reads and writes reach the base as few whole blocks.
#pragma once

#include "rtl/Classes.h"
#include "rtl/Streams.h"

#include <cstdint>
#include <memory>

// Capacity of the block of every new buffered stream.
inline constexpr int32_t DefaultBufferSize = 32768;

class TS_BufferStream : public TStream {
public:
    enum class TMode : uint8_t { Idle = 0, Reading = 1, Writing = 2 };

    // The base is borrowed: it is never freed here and outlives this stream.
    explicit TS_BufferStream(TStream* Base);
    TS_BufferStream(const TS_BufferStream&) = delete;
    TS_BufferStream& operator=(const TS_BufferStream&) = delete;
    // Flushes pending output; the base keeps its position.
    ~TS_BufferStream() override;

    // Fewer than Count only when the base is exhausted.
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Origin 2 counts backwards: a positive Offset lands before the end.
    int64_t Seek(int64_t Offset, uint16_t Origin) override;

    // True when the base delivered at least one byte.
    virtual bool FillBuffer();
    // Steps back one byte inside the block and stores Ch there.
    virtual void PutBack(char Ch);
    virtual void DoAfterFill();
    virtual void DoAfterFlush();
    // True when the base took all pending bytes; the block is empty afterwards either way.
    virtual bool FlushBuffer();

    // Logical position minus the base's position.
    int64_t BufferOffset() const;

    TNotifyEvent AfterFill;
    TNotifyEvent AfterFlush;

protected:
    TStream* BaseStream;
    std::unique_ptr<char[]> Buffer;
    char* Cursor = nullptr; // Reading: next byte to hand out; Writing: next free byte
    char* Limit;            // Reading: end of the read-ahead; Writing: end of the block
    int32_t BufferSize;
    TMode Mode = TMode::Idle;
};
