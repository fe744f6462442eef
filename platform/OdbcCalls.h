#pragma once

// What the ODBC layer's own files share: the driver manager's headers (in the
// order Windows needs), the conversions of text to and from its calls, and its
// diagnostics.
#include "platform/Odbc.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h> // Windows' sql.h needs its types first
#endif
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#ifdef Q_OS_WIN
// Names are looked up as bytes on every system (they are printable ASCII).
#undef SQLGetPrivateProfileString
#endif

#include <string>
#include <vector>

namespace gst::odbc
{

// Native error numbers the diagnostics are told apart by.
// SQL Server's:
constexpr long kCannotOpenDatabase = 4060; // the server is up but cannot open the database named
constexpr long kLoginRefused = 18456;      // the login was refused
constexpr long kNoTransactionOpen = 3903;  // a rollback found no transaction open
// FreeTDS's own failures of the link: read, write, end of file.
constexpr long kTdsReadFailed = 20004;
constexpr long kTdsWriteFailed = 20006;
constexpr long kTdsServerGone = 20017;

std::u16string toWide(const QString& s);
SQLWCHAR* wideData(std::u16string& s);
QString fromWide(const SQLWCHAR* data, SQLLEN chars);

std::vector<DiagRecord> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);
// The one way an ODBC failure becomes the program's error: numbered from every
// diagnostic record, described by their messages.
[[noreturn]] void raise(const std::vector<DiagRecord>& records, bool connecting = false);
[[noreturn]] void raiseFromHandle(SQLSMALLINT handleType, SQLHANDLE handle, bool connecting = false);

} // namespace gst::odbc
