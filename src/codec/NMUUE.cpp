#include "NMUUE.h"

#include <array>
#include <cstring>

namespace {

constexpr char MimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Value 0 is the grave accent, never a space; 1..63 are "!".."_".
constexpr char UUAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

constexpr int BytesPerLine = 45;
constexpr int MaxLineLength = 1 + BytesPerLine / 3 * 4 + 2; // length character, text, CR LF

// Two output characters for every 12-bit value, so a group of three bytes takes two look-ups.
using TPairTable = std::array<char, 2 * 4096>;

constexpr TPairTable MakePairs(const char* alphabet)
{
    TPairTable pairs {};
    for (int v = 0; v < 4096; ++v) {
        pairs[2 * v] = alphabet[v >> 6];
        pairs[2 * v + 1] = alphabet[v & 63];
    }
    return pairs;
}

constexpr TPairTable MimePairs = MakePairs(MimeAlphabet);
constexpr TPairTable UUPairs = MakePairs(UUAlphabet);

// Writes the characters of n source bytes (n <= 45) and returns the end of the text.
char* EncodeLine(char* out, const unsigned char* in, int n, const char* alphabet, const char* pairs, bool mime)
{
    int i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(out, pairs + 2 * (v >> 12), 2);
        std::memcpy(out + 2, pairs + 2 * (v & 0xFFF), 2);
        out += 4;
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
    const char* pairs = mime ? MimePairs.data() : UUPairs.data();
    unsigned char block[BytesPerLine];
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
