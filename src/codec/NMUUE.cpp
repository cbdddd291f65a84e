#include "NMUUE.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr char MimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Value 0 is the grave accent, never a space; 1..63 are "!".."_".
constexpr char UUAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

constexpr int BytesPerLine = 45;
constexpr int BlockSize = BytesPerLine + 3; // room for the last 8-byte load of a line
constexpr int MaxLineLength = 1 + BytesPerLine / 3 * 4 + 2; // length character, text, CR LF

// The two output characters of every 12-bit value, first character in the low byte,
// so that a group of three bytes takes two look-ups.
using TPairTable = std::array<uint16_t, 4096>;

constexpr TPairTable MakePairs(const char* alphabet)
{
    TPairTable pairs {};
    for (int v = 0; v < 4096; ++v)
        pairs[v] = static_cast<uint16_t>(static_cast<unsigned char>(alphabet[v >> 6]) |
                                         static_cast<unsigned char>(alphabet[v & 63]) << 8);
    return pairs;
}

constexpr TPairTable MimePairs = MakePairs(MimeAlphabet);
constexpr TPairTable UUPairs = MakePairs(UUAlphabet);

static_assert(std::endian::native == std::endian::little, "the pair tables are stored low byte first");

// Eight characters from six bytes: one load, four look-ups, one store. Reads in[0..7].
inline void EncodeSix(char* out, const unsigned char* in, const uint16_t* pairs)
{
    uint64_t v;
    std::memcpy(&v, in, 8);
    v = __builtin_bswap64(v); // first byte in the highest bits
    uint64_t text = uint64_t(pairs[v >> 52]) | uint64_t(pairs[(v >> 40) & 0xFFF]) << 16 |
                    uint64_t(pairs[(v >> 28) & 0xFFF]) << 32 | uint64_t(pairs[(v >> 16) & 0xFFF]) << 48;
    std::memcpy(out, &text, 8);
}

// Writes the characters of n source bytes (n <= 45, block of BlockSize bytes) and returns
// the end of the text.
char* EncodeLine(char* out, const unsigned char* in, int n, const char* alphabet, const uint16_t* pairs, bool mime)
{
    int i = 0;
    for (; i + 6 <= n; i += 6, out += 8)
        EncodeSix(out, in + i, pairs);
    if (i + 3 <= n) {
        unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(out, &pairs[v >> 12], 2);
        std::memcpy(out + 2, &pairs[v & 0xFFF], 2);
        out += 4;
        i += 3;
    }
    if (n - i == 1) {
        unsigned b1 = in[i];
        *out++ = alphabet[b1 >> 2];
        *out++ = alphabet[(b1 << 4) & 48];
        if (mime) {
            *out++ = '=';
            *out++ = '=';
        }
    } else if (n - i == 2) {
        unsigned b1 = in[i], b2 = in[i + 1];
        *out++ = alphabet[b1 >> 2];
        *out++ = alphabet[((b1 << 4) & 48) | (b2 >> 4)];
        *out++ = alphabet[(b2 << 2) & 60];
        if (mime)
            *out++ = '=';
    }
    return out;
}

} // namespace

void TNMUUProcessor::SelectAlphabet()
{
    std::memcpy(Alphabet, Method == uuCode ? UUAlphabet : MimeAlphabet, sizeof Alphabet);
}

void TNMUUProcessor::Encode()
{
    SourceStream->SetPosition(0);
    if (OnBeginEncode)
        OnBeginEncode(this);
    auto endEncode = [this] {
        TargetStream->SetPosition(0);
        if (OnEndEncode)
            OnEndEncode(this);
    };
    try {
        EncodeLines();
    } catch (...) {
        endEncode();
        throw;
    }
    endEncode();
}

void TNMUUProcessor::EncodeLines()
{
    SelectAlphabet();
    const bool mime = Method != uuCode;
    const uint16_t* pairs = mime ? MimePairs.data() : UUPairs.data();
    unsigned char block[BlockSize] = {};
    char line[MaxLineLength];

    // The size is taken once; the loop also ends when the source delivers nothing more,
    // so a source that reports more than it holds cannot make it spin.
    const int64_t size = SourceStream->Size();
    for (int64_t position = 0; position < size;) {
        int n = static_cast<int>(SourceStream->Read(block, BytesPerLine));
        if (n <= 0)
            break;
        position += n;
        char* out = line;
        if (!mime)
            *out++ = Alphabet[n & 63];
        out = EncodeLine(out, block, n, Alphabet, pairs, mime);
        *out++ = '\r';
        *out++ = '\n';
        TargetStream->WriteBuffer(line, out - line);
    }
    if (!mime) {
        const char last[] = {Alphabet[0], '\r', '\n'};
        TargetStream->WriteBuffer(last, sizeof last);
    }
}
