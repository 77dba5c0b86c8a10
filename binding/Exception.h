#pragma once
// The error classes every layer raises and the engine catches at its boundary.
#include <string>
#include <exception>

// Base class carrying the exact message text shown to the user or logged.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// A broken internal precondition (an empty library set, a malformed tag).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// A value that does not convert to the number it must be.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
