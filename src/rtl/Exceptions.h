// The exception classes of the system. The message is the failure text the user sees.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// "Range error": a value outside what a field or buffer can hold.
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
    explicit ERangeError(std::string message) : Exception(std::move(message)) {}
};

class EStreamError : public Exception {
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
    using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
    using EStreamError::EStreamError;
};

class EListError : public Exception {
    using Exception::Exception;
};

class ESockError : public Exception {
    using Exception::Exception;
};
class EAbortError : public ESockError {
    using ESockError::ESockError;
};

// Replaces the first "%s" or "%d" of a message pattern.
std::string FormatMessage(const std::string& pattern, const std::string& value);
std::string FormatMessage(const std::string& pattern, long long value);

// The text the top-level error box shows: a full stop is appended when the last byte is
// above "." (so a server reply line, which ends in CR LF, gets none).
std::string ErrorBoxText(const std::string& Message);
