// Turns all bytes of one stream into lines of 7-bit text (Base64 or uuencode)
// appended to another stream.
#pragma once

#include "rtl/Classes.h"
#include "rtl/Streams.h"

#include <cstdint>

enum UUMethods : uint8_t { uuMime = 0, uuCode = 1 };

class TNMUUProcessor : public TObject {
public:
    TNMUUProcessor() = default;

    // Encodes SourceStream from its first byte to its end at TargetStream's position, 45 source
    // bytes per line, and leaves TargetStream at position 0. OnEndEncode fires however it ends.
    void Encode();
    // Copies the table of the current Method into Alphabet.
    void SelectAlphabet();

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode; // never fired: there is no decoder
    TNotifyEvent OnEndDecode;   // never fired
    char Alphabet[64] = {};
    TStream* SourceStream = nullptr; // borrowed
    TStream* TargetStream = nullptr; // borrowed
    UUMethods Method = uuMime;

private:
    void EncodeLines();
};
