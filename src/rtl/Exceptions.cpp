#include "Exceptions.h"

namespace {

std::string ReplaceFirst(const std::string& pattern, const char* placeholder, const std::string& value)
{
    std::string result = pattern;
    auto at = result.find(placeholder);
    if (at != std::string::npos)
        result.replace(at, 2, value);
    return result;
}

} // namespace

std::string FormatMessage(const std::string& pattern, const std::string& value)
{
    return ReplaceFirst(pattern, "%s", value);
}

std::string FormatMessage(const std::string& pattern, long long value)
{
    return ReplaceFirst(pattern, "%d", std::to_string(value));
}

std::string ErrorBoxText(const std::string& Message)
{
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.')
        return Message + ".";
    return Message;
}
