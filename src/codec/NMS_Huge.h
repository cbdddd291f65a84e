// Byte-block helpers for the buffered stream.
#pragma once

#include <cstdint>
#include <cstring>

// The address N bytes after P.
inline void* OffsetPointer(void* P, int64_t N)
{
    return static_cast<char*>(P) + N;
}
inline const void* OffsetPointer(const void* P, int64_t N)
{
    return static_cast<const char*>(P) + N;
}

// Copies N bytes from Src to Dest; the blocks may overlap.
inline void MoveBytes(void* Dest, const void* Src, int64_t N)
{
    std::memmove(Dest, Src, static_cast<size_t>(N));
}
