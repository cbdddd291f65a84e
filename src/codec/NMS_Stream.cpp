#include "NMS_Stream.h"

#include "NMS_Huge.h"
#include "rtl/Exceptions.h"

#include <algorithm>

TS_BufferStream::TS_BufferStream(TStream* Base)
    : BaseStream(Base), Buffer(new char[DefaultBufferSize]), Limit(Buffer.get() + DefaultBufferSize),
      BufferSize(DefaultBufferSize)
{
}

TS_BufferStream::~TS_BufferStream()
{
    if (Mode != TMode::Writing)
        return;
    try {
        FlushBuffer();
    } catch (...) {
        // A destructor cannot report a failed final flush; the bytes are lost as with a short one.
    }
}

int64_t TS_BufferStream::BufferOffset() const
{
    switch (Mode) {
    case TMode::Reading: return Cursor - Limit;
    case TMode::Writing: return Cursor - Buffer.get();
    case TMode::Idle: break;
    }
    return 0;
}

bool TS_BufferStream::FillBuffer()
{
    int64_t n = BaseStream->Read(Buffer.get(), BufferSize);
    Cursor = Buffer.get();
    Limit = Buffer.get() + n;
    bool result = n != 0;
    Mode = result ? TMode::Reading : TMode::Idle;
    DoAfterFill();
    return result;
}

bool TS_BufferStream::FlushBuffer()
{
    // Read-ahead is never written back to the base.
    int64_t count = (Mode == TMode::Reading || Cursor == nullptr) ? 0 : Cursor - Buffer.get();
    int64_t written = BaseStream->Write(Buffer.get(), count);
    Cursor = Buffer.get();
    Mode = TMode::Idle;
    DoAfterFlush();
    return written == count;
}

int64_t TS_BufferStream::Read(void* Buffer, int64_t Count)
{
    if (Mode != TMode::Reading) {
        // Output the base did not take cannot be read back: report it as a failed write.
        if (Mode == TMode::Writing && !FlushBuffer())
            throw EWriteError("Stream write error");
        Cursor = Limit;
    }
    int64_t total = 0;
    while (Count > 0) {
        if (Cursor == Limit && !FillBuffer())
            break;
        int64_t n = std::min<int64_t>(Limit - Cursor, Count);
        MoveBytes(Buffer, Cursor, n);
        Cursor += n;
        Buffer = OffsetPointer(Buffer, n);
        Count -= n;
        total += n;
    }
    return total;
}

int64_t TS_BufferStream::Write(const void* Buffer, int64_t Count)
{
    if (Mode != TMode::Writing) {
        if (Mode == TMode::Reading)
            BaseStream->Seek(Cursor - Limit, soFromCurrent); // give back the unread read-ahead
        Cursor = this->Buffer.get();
        Limit = Cursor + BufferSize;
        Mode = TMode::Writing;
    }
    int64_t total = 0;
    while (Count > 0) {
        int64_t n = std::min<int64_t>(Limit - Cursor, Count);
        MoveBytes(Cursor, Buffer, n);
        Cursor += n;
        Buffer = OffsetPointer(Buffer, n);
        Count -= n;
        total += n;
        // A short flush loses the block; report only this call's bytes that reached the base before it.
        if (Cursor == Limit && !FlushBuffer())
            return total - std::min<int64_t>(total, BufferSize);
    }
    Mode = Cursor == this->Buffer.get() ? TMode::Idle : TMode::Writing;
    return total;
}

int64_t TS_BufferStream::Seek(int64_t Offset, uint16_t Origin)
{
    int64_t basePosition = BaseStream->Position();
    int64_t current = basePosition + BufferOffset();
    int64_t target;
    switch (Origin) {
    case soFromBeginning: target = Offset; break;
    case soFromCurrent: target = current + Offset; break;
    case soFromEnd: {
        // Pending output lies beyond the base's end until it is flushed.
        int64_t end = BaseStream->Size();
        if (Mode == TMode::Writing)
            end = std::max(end, current);
        target = end - Offset;
        break;
    }
    default: throw Exception(FormatMessage("Invalid seek origin = %d", Origin));
    }
    if (target == current)
        return target;
    if (Mode == TMode::Writing && !FlushBuffer())
        throw EStreamError("Seek error");
    BaseStream->SetPosition(target);
    Cursor = nullptr;
    Mode = TMode::Idle;
    return target;
}

void TS_BufferStream::PutBack(char Ch)
{
    if (Cursor == nullptr || Cursor <= Buffer.get())
        throw EStreamError("PutBack overflow");
    --Cursor;
    *Cursor = Ch;
}

void TS_BufferStream::DoAfterFill()
{
    if (AfterFill)
        AfterFill(this);
}

void TS_BufferStream::DoAfterFlush()
{
    if (AfterFlush)
        AfterFlush(this);
}
