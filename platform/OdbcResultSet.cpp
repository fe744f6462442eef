// A forward-only result set: its rows read column by column, every value
// kept in its column's type.
#include "platform/OdbcCalls.h"

#include "platform/Error.h"

#include <algorithm>

namespace gst
{

using namespace odbc;

namespace
{

bool isCharacterType(SQLSMALLINT t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR ||
           t == SQL_WLONGVARCHAR || t == -150 /* sql_variant */ || t == SQL_GUID;
}

bool isIntegerType(SQLSMALLINT t)
{
    return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}

bool isDateTimeType(SQLSMALLINT t)
{
    return t == SQL_TYPE_TIMESTAMP || t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_DATETIME ||
           t == SQL_TIMESTAMP || t == SQL_DATE || t == SQL_TIME || t == -154 /* time2 */ ||
           t == -155 /* datetimeoffset */;
}

bool isBinaryType(SQLSMALLINT t)
{
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

// Integers, then other numbers, else the text itself: for columns whose type the
// driver does not know (SQLite expressions).
Value inferFromText(const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qlonglong i = t.toLongLong(&ok);
    if (ok)
        return Value::integer(i);
    const double d = t.toDouble(&ok);
    if (ok && !t.isEmpty())
        return Value::real(d);
    return Value::text(text);
}

} // namespace

namespace
{
// Reads the rest of a statement's results, rows and further results alike,
// up to the end or the first failure.
void drain(SQLHSTMT stmt)
{
    do {
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        }
    } while (SQL_SUCCEEDED(SQLMoreResults(stmt)));
}
} // namespace

ResultSet::ResultSet(Connection* connection, OdbcHandle stmt)
    : m_connection(connection), m_stmt(std::move(stmt))
{
    SQLSMALLINT count = 0;
    SQLNumResultCols(m_stmt.get(), &count);
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColW(m_stmt.get(), i, name, 255, &nameLength, &type, &size, &digits, &nullable);
        Column c;
        c.name = fromWide(name, std::min<SQLSMALLINT>(nameLength, 255));
        c.sqlType = type;
        m_columns.push_back(c);
    }
}

ResultSet::~ResultSet()
{
    close();
}

void ResultSet::close()
{
    if (!m_stmt)
        return;
    const SQLHSTMT stmt = m_stmt.get();
    // FreeTDS cancels a statement closed before its results are read to the
    // end: an ATTENTION and a wait for the server's answer, a round trip.
    // What is left of a lookup's answer has already arrived; read it instead.
    drain(stmt);
    SQLCloseCursor(stmt);
    m_stmt.reset();
    if (m_connection) {
        auto& open = m_connection->m_resultSets;
        open.erase(std::remove(open.begin(), open.end(), this), open.end());
        m_connection = nullptr;
    }
}

QString ResultSet::columnName(int index) const
{
    if (index < 0 || index >= columnCount())
        throw AppError(err::kCommandError,
                       QStringLiteral("Item cannot be found in the collection corresponding to "
                                      "the requested name or ordinal."));
    return m_columns[static_cast<size_t>(index)].name;
}

bool ResultSet::next()
{
    if (!m_stmt)
        return false;
    const SQLRETURN rc = SQLFetch(m_stmt.get());
    if (rc == SQL_NO_DATA) {
        close();
        return false;
    }
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_STMT, m_stmt.get());
        close();
        raise(records);
    }
    m_fetched.assign(m_columns.size(), false);
    m_cache.assign(m_columns.size(), Value());
    m_bytes.assign(m_columns.size(), std::nullopt);
    return true;
}

int ResultSet::indexOf(const QString& columnName) const
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(columnName, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    throw AppError(err::kCommandError,
                   QStringLiteral("Item cannot be found in the collection corresponding to the "
                                  "requested name or ordinal: %1")
                       .arg(columnName));
}

Value ResultSet::value(const QString& columnName)
{
    return value(indexOf(columnName));
}

Value ResultSet::value(int index)
{
    if (!m_stmt || m_fetched.empty())
        throw AppError(err::kCommandError,
                       QStringLiteral("Either BOF or EOF is True, or the current record has "
                                      "been deleted."));
    if (index < 0 || index >= columnCount())
        columnName(index); // raises
    // Drivers without any-order reading need columns read left to right.
    for (int i = 0; i <= index; ++i) {
        if (!m_fetched[static_cast<size_t>(i)]) {
            m_cache[static_cast<size_t>(i)] = readColumn(i);
            m_fetched[static_cast<size_t>(i)] = true;
        }
    }
    return m_cache[static_cast<size_t>(index)];
}

