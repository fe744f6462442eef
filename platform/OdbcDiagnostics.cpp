// What ODBC calls report, read and turned into the program's errors, and the
// owner that frees every handle.
#include "platform/OdbcCalls.h"

#include "platform/Error.h"

#include <QStringList>

#include <algorithm>

namespace gst
{

void OdbcHandleReleaser::operator()(void* handle) const
{
    SQLFreeHandle(type, handle);
}

namespace odbc
{

std::u16string toWide(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

SQLWCHAR* wideData(std::u16string& s)
{
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

QString fromWide(const SQLWCHAR* data, SQLLEN chars)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(data), static_cast<qsizetype>(chars));
}

std::vector<DiagRecord> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    std::vector<DiagRecord> records;
    if (!handle)
        return records;
    for (SQLSMALLINT i = 1; i < 64; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[2048] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRecW(handleType, handle, i, state, &native, message,
                           static_cast<SQLSMALLINT>(sizeof(message) / sizeof(message[0])), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        DiagRecord r;
        r.sqlState = fromWide(state, 5);
        r.nativeError = native;
        const SQLLEN shown = std::min<SQLLEN>(length, sizeof(message) / sizeof(message[0]) - 1);
        r.message = fromWide(message, shown);
        records.push_back(r);
    }
    return records;
}

void raise(const std::vector<DiagRecord>& records, bool connecting)
{
    throw AppError(classifyDiagnostics(records, connecting), describeDiagnostics(records));
}

void raiseFromHandle(SQLSMALLINT handleType, SQLHANDLE handle, bool connecting)
{
    raise(readDiagnostics(handleType, handle), connecting);
}

} // namespace odbc

using namespace odbc;

long classifyDiagnostics(const std::vector<DiagRecord>& records, bool connecting)
{
    bool databaseUnavailable = false;
    bool loginRefused = false;
    bool unreachable = false;
    for (const DiagRecord& r : records) {
        if (r.nativeError == kCannotOpenDatabase)
            databaseUnavailable = true;
        if (r.sqlState == QLatin1String("28000") || r.nativeError == kLoginRefused)
            loginRefused = true;
        if (r.sqlState.startsWith(QLatin1String("08")) || r.sqlState == QLatin1String("HYT00") ||
            r.sqlState == QLatin1String("HYT01") || r.sqlState.startsWith(QLatin1String("IM0")))
            unreachable = true;
        // A rollback on a lost connection reports only FreeTDS's own, as a warning state.
        if (r.nativeError == kTdsReadFailed || r.nativeError == kTdsWriteFailed ||
            r.nativeError == kTdsServerGone)
            unreachable = true;
    }
    if (databaseUnavailable)
        return err::kGenericFailure;
    if (loginRefused)
        return err::kLoginFailed;
    if (unreachable || connecting)
        return err::kGenericFailure;
    return err::kCommandError;
}

QString describeDiagnostics(const std::vector<DiagRecord>& records)
{
    QStringList lines;
    for (const DiagRecord& r : records) {
        if (!r.message.isEmpty() && !lines.contains(r.message))
            lines << r.message;
    }
    if (lines.isEmpty())
        return QStringLiteral("The database driver reported a failure without a description.");
    return lines.join(QLatin1Char('\n'));
}

} // namespace gst
