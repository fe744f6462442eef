#pragma once

#include <QString>
#include <exception>
#include <string>

namespace gst
{

// Error numbers the program tells failures apart by, compared as signed 32-bit values.
namespace err
{
constexpr long kGenericFailure = -2147467259; // 0x80004005: server or database unreachable, driver missing
constexpr long kLoginFailed = -2147217843;    // 0x80040E4D: the server refused the user or password
constexpr long kCommandError = -2147217900;   // 0x80040E14: the server answered a statement with an error
constexpr long kTypeMismatch = 13;
constexpr long kOutOfMemory = 7;
constexpr long kObjectNotSet = 91; // no database connection exists yet
constexpr long kOverflow = 6;
constexpr long kInvalidUseOfNull = 94;
constexpr long kConnectionClosed = 3709;            // a statement on a connection that is not open
constexpr long kLoginSettings = 429;                // the login settings are missing, unreadable or unsafe
constexpr long kUntrustedCertificate = -2146893019; // 0x80090325: the server's certificate is not trusted
constexpr long kInvalidArgument = 3001; // a connection value refused before any connection is attempted
} // namespace err

// An error with a number and a description, as the program reports it.
class AppError : public std::exception
{
public:
    AppError(long number, QString description);
    long number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    long m_number;
    QString m_description;
    std::string m_what;
};

[[noreturn]] void raiseTypeMismatch();
[[noreturn]] void raiseOverflow();
[[noreturn]] void raiseInvalidUseOfNull();

} // namespace gst