bool ResultSet::isNarrowTextColumn(const QString& columnName) const
{
    const SQLSMALLINT t = m_columns[static_cast<size_t>(indexOf(columnName))].sqlType;
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR;
}

QByteArray ResultSet::bytes(const QString& columnName)
{
    const int index = indexOf(columnName);
    if (!m_stmt || m_fetched.empty())
        throw AppError(err::kCommandError,
                       QStringLiteral("Either BOF or EOF is True, or the current record has "
                                      "been deleted."));
    for (int i = 0; i < index; ++i)
        value(i);
    if (m_bytes[static_cast<size_t>(index)])
        return *m_bytes[static_cast<size_t>(index)];
    if (m_fetched[static_cast<size_t>(index)])
        throw AppError(err::kCommandError,
                       QStringLiteral("The column %1 was read as text before its bytes were asked for.")
                           .arg(columnName));
    SQLHSTMT stmt = m_stmt.get();
    QByteArray result;
    char buffer[4096] = {};
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(index + 1), SQL_C_BINARY, buffer,
                                        sizeof(buffer), &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            raiseFromHandle(SQL_HANDLE_STMT, stmt);
        }
        if (indicator == SQL_NULL_DATA)
            break;
        const SQLLEN got = (indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(sizeof(buffer)))
                               ? static_cast<SQLLEN>(sizeof(buffer))
                               : indicator;
        result.append(buffer, static_cast<qsizetype>(got));
        if (rc == SQL_SUCCESS)
            break;
    }
    m_fetched[static_cast<size_t>(index)] = true;
    m_cache[static_cast<size_t>(index)] = Value::text(QString::fromLatin1(result));
    m_bytes[static_cast<size_t>(index)] = result;
    return result;
}

Value ResultSet::readColumn(int index)
{
    SQLHSTMT stmt = m_stmt.get();
    const SQLSMALLINT type = m_columns[static_cast<size_t>(index)].sqlType;
    const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(index + 1);

    // Every type is read as text and parsed here, so that a driver that holds
    // text in a number or date column gives a value the conversions can refuse
    // instead of a silent zero.
    QString text;
    bool isNull = false;
    SQLWCHAR buffer[2048] = {};
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof(buffer), &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            raiseFromHandle(SQL_HANDLE_STMT, stmt);
        }
        if (indicator == SQL_NULL_DATA) {
            isNull = true;
            break;
        }
        // A piece that does not fit is cut one character short of the buffer,
        // for the terminating NUL; a driver that does not know the total
        // length says so (SQL_NO_TOTAL), and the NUL marks the piece's end.
        const SQLLEN capacity = static_cast<SQLLEN>(sizeof(buffer) / sizeof(buffer[0])) - 1;
        SQLLEN chars = indicator / static_cast<SQLLEN>(sizeof(SQLWCHAR));
        if (indicator == SQL_NO_TOTAL)
            chars = static_cast<SQLLEN>(std::find(buffer, buffer + capacity, SQLWCHAR(0)) - buffer);
        else if (chars > capacity)
            chars = capacity;
        text += fromWide(buffer, chars);
        if (rc == SQL_SUCCESS)
            break;
    }
    if (isNull)
        return Value::null();

    if (isCharacterType(type) || isBinaryType(type))
        return Value::text(text);
    if (type == SQL_BIT) {
        const QString t = text.trimmed();
        bool ok = false;
        const double d = t.toDouble(&ok);
        if (ok)
            return Value::boolean(d != 0.0);
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return Value::boolean(true);
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return Value::boolean(false);
        return Value::text(text);
    }
    if (isIntegerType(type)) {
        bool ok = false;
        const qlonglong i = text.trimmed().toLongLong(&ok);
        if (ok)
            return Value::integer(i);
        return inferFromText(text);
    }
    if (type == SQL_DECIMAL || type == SQL_NUMERIC) {
        bool ok = false;
        text.trimmed().toDouble(&ok);
        if (ok)
            return Value::decimal(text.trimmed());
        return Value::text(text);
    }
    if (type == SQL_FLOAT || type == SQL_REAL || type == SQL_DOUBLE) {
        bool ok = false;
        const double d = text.trimmed().toDouble(&ok);
        if (ok)
            return Value::real(d);
        return Value::text(text);
    }
    if (isDateTimeType(type)) {
        const QDateTime dt = parseDateTimeText(text);
        if (dt.isValid())
            return Value::dateTime(dt);
        return Value::text(text);
    }
    return inferFromText(text);
}

} // namespace gst
