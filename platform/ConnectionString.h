#pragma once

#include <QString>

namespace gst
{

// What an ODBC driver is, known from the library the driver manager loads for
// it, never from the name it is registered under: FreeTDS registered as
// "SQL Server" reads a connection string FreeTDS's way.
enum class DriverKind {
    Unidentified,
    Missing,   // registered nowhere and no library file: the driver manager can load nothing
    FreeTds,   // FreeTDS (libtdsodbc)
    Microsoft, // Microsoft's SQL Server drivers (msodbcsql, sqlsrv32, sqlncli)
    Sqlite,    // the SQLite3 ODBC driver
};

// The library the driver manager loads for a Driver= value: the one registered
// under that name (odbcinst.ini; the registry on Windows), else the value itself.
QString driverLibrary(const QString& driver);
// The kind of a driver library, from its file name once links are resolved.
DriverKind driverKindOfLibrary(const QString& library);
DriverKind identifyDriver(const QString& driver);

// Where and how to connect; filled from the provider properties.
struct ConnectionTarget {
    QString driver;     // ODBC driver name, e.g. "FreeTDS", "ODBC Driver 18 for SQL Server", "SQLite3"
    QString options;    // extra connection-string attributes, appended as written
    QString dataSource; // "Data Source": server, or for SQLite the folder that holds the databases
    QString catalog;    // "Initial Catalog": database name, or for SQLite the file name without ".db"
    QString userId;
    QString password;
    DriverKind kind = DriverKind::Unidentified; // identifyDriver(driver), taken when connecting
};

// Whether the catalog is set as the connection attribute SQL_ATTR_CURRENT_CATALOG
// instead of going in the string: on SQL Server, for a name in ASCII. Through
// unixODBC 2.3 and FreeTDS 1.3 the attribute reaches the login as Latin-1
// re-encoded, so any other name goes in the string, where ClientCharset applies.
bool catalogAsAttribute(const ConnectionTarget& target);
// The ODBC connection string for a target, written the way its kind of driver
// and the driver manager read it. On SQL Server encryption is required unless
// the options set it in the driver's own words. Raises
// AppError(err::kInvalidArgument), naming what to fix, for a value that could
// not reach the driver exactly as stored, and for a driver not identified.
QString buildConnectionString(const ConnectionTarget& target);
// The path of the SQLite file a target names: "<Data Source>/<catalog>.db".
QString sqliteDatabasePath(const ConnectionTarget& target);

} // namespace gst
