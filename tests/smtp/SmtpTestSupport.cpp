#include "SmtpTestSupport.h"

#include <random>

std::string MakeFile(const TempDir& Folder, const std::string& Name, const std::string& Content)
{
    std::string path = Folder.File(Name);
    TempDir::Write(path, Content);
    return path;
}

std::string RandomBytes(size_t Count, unsigned Seed)
{
    std::mt19937 generator(Seed);
    std::string result(Count, '\0');
    for (char& c : result)
        c = static_cast<char>(generator() & 0xFF);
    return result;
}

std::string Base64Lines(const std::string& Data)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string result;
    for (size_t line = 0; line < Data.size(); line += 45) {
        size_t end = std::min(Data.size(), line + 45);
        for (size_t i = line; i < end; i += 3) {
            unsigned b0 = static_cast<unsigned char>(Data[i]);
            unsigned b1 = i + 1 < end ? static_cast<unsigned char>(Data[i + 1]) : 0;
            unsigned b2 = i + 2 < end ? static_cast<unsigned char>(Data[i + 2]) : 0;
            unsigned v = b0 << 16 | b1 << 8 | b2;
            result += alphabet[v >> 18];
            result += alphabet[(v >> 12) & 63];
            result += i + 1 < end ? alphabet[(v >> 6) & 63] : '=';
            result += i + 2 < end ? alphabet[v & 63] : '=';
        }
        result += "\r\n";
    }
    return result;
}
