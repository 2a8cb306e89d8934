#pragma once
// The one error type of the program. It carries the text that the application shows to the user;
// the application's top-level handler (and the tests) catch it. Nothing else is thrown on purpose.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A file that cannot be opened for reading or writing; the text names the file.
inline Exception FileOpenError(const std::string& fileName, const std::string& reason = "The system cannot find the file specified")
{
    return Exception("Cannot open file \"" + fileName + "\". " + reason);
}
