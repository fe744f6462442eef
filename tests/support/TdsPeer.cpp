#include "TdsPeer.h"
#include "FixtureShare.h"
#include "Reliability.h"
#include "TestDatabase.h"
#include "state/ConnectionState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sqlite3.h>

#include "PeerSockets.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

using namespace peersockets;

namespace
{

using Clock = std::chrono::steady_clock;

// Packet types.
constexpr std::uint8_t kSqlBatch = 0x01;
constexpr std::uint8_t kRpc = 0x03;
constexpr std::uint8_t kReply = 0x04;
constexpr std::uint8_t kAttention = 0x06;
constexpr std::uint8_t kTransactionManager = 0x0E;
constexpr std::uint8_t kLogin7 = 0x10;
constexpr std::uint8_t kPrelogin = 0x12;

// Tokens.
constexpr std::uint8_t kTokReturnStatus = 0x79;
constexpr std::uint8_t kTokColMetadata = 0x81;
constexpr std::uint8_t kTokError = 0xAA;
constexpr std::uint8_t kTokInfo = 0xAB;
constexpr std::uint8_t kTokLoginAck = 0xAD;
constexpr std::uint8_t kTokRow = 0xD1;
constexpr std::uint8_t kTokEnvChange = 0xE3;
constexpr std::uint8_t kTokDone = 0xFD;
constexpr std::uint8_t kTokDoneProc = 0xFE;
constexpr std::uint8_t kTokDoneInProc = 0xFF;

constexpr std::uint16_t kDoneMore = 0x0001;
constexpr std::uint16_t kDoneError = 0x0002;
constexpr std::uint16_t kDoneCount = 0x0010;
constexpr std::uint16_t kDoneAttention = 0x0020;

constexpr int kPacketSize = 4096;

// TDSPEER_TRACE=1 in the environment writes what the peer does to stderr.
bool tracing()
{
    static const bool on = qEnvironmentVariableIntValue("TDSPEER_TRACE") != 0;
    return on;
}
std::string peerTlsError()
{
    char buffer[256] = {};
    ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
    return buffer;
}
#define PEER_TRACE(...)                                                                                      \
    do {                                                                                                     \
        if (tracing())                                                                                       \
            std::fprintf(stderr, "tdspeer: " __VA_ARGS__);                                                   \
    } while (0)
constexpr int kPollSliceMs = 50;

// SQL_Latin1_General_CP1_CI_AS: code page 1252.
const std::array<std::uint8_t, 5> kCollation1252 = {0x09, 0x04, 0xD0, 0x00, 0x34};

QByteArray toCp1252(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const int code = cp1252Code(ch);
        out.append(char(code < 0 ? '?' : code));
    }
    return out;
}

QString fromCp1252(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes)
        out.append(cp1252Char(static_cast<unsigned char>(c)));
    return out;
}

QByteArray toUcs2(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (const QChar ch : text) {
        out.append(char(ch.unicode() & 0xFF));
        out.append(char(ch.unicode() >> 8));
    }
    return out;
}

QString fromUcs2(const QByteArray& bytes)
{
    QString out;
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        out.append(QChar(char16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8))));
    return out;
}

// Little-endian writer of a token stream.
struct Out {
    QByteArray b;
    void u8(unsigned v) { b.append(char(v & 0xFF)); }
    void u16(unsigned v)
    {
        u8(v);
        u8(v >> 8);
    }
    void u32(std::uint32_t v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void u64(std::uint64_t v)
    {
        u32(std::uint32_t(v & 0xFFFFFFFFu));
        u32(std::uint32_t(v >> 32));
    }
    void raw(const QByteArray& d) { b.append(d); }
    void bVarchar(const QString& s)
    {
        const QString t = s.left(255);
        u8(unsigned(t.size()));
        raw(toUcs2(t));
    }
    void usVarchar(const QString& s)
    {
        const QString t = s.left(65535);
        u16(unsigned(t.size()));
        raw(toUcs2(t));
    }
};

// Little-endian reader; `ok` turns false on a short read.
struct In {
    const QByteArray& b;
    int pos = 0;
    bool ok = true;
    explicit In(const QByteArray& bytes, int start = 0) : b(bytes), pos(start) {}
    bool has(int n) const { return ok && n >= 0 && pos + n <= b.size(); }
    unsigned u8()
    {
        if (!has(1)) {
            ok = false;
            return 0;
        }
        return std::uint8_t(b[pos++]);
    }
    unsigned u16()
    {
        const unsigned lo = u8();
        return lo | (u8() << 8);
    }
    std::uint32_t u32()
    {
        const std::uint32_t lo = u16();
        return lo | (std::uint32_t(u16()) << 16);
    }
    std::uint64_t u64()
    {
        const std::uint64_t lo = u32();
        return lo | (std::uint64_t(u32()) << 32);
    }
    QByteArray bytes(int n)
    {
        if (!has(n)) {
            ok = false;
            return {};
        }
        const QByteArray r = b.mid(pos, n);
        pos += n;
        return r;
    }
    QString bVarchar() { return fromUcs2(bytes(int(u8()) * 2)); }
};

// ------------------------------------------------------------ SQL Server types

enum class TypeKind { Int, Bit, Float, DateTime, Decimal, Varchar, NVarchar, Varbinary };

struct SqlType {
    TypeKind kind = TypeKind::Int;
    int size = 4; // Int: bytes; Varchar/NVarchar/Varbinary: characters or bytes, -1 for max
    int precision = 18;
    int scale = 0;
};

std::optional<SqlType> parseSqlType(const QString& declared)
{
    const QString t = declared.trimmed().toLower();
    if (t.isEmpty())
        return std::nullopt;
    static const QRegularExpression re(
        QStringLiteral("^([a-z_ ]+?)\\s*(?:\\(\\s*(max|\\d+)\\s*(?:,\\s*(\\d+)\\s*)?\\))?$"));
    const QRegularExpressionMatch m = re.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const QString base = m.captured(1).trimmed();
    const QString a = m.captured(2);
    const QString b = m.captured(3);
    const int n = a == QLatin1String("max") ? -1 : (a.isEmpty() ? 0 : a.toInt());
    SqlType s;
    if (base == QLatin1String("int") || base == QLatin1String("integer"))
        s = {TypeKind::Int, 4};
    else if (base == QLatin1String("smallint"))
        s = {TypeKind::Int, 2};
    else if (base == QLatin1String("tinyint"))
        s = {TypeKind::Int, 1};
    else if (base == QLatin1String("bigint"))
        s = {TypeKind::Int, 8};
    else if (base == QLatin1String("bit") || base == QLatin1String("boolean"))
        s = {TypeKind::Bit, 1};
    else if (base == QLatin1String("float") || base == QLatin1String("real") ||
             base == QLatin1String("double"))
        s = {TypeKind::Float, 8};
    else if (base == QLatin1String("datetime") || base == QLatin1String("date") ||
             base == QLatin1String("smalldatetime"))
        s = {TypeKind::DateTime, 8};
    else if (base == QLatin1String("decimal") || base == QLatin1String("numeric"))
        s = {TypeKind::Decimal, 0, a.isEmpty() ? 18 : n, b.isEmpty() ? 0 : b.toInt()};
    else if (base == QLatin1String("money"))
        s = {TypeKind::Decimal, 0, 19, 4};
    else if (base == QLatin1String("varchar") || base == QLatin1String("char") ||
             base == QLatin1String("text"))
        s = {TypeKind::Varchar, a.isEmpty() ? 8000 : n};
    else if (base == QLatin1String("nvarchar") || base == QLatin1String("nchar") ||
             base == QLatin1String("ntext"))
        s = {TypeKind::NVarchar, a.isEmpty() ? 4000 : n};
    else if (base == QLatin1String("varbinary") || base == QLatin1String("binary") ||
             base == QLatin1String("blob") || base == QLatin1String("image"))
        s = {TypeKind::Varbinary, a.isEmpty() ? -1 : n};
    else
        return std::nullopt;
    if (s.kind == TypeKind::Decimal)
        s.precision = std::clamp(s.precision, 1, 38);
    if ((s.kind == TypeKind::Varchar && s.size > 8000) || (s.kind == TypeKind::NVarchar && s.size > 4000) ||
        (s.kind == TypeKind::Varbinary && s.size > 8000))
        s.size = -1;
    return s;
}

// A value copied out of SQLite.
struct Cell {
    int type = SQLITE_NULL;
    std::int64_t i = 0;
    double d = 0;
    QByteArray bytes; // text as UTF-8, or a blob
    QString text() const
    {
        if (type == SQLITE_INTEGER)
            return QString::number(i);
        if (type == SQLITE_FLOAT)
            return QString::number(d, 'g', 17);
        return QString::fromUtf8(bytes);
    }
};

struct ConversionError {
    int number;
    QString message;
};

std::optional<QDateTime> parseDateTime(const QString& text)
{
    const QString t = text.trimmed();
    for (const char* f : {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss.zzz",
                          "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid())
            return dt;
    }
    return std::nullopt;
}

// An exact decimal of the text at `scale` digits, as a sign and a magnitude.
bool scaledDecimal(const QString& text, int scale, bool& negative, unsigned __int128& magnitude)
{
    QString t = text.trimmed();
    negative = t.startsWith(QLatin1Char('-'));
    if (negative || t.startsWith(QLatin1Char('+')))
        t = t.mid(1);
    if (t.contains(QLatin1Char('e')) || t.contains(QLatin1Char('E'))) {
        bool ok = false;
        const double d = t.toDouble(&ok);
        if (!ok)
            return false;
        t = QString::number(d, 'f', scale);
    }
    const int dot = t.indexOf(QLatin1Char('.'));
    QString whole = dot < 0 ? t : t.left(dot);
    QString frac = dot < 0 ? QString() : t.mid(dot + 1);
    if (whole.isEmpty() && frac.isEmpty())
        return false;
    bool roundUp = false;
    if (frac.size() > scale) {
        roundUp = frac[scale] >= QLatin1Char('5');
        frac = frac.left(scale);
    }
    while (frac.size() < scale)
        frac.append(QLatin1Char('0'));
    magnitude = 0;
    for (const QChar c : whole + frac) {
        if (!c.isDigit())
            return false;
        magnitude = magnitude * 10 + unsigned(c.digitValue());
    }
    if (roundUp)
        magnitude += 1;
    return true;
}

int decimalBytes(int precision)
{
    return precision <= 9 ? 4 : precision <= 19 ? 8 : precision <= 28 ? 12 : 16;
}

void putTypeInfo(Out& o, const SqlType& t)
{
    switch (t.kind) {
    case TypeKind::Int:
        o.u8(0x26);
        o.u8(unsigned(t.size));
        break;
    case TypeKind::Bit:
        o.u8(0x68);
        o.u8(1);
        break;
    case TypeKind::Float:
        o.u8(0x6D);
        o.u8(8);
        break;
    case TypeKind::DateTime:
        o.u8(0x6F);
        o.u8(8);
        break;
    case TypeKind::Decimal:
        o.u8(0x6A);
        o.u8(unsigned(1 + decimalBytes(t.precision)));
        o.u8(unsigned(t.precision));
        o.u8(unsigned(t.scale));
        break;
    case TypeKind::Varchar:
        o.u8(0xA7);
        o.u16(t.size < 0 ? 0xFFFF : unsigned(std::max(1, t.size)));
        for (const auto c : kCollation1252)
            o.u8(c);
        break;
    case TypeKind::NVarchar:
        o.u8(0xE7);
        o.u16(t.size < 0 ? 0xFFFF : unsigned(std::max(1, t.size) * 2));
        for (const auto c : kCollation1252)
            o.u8(c);
        break;
    case TypeKind::Varbinary:
        o.u8(0xA5);
        o.u16(t.size < 0 ? 0xFFFF : unsigned(std::max(1, t.size)));
        break;
    }
}

void putLengthPrefixed(Out& o, const SqlType& t, const QByteArray* data)
{
    if (t.size < 0) { // PLP
        if (!data) {
            o.u64(~std::uint64_t(0));
            return;
        }
        o.u64(std::uint64_t(data->size()));
        if (!data->isEmpty()) {
            o.u32(std::uint32_t(data->size()));
            o.raw(*data);
        }
        o.u32(0);
        return;
    }
    if (!data) {
        o.u16(0xFFFF);
        return;
    }
    o.u16(unsigned(data->size()));
    o.raw(*data);
}

// Writes one value of a row in the column's type; throws ConversionError.
void putValue(Out& o, const SqlType& t, const Cell& c)
{
    const bool null = c.type == SQLITE_NULL;
    switch (t.kind) {
    case TypeKind::Int: {
        if (null) {
            o.u8(0);
            return;
        }
        std::int64_t v = c.i;
        if (c.type == SQLITE_FLOAT)
            v = std::int64_t(c.d);
        else if (c.type != SQLITE_INTEGER) {
            bool ok = false;
            v = c.text().trimmed().toLongLong(&ok);
            if (!ok)
                throw ConversionError{245,
                                      QStringLiteral("Conversion failed when converting the varchar value "
                                                     "'%1' to data type int.")
                                          .arg(c.text())};
        }
        o.u8(unsigned(t.size));
        for (int k = 0; k < t.size; ++k)
            o.u8(unsigned((std::uint64_t(v) >> (8 * k)) & 0xFF));
        return;
    }
    case TypeKind::Bit:
        if (null) {
            o.u8(0);
            return;
        }
        o.u8(1);
        o.u8(c.type == SQLITE_INTEGER ? (c.i != 0)
             : c.type == SQLITE_FLOAT ? (c.d != 0)
                                      : (c.text().toDouble() != 0));
        return;
    case TypeKind::Float: {
        if (null) {
            o.u8(0);
            return;
        }
        const double d = c.type == SQLITE_FLOAT     ? c.d
                         : c.type == SQLITE_INTEGER ? double(c.i)
                                                    : c.text().toDouble();
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        o.u8(8);
        o.u64(bits);
        return;
    }
    case TypeKind::DateTime: {
        if (null) {
            o.u8(0);
            return;
        }
        const std::optional<QDateTime> dt = parseDateTime(c.text());
        if (!dt)
            throw ConversionError{241, QStringLiteral("Conversion failed when converting date and/or time "
                                                      "from character string.")};
        const QDate base(1900, 1, 1);
        const qint64 days = base.daysTo(dt->date());
        const qint64 ms = dt->time().msecsSinceStartOfDay();
        o.u8(8);
        o.u32(std::uint32_t(std::int32_t(days)));
        o.u32(std::uint32_t((ms * 300 + 500) / 1000));
        return;
    }
    case TypeKind::Decimal: {
        if (null) {
            o.u8(0);
            return;
        }
        bool negative = false;
        unsigned __int128 magnitude = 0;
        if (!scaledDecimal(c.text(), t.scale, negative, magnitude))
            throw ConversionError{8114, QStringLiteral("Error converting data type varchar to numeric.")};
        const int n = decimalBytes(t.precision);
        o.u8(unsigned(1 + n));
        o.u8(negative ? 0 : 1);
        for (int k = 0; k < n; ++k)
            o.u8(unsigned((magnitude >> (8 * k)) & 0xFF));
        return;
    }
    case TypeKind::Varchar: {
        const QByteArray d = null ? QByteArray() : toCp1252(c.text());
        putLengthPrefixed(o, t, null ? nullptr : &d);
        return;
    }
    case TypeKind::NVarchar: {
        const QByteArray d = null ? QByteArray() : toUcs2(c.text());
        putLengthPrefixed(o, t, null ? nullptr : &d);
        return;
    }
    case TypeKind::Varbinary: {
        const QByteArray d = null ? QByteArray() : c.type == SQLITE_BLOB ? c.bytes : c.text().toUtf8();
        putLengthPrefixed(o, t, null ? nullptr : &d);
        return;
    }
    }
}

void putMessage(Out& o, bool error, int number, int state, int severity, const QString& text, int line = 1)
{
    Out body;
    body.u32(std::uint32_t(number));
    body.u8(unsigned(state));
    body.u8(unsigned(severity));
    body.usVarchar(text);
    body.bVarchar(QStringLiteral("TDSPEER"));
    body.bVarchar(QString());
    body.u32(std::uint32_t(line));
    o.u8(error ? kTokError : kTokInfo);
    o.u16(unsigned(body.b.size()));
    o.raw(body.b);
}

void putDone(Out& o, std::uint8_t token, unsigned status, unsigned curCmd, std::uint64_t count)
{
    o.u8(token);
    o.u16(status);
    o.u16(curCmd);
    o.u64(count);
}

void putEnvChange(Out& o, unsigned type, const QString& newValue, const QString& oldValue)
{
    Out body;
    body.u8(type);
    body.bVarchar(newValue);
    body.bVarchar(oldValue);
    o.u8(kTokEnvChange);
    o.u16(unsigned(body.b.size()));
    o.raw(body.b);
}

void putEnvChangeBytes(Out& o, unsigned type, const QByteArray& newValue, const QByteArray& oldValue)
{
    Out body;
    body.u8(type);
    body.u8(unsigned(newValue.size()));
    body.raw(newValue);
    body.u8(unsigned(oldValue.size()));
    body.raw(oldValue);
    o.u8(kTokEnvChange);
    o.u16(unsigned(body.b.size()));
    o.raw(body.b);
}

struct ErrorInfo {
    int number = 0;
    int state = 1;
    int severity = 16;
    QString message;
};

int defaultSeverity(int number)
{
    switch (number) {
    case 102:
    case 137:
        return 15;
    case 1205:
        return 13;
    case 4060:
        return 11;
    case 18456:
        return 14;
    default:
        return 16;
    }
}

QString defaultMessage(int number, int spid)
{
    switch (number) {
    case 1205:
        return QStringLiteral(
                   "Transaction (Process ID %1) was deadlocked on lock resources with another process "
                   "and has been chosen as the deadlock victim. Rerun the transaction.")
            .arg(spid);
    case 547:
        return QStringLiteral(
            "The UPDATE statement conflicted with the FOREIGN KEY constraint \"FK_peer\". The "
            "conflict occurred in database \"talvex\", table \"dbo.vatmaster\", column 'VATID'.");
    case 1222:
        return QStringLiteral("Lock request time out period exceeded.");
    default:
        return QStringLiteral("Error %1 raised by the test peer.").arg(number);
    }
}

// ------------------------------------------------------------ translation

struct Translation {
    enum class Action {
        Run,
        Nothing,
        Begin,
        Commit,
        Rollback,
        CommitIfOpen,
        RollbackIfOpen,
        Spid,
        Agent,
        Use,
        Refuse
    };
    Action action = Action::Run;
    QString sql; // Run: SQLite text; Use: the database
    bool beginAfter = false;
    ErrorInfo error; // Refuse
};

QString simplified(const QString& s)
{
    return s.simplified().toLower();
}

Translation refuse(int number, const QString& message)
{
    Translation t;
    t.action = Translation::Action::Refuse;
    t.error.number = number;
    t.error.severity = defaultSeverity(number);
    t.error.message = message;
    return t;
}

Translation syntaxError(const QString& nearText)
{
    return refuse(102, QStringLiteral("Incorrect syntax near '%1'.").arg(nearText.left(100)));
}

// The whole of the T-SQL the peer understands; see the list in TdsPeer.h.
// `varbinaryType` gives the SQL Server type of a column that cast(... as
// varbinary(max)) reads; `parameters` are the names sp_executesql declared.
Translation translateToSqlite(const QString& text, const QStringList& parameters,
                              const std::function<QString(const QString& column)>& varbinaryType)
{
    Translation t;
    const QString s = simplified(text);
    if (s.isEmpty()) {
        t.action = Translation::Action::Nothing;
        return t;
    }

    // Session statements, one per line or separated by ";".
    static const QRegularExpression sessionStatement(QStringLiteral(
        "^set (textsize \\d+|implicit_transactions (on|off)|ansi_\\w+ (on|off)|quoted_identifier (on|off)|"
        "concat_null_yields_null (on|off)|arithabort (on|off)|nocount (on|off)|"
        "transaction isolation level read committed)$"));
    const QStringList parts =
        text.split(QRegularExpression(QStringLiteral("[;\\r\\n]+")), Qt::SkipEmptyParts);
    bool allSession = !parts.isEmpty();
    for (const QString& p : parts)
        allSession =
            allSession && (simplified(p).isEmpty() || sessionStatement.match(simplified(p)).hasMatch());
    if (allSession) {
        t.action = Translation::Action::Nothing;
        return t;
    }

    static const QRegularExpression tran(
        QStringLiteral("^(if @@trancount ?> ?0 )?(begin tran(saction)?|commit( tran(saction)?| "
                       "work)?|rollback( tran(saction)?| "
                       "work)?)( begin tran(saction)?)?;?$"));
    if (const QRegularExpressionMatch m = tran.match(s); m.hasMatch()) {
        const bool ifOpen = !m.captured(1).isEmpty();
        const QString verb = m.captured(2);
        t.beginAfter = !m.captured(9).isEmpty();
        if (verb.startsWith(QLatin1String("begin")))
            t.action = Translation::Action::Begin;
        else if (verb.startsWith(QLatin1String("commit")))
            t.action = ifOpen ? Translation::Action::CommitIfOpen : Translation::Action::Commit;
        else
            t.action = ifOpen ? Translation::Action::RollbackIfOpen : Translation::Action::Rollback;
        return t;
    }
    static const QRegularExpression spid(QStringLiteral("^select @@spid( (as )?\\w+)?;?$"));
    if (spid.match(s).hasMatch()) {
        t.action = Translation::Action::Spid;
        return t;
    }
    static const QRegularExpression agent(QStringLiteral("^exec(ute)? master\\.dbo\\.xp_servicecontrol\\b"));
    if (agent.match(s).hasMatch()) {
        t.action = Translation::Action::Agent;
        return t;
    }
    static const QRegularExpression use(QStringLiteral("^use \\[?([^\\]]+)\\]?;?$"));
    if (const QRegularExpressionMatch m = use.match(text.trimmed().simplified()); m.hasMatch()) {
        t.action = Translation::Action::Use;
        t.sql = m.captured(1);
        return t;
    }

    // Statements: brackets, casts and parameters; everything outside string
    // literals is checked for forms SQLite would take differently.
    QString out;
    const int n = int(text.size());
    QString plain; // the text outside literals, for the checks below
    for (int i = 0; i < n;) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'')) {
            if (i > 0 && (text[i - 1] == QLatin1Char('N') || text[i - 1] == QLatin1Char('n')) &&
                (i < 2 || !(text[i - 2].isLetterOrNumber() || text[i - 2] == QLatin1Char('_'))))
                return syntaxError(QStringLiteral("N'"));
            int j = i + 1;
            for (;;) {
                if (j >= n)
                    return refuse(105,
                                  QStringLiteral("Unclosed quotation mark after the character string '%1'.")
                                      .arg(text.mid(i + 1, 100)));
                if (text[j] == QLatin1Char('\'')) {
                    if (j + 1 < n && text[j + 1] == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += text.mid(i, j - i + 1);
            plain += QLatin1String(" '' ");
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('[')) {
            QString name;
            int j = i + 1;
            for (;;) {
                if (j >= n)
                    return syntaxError(text.mid(i, 30));
                if (text[j] == QLatin1Char(']')) {
                    if (j + 1 < n && text[j + 1] == QLatin1Char(']')) {
                        name += QLatin1Char(']');
                        j += 2;
                        continue;
                    }
                    break;
                }
                name += text[j];
                ++j;
            }
            name.replace(QLatin1String("\""), QLatin1String("\"\""));
            out += QLatin1Char('"') + name + QLatin1Char('"');
            plain += QLatin1String(" \"name\" ");
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('"')) {
            int j = text.indexOf(QLatin1Char('"'), i + 1);
            if (j < 0)
                return syntaxError(text.mid(i, 30));
            out += text.mid(i, j - i + 1);
            plain += QLatin1String(" \"name\" ");
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && text[i + 1] == QLatin1Char('-')) {
            const int j = text.indexOf(QLatin1Char('\n'), i);
            i = j < 0 ? n : j;
            continue;
        }
        if (c == QLatin1Char('@')) {
            int j = i + 1;
            while (j < n &&
                   (text[j].isLetterOrNumber() || text[j] == QLatin1Char('_') || text[j] == QLatin1Char('@')))
                ++j;
            const QString name = text.mid(i, j - i);
            if (name.startsWith(QLatin1String("@@")))
                return syntaxError(name);
            bool declared = false;
            for (const QString& p : parameters)
                declared = declared || p.compare(name, Qt::CaseInsensitive) == 0;
            if (!declared)
                return refuse(137, QStringLiteral("Must declare the scalar variable \"%1\".").arg(name));
            out += name;
            plain += QLatin1String(" param ");
            i = j;
            continue;
        }
        out += c;
        plain += c;
        ++i;
    }

    const QString p = plain.toLower();
    static const QRegularExpression unsupported(QStringLiteral(
        "\\b(exec|execute|top|go|getdate|isnull|convert|len|datediff|dateadd|newid|output|merge|"
        "declare|print|raiserror|waitfor|with\\s*\\(\\s*nolock)\\b|\\?"));
    // "?" outside literals is a parameter marker FreeTDS should have replaced.
    if (const QRegularExpressionMatch m = unsupported.match(p); m.hasMatch())
        return syntaxError(m.captured(0));

    // cast(<column> as varbinary(max)): the column's bytes as SQL Server keeps them.
    static const QRegularExpression cast(QStringLiteral("cast\\s*\\(\\s*(\"[^\"]+\"|[A-Za-z_][A-Za-z0-9_]*)"
                                                        "\\s+as\\s+varbinary\\s*\\(\\s*max\\s*\\)\\s*\\)"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator it = cast.globalMatch(out);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        QString column = m.captured(1);
        if (column.startsWith(QLatin1Char('"')))
            column = column.mid(1, column.size() - 2);
        QString type = varbinaryType(column);
        type.replace(QLatin1String("'"), QLatin1String("''"));
        result += out.mid(last, m.capturedStart() - last);
        result += QStringLiteral("tds_varbinary(%1, '%2')").arg(m.captured(1), type);
        last = int(m.capturedEnd());
    }
    result += out.mid(last);
    if (QRegularExpression(QStringLiteral("\\bvarbinary\\b"), QRegularExpression::CaseInsensitiveOption)
            .match(result)
            .hasMatch())
        return syntaxError(QStringLiteral("varbinary"));

    t.action = Translation::Action::Run;
    t.sql = result;
    return t;
}

// SQL Server's LIKE under a case-insensitive collation: %, _ and [set],
// [^set], [a-z]. FreeTDS turns the ODBC catalog escape "\_" into "[_]".
bool likeMatch(const QString& pattern, int p, const QString& text, int t)
{
    while (p < pattern.size()) {
        const QChar c = pattern[p];
        if (c == QLatin1Char('%')) {
            for (int k = t; k <= text.size(); ++k) {
                if (likeMatch(pattern, p + 1, text, k))
                    return true;
            }
            return false;
        }
        if (t >= text.size())
            return false;
        if (c == QLatin1Char('[')) {
            const int close = pattern.indexOf(QLatin1Char(']'), p + 2);
            if (close < 0)
                return false;
            QString set = pattern.mid(p + 1, close - p - 1);
            const bool negate = set.startsWith(QLatin1Char('^'));
            if (negate)
                set = set.mid(1);
            bool in = false;
            const QChar x = text[t].toLower();
            for (int k = 0; k < set.size(); ++k) {
                if (k + 2 < set.size() && set[k + 1] == QLatin1Char('-')) {
                    in = in || (x >= set[k].toLower() && x <= set[k + 2].toLower());
                    k += 2;
                } else {
                    in = in || x == set[k].toLower();
                }
            }
            if (in == negate)
                return false;
            p = close + 1;
            ++t;
            continue;
        }
        if (c != QLatin1Char('_') && c.toLower() != text[t].toLower())
            return false;
        ++p;
        ++t;
    }
    return t == text.size();
}

void tdsLike(sqlite3_context* context, int, sqlite3_value** argv)
{
    const QString pattern = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[1])));
    sqlite3_result_int(context, likeMatch(pattern, 0, text, 0) ? 1 : 0);
}

// tds_varbinary(value, type): the value's bytes in the column's SQL Server type.
void tdsVarbinary(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
        sqlite3_result_blob(context, sqlite3_value_blob(argv[0]), sqlite3_value_bytes(argv[0]),
                            SQLITE_TRANSIENT);
        return;
    }
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                                           sqlite3_value_bytes(argv[0]));
    const QString type =
        argc > 1 ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[1]))).toLower()
                 : QString();
    const std::optional<SqlType> st = parseSqlType(type);
    QByteArray bytes;
    if (st && st->kind == TypeKind::NVarchar)
        bytes = toUcs2(text);
    else if (st && st->kind == TypeKind::Int) {
        const std::int64_t v = sqlite3_value_int64(argv[0]);
        for (int k = st->size - 1; k >= 0; --k)
            bytes.append(char((std::uint64_t(v) >> (8 * k)) & 0xFF));
    } else
        bytes = toCp1252(text);
    sqlite3_result_blob(context, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

// ------------------------------------------------------------ RPC parameters

// Reads one TYPE_INFO and value; false on a type the peer does not decode.
bool readParam(In& in, TdsPeer::Param& p, Cell& cell)
{
    const unsigned type = in.u8();
    auto fixed = [&](int size, const char* name) {
        p.type = QLatin1String(name);
        const QByteArray d = in.bytes(size);
        In v(d);
        cell.type = SQLITE_INTEGER;
        if (size == 1)
            cell.i = v.u8();
        else if (size == 2)
            cell.i = std::int16_t(v.u16());
        else if (size == 4)
            cell.i = std::int32_t(v.u32());
        else
            cell.i = std::int64_t(v.u64());
    };
    auto text = [&](const QByteArray& d, bool wide) {
        cell.type = SQLITE_TEXT;
        cell.bytes = (wide ? fromUcs2(d) : fromCp1252(d)).toUtf8();
    };
    auto readPlp = [&](bool& isNull) {
        QByteArray d;
        const std::uint64_t total = in.u64();
        isNull = total == ~std::uint64_t(0);
        if (isNull)
            return d;
        for (;;) {
            const std::uint32_t chunk = in.u32();
            if (!in.ok || chunk == 0)
                break;
            d.append(in.bytes(int(chunk)));
        }
        return d;
    };
    switch (type) {
    case 0x30:
        fixed(1, "tinyint");
        break;
    case 0x32:
        fixed(1, "bit");
        break;
    case 0x34:
        fixed(2, "smallint");
        break;
    case 0x38:
        fixed(4, "int");
        break;
    case 0x7F:
        fixed(8, "bigint");
        break;
    case 0x26:
    case 0x68: {
        const unsigned max = in.u8();
        const unsigned len = in.u8();
        p.type = type == 0x68 ? QStringLiteral("bit")
                 : max == 1   ? QStringLiteral("tinyint")
                 : max == 2   ? QStringLiteral("smallint")
                 : max == 8   ? QStringLiteral("bigint")
                              : QStringLiteral("int");
        if (len == 0)
            break;
        const QByteArray d = in.bytes(int(len));
        if (d.size() != int(len))
            return false;
        In v(d);
        cell.type = SQLITE_INTEGER;
        cell.i = len == 1   ? std::int64_t(v.u8())
                 : len == 2 ? std::int16_t(v.u16())
                 : len == 4 ? std::int32_t(v.u32())
                            : std::int64_t(v.u64());
        break;
    }
    case 0x6D: {
        in.u8();
        const unsigned len = in.u8();
        p.type = QStringLiteral("float");
        if (len == 0)
            break;
        const QByteArray d = in.bytes(int(len));
        if (d.size() != int(len))
            return false;
        cell.type = SQLITE_FLOAT;
        if (len == 8) {
            std::memcpy(&cell.d, d.constData(), 8);
        } else {
            float f = 0;
            std::memcpy(&f, d.constData(), 4);
            cell.d = f;
        }
        break;
    }
    case 0x6F:
    case 0x3D: {
        unsigned len = 8;
        if (type == 0x6F) {
            in.u8();
            len = in.u8();
        }
        p.type = QStringLiteral("datetime");
        if (len == 0)
            break;
        const QByteArray d = in.bytes(int(len));
        if (d.size() != int(len))
            return false;
        In v(d);
        const std::int32_t days = std::int32_t(v.u32());
        const std::uint32_t ticks = v.u32();
        const QDateTime dt(QDate(1900, 1, 1).addDays(days),
                           QTime(0, 0).addMSecs(int(ticks * 1000.0 / 300 + 0.5)));
        cell.type = SQLITE_TEXT;
        cell.bytes = dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        break;
    }
    case 0x6A:
    case 0x6C: {
        in.u8();
        const unsigned precision = in.u8();
        const unsigned scale = in.u8();
        p.type = QStringLiteral("decimal(%1,%2)").arg(precision).arg(scale);
        const unsigned len = in.u8();
        if (len == 0)
            break;
        const QByteArray d = in.bytes(int(len));
        if (d.size() != int(len))
            return false;
        unsigned __int128 m = 0;
        for (int k = int(len) - 1; k >= 1; --k)
            m = (m << 8) | std::uint8_t(d[k]);
        QString digits;
        do {
            digits.prepend(QChar(char16_t('0' + int(m % 10))));
            m /= 10;
        } while (m != 0);
        while (digits.size() <= int(scale))
            digits.prepend(QLatin1Char('0'));
        if (scale > 0)
            digits.insert(digits.size() - int(scale), QLatin1Char('.'));
        if (std::uint8_t(d[0]) == 0)
            digits.prepend(QLatin1Char('-'));
        cell.type = SQLITE_TEXT;
        cell.bytes = digits.toUtf8();
        break;
    }
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF:
    case 0xA5:
    case 0xAD: {
        const bool wide = type == 0xE7 || type == 0xEF;
        const bool binary = type == 0xA5 || type == 0xAD;
        const unsigned max = in.u16();
        if (!binary)
            in.bytes(5);
        const QString base = type == 0xA7   ? QStringLiteral("varchar")
                             : type == 0xAF ? QStringLiteral("char")
                             : type == 0xE7 ? QStringLiteral("nvarchar")
                             : type == 0xEF ? QStringLiteral("nchar")
                             : type == 0xA5 ? QStringLiteral("varbinary")
                                            : QStringLiteral("binary");
        p.type = max == 0xFFFF ? base + QStringLiteral("(max)")
                               : QStringLiteral("%1(%2)").arg(base).arg(wide ? max / 2 : max);
        QByteArray d;
        bool isNull = false;
        if (max == 0xFFFF) {
            d = readPlp(isNull);
        } else {
            const unsigned len = in.u16();
            isNull = len == 0xFFFF;
            if (!isNull)
                d = in.bytes(int(len));
        }
        if (isNull)
            break;
        if (binary) {
            cell.type = SQLITE_BLOB;
            cell.bytes = d;
        } else {
            text(d, wide);
        }
        break;
    }
    case 0x23:
    case 0x63:
    case 0x22: {
        in.u32();
        if (type != 0x22)
            in.bytes(5);
        p.type = type == 0x23   ? QStringLiteral("text")
                 : type == 0x63 ? QStringLiteral("ntext")
                                : QStringLiteral("image");
        const std::uint32_t len = in.u32();
        if (len == 0xFFFFFFFFu)
            break;
        const QByteArray d = in.bytes(int(len));
        if (d.size() != int(len))
            return false;
        if (type == 0x22) {
            cell.type = SQLITE_BLOB;
            cell.bytes = d;
        } else {
            text(d, type == 0x63);
        }
        break;
    }
    default:
        p.type = QStringLiteral("0x%1").arg(type, 2, 16, QLatin1Char('0'));
        return false;
    }
    if (cell.type != SQLITE_NULL)
        p.value = cell.type == SQLITE_BLOB
                      ? QStringLiteral("0x") + QString::fromLatin1(cell.bytes.toHex().toUpper())
                      : cell.text();
    return in.ok;
}

QString procedureName(unsigned id)
{
    static const std::map<unsigned, const char*> names = {
        {1, "sp_cursor"},         {2, "sp_cursoropen"},      {3, "sp_cursorprepare"}, {4, "sp_cursorexecute"},
        {5, "sp_cursorprepexec"}, {6, "sp_cursorunprepare"}, {7, "sp_cursorfetch"},   {8, "sp_cursoroption"},
        {9, "sp_cursorclose"},    {10, "sp_executesql"},     {11, "sp_prepare"},      {12, "sp_execute"},
        {13, "sp_prepexec"},      {14, "sp_prepexecrpc"},    {15, "sp_unprepare"}};
    const auto it = names.find(id);
    return it == names.end() ? QStringLiteral("proc#%1").arg(id) : QLatin1String(it->second);
}

} // namespace

// ------------------------------------------------------------ the peer

std::vector<TdsPeer::Param> TdsPeer::Request::boundValues() const
{
    if (kind != Kind::Rpc || params.size() < 2)
        return {};
    return std::vector<Param>(params.begin() + 2, params.end());
}

TdsPeer::Fault TdsPeer::Fault::error(int number, const QString& pattern, int occurrence)
{
    Fault f;
    f.action = Action::Error;
    f.number = number;
    f.pattern = pattern;
    f.occurrence = occurrence;
    return f;
}

TdsPeer::Fault TdsPeer::Fault::errorAfterRunning(int number, const QString& pattern, int occurrence)
{
    Fault f = error(number, pattern, occurrence);
    f.action = Action::ErrorAfterRun;
    return f;
}

TdsPeer::Fault TdsPeer::Fault::close(const QString& pattern, int occurrence, bool afterRunning)
{
    Fault f;
    f.action = afterRunning ? Action::CloseAfterRun : Action::Close;
    f.pattern = pattern;
    f.occurrence = occurrence;
    return f;
}

TdsPeer::Fault TdsPeer::Fault::stopAnswering(const QString& pattern, int occurrence)
{
    Fault f;
    f.action = Action::StopAnswering;
    f.pattern = pattern;
    f.occurrence = occurrence;
    return f;
}

class TdsPeer::Impl
{
public:
    // In a Windows child: the parent's peer, which this one stands for.
    FixtureShare share{"peer"};
    struct ArmedFault {
        Fault fault;
        int seen = 0;
        bool fired = false;
    };
    // Joins the threads of sessions whose client has gone.
    void settle();

    struct ConnectionRecord {
        int fd = -1;
        bool open = true;
        int roundTrips = 0;
    };

    QString folder;
    Encryption encryption = Encryption::On;
    QString acceptedUser = QStringLiteral("sa");
    std::optional<QString> acceptedPassword;
    bool acceptAny = false;
    std::map<QString, QString> columnTypes; // "table.column" lower case -> type
    QString instance;
    AgentAnswer agent;
    std::vector<ArmedFault> faults;
    std::atomic<int> delayMs{0};
    std::atomic<bool> noCount{false};
    QByteArray certPem, keyPem;

    QString address;
    std::uint16_t port = 0;
    int listenFd = -1;
    int udpFd = -1;
    std::atomic<bool> stopping{false};
    bool listening = false; // the listener thread is in its loop (under mutex)
    std::atomic<bool> running{false};
    Clock::time_point deadline;
    std::thread listener;
    std::vector<std::thread> sessions;
    SSL_CTX* tls = nullptr;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Request> requests;
    std::vector<Login> logins;
    std::vector<ConnectionRecord> connections;
    QStringList browser;

    bool shouldStop() const { return stopping.load() || Clock::now() > deadline; }

    void record(const Request& r)
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(r);
    }
    void countRoundTrip(int connection)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++connections[std::size_t(connection - 1)].roundTrips;
    }
    std::optional<Fault> faultFor(const Request& r)
    {
        if (r.kind == Request::Kind::Attention)
            return std::nullopt;
        std::lock_guard<std::mutex> lock(mutex);
        for (ArmedFault& a : faults) {
            if (a.fired)
                continue;
            if (!a.fault.pattern.isEmpty() &&
                !QRegularExpression(a.fault.pattern, QRegularExpression::CaseInsensitiveOption)
                     .match(r.text)
                     .hasMatch())
                continue;
            if (++a.seen == a.fault.occurrence) {
                a.fired = true;
                return a.fault;
            }
        }
        return std::nullopt;
    }
    QString columnType(const QString& table, const QString& column) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = columnTypes.find((table + QLatin1Char('.') + column).toLower());
        return it == columnTypes.end() ? QString() : it->second;
    }

    void listen();
    void answerBrowser();
    void serve(int fd, int id);
};

namespace
{

// One client connection: transport (plain or TLS), the protocol and the
// SQLite database behind it.
class Session
{
public:
    Session(TdsPeer::Impl& peer, int fd, int id)
        : m_peer(peer), m_fd(fd), m_id(id), m_spid(50 + id), m_noCount(peer.noCount)
    {
    }
    ~Session()
    {
        dropTls();
        if (m_db)
            sqlite3_close(m_db); // an open transaction is rolled back
    }

    void run();

private:
    enum class Tls { None, LoginOnly, Full };

    // --- transport
    bool waitReadable()
    {
        for (;;) {
            if (m_peer.shouldStop() || (m_silent && Clock::now() > m_silentUntil))
                return false;
            pollfd p = peersockets::pollEntry(m_fd, POLLIN);
            const int r = pollSockets(&p, 1, kPollSliceMs);
            if (r < 0 && !interrupted())
                return false;
            if (r > 0)
                return true;
        }
    }
    bool recvRaw(QByteArray& into)
    {
        if (!waitReadable())
            return false;
        char buf[16384];
        const ssize_t got = ::recv(m_fd, buf, sizeof buf, 0);
        if (got <= 0)
            return false;
        into.append(buf, int(got));
        return true;
    }
    bool sendRaw(const QByteArray& data)
    {
        qsizetype sent = 0;
        while (sent < data.size()) {
            if (m_peer.shouldStop())
                return false;
            pollfd p = peersockets::pollEntry(m_fd, POLLOUT);
            if (pollSockets(&p, 1, kPollSliceMs) <= 0)
                continue;
            const ssize_t n =
                ::send(m_fd, data.constData() + sent, std::size_t(data.size() - sent), kSendFlags);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }
    bool drainTls()
    {
        char buf[16384];
        for (;;) {
            const int n = BIO_read(m_wbio, buf, sizeof buf);
            if (n <= 0)
                return true;
            if (!sendRaw(QByteArray(buf, n)))
                return false;
        }
    }
    // Fills m_plain with at least n bytes of the (decrypted) stream.
    bool need(int n)
    {
        while (m_plain.size() < n) {
            if (m_tlsActive) {
                char buf[16384];
                const int got = SSL_read(m_ssl, buf, sizeof buf);
                if (got > 0) {
                    m_plain.append(buf, got);
                    continue;
                }
                const int e = SSL_get_error(m_ssl, got);
                if (e != SSL_ERROR_WANT_READ) {
                    PEER_TRACE("#%d TLS read failed: %d %s\n", m_id, e, peerTlsError().c_str());
                    return false;
                }
                QByteArray raw;
                if (!recvRaw(raw))
                    return false;
                BIO_write(m_rbio, raw.constData(), int(raw.size()));
            } else if (!recvRaw(m_plain)) {
                return false;
            }
        }
        return true;
    }
    bool send(const QByteArray& data)
    {
        if (!m_tlsActive)
            return sendRaw(data);
        if (SSL_write(m_ssl, data.constData(), int(data.size())) <= 0)
            return false;
        return drainTls();
    }
    // One message: packets up to the one marked end of message.
    bool readMessage(std::uint8_t& type, QByteArray& payload)
    {
        payload.clear();
        for (;;) {
            if (!need(8))
                return false;
            type = std::uint8_t(m_plain[0]);
            const unsigned status = std::uint8_t(m_plain[1]);
            const int length = (std::uint8_t(m_plain[2]) << 8) | std::uint8_t(m_plain[3]);
            PEER_TRACE("#%d packet type 0x%02x status %u length %d%s\n", m_id, type, status, length,
                       m_tlsActive ? " (tls)" : "");
            if (length < 8 || !need(length))
                return false;
            payload.append(m_plain.mid(8, length - 8));
            m_plain.remove(0, length);
            if (status & 0x01)
                return true;
        }
    }
    QByteArray packets(std::uint8_t type, const QByteArray& payload)
    {
        QByteArray out;
        const int room = kPacketSize - 8;
        int pos = 0;
        std::uint8_t packetId = 1;
        do {
            const int chunk = std::min(room, int(payload.size()) - pos);
            const bool last = pos + chunk >= payload.size();
            out.append(char(type));
            out.append(char(last ? 0x01 : 0x00));
            out.append(char(((chunk + 8) >> 8) & 0xFF));
            out.append(char((chunk + 8) & 0xFF));
            out.append(char((m_spid >> 8) & 0xFF));
            out.append(char(m_spid & 0xFF));
            out.append(char(packetId++));
            out.append(char(0));
            out.append(payload.mid(pos, chunk));
            pos += chunk;
        } while (pos < payload.size());
        return out;
    }
    bool reply(const QByteArray& tokens)
    {
        const int delay = m_peer.delayMs;
        for (int waited = 0; waited < delay; waited += 10) {
            if (m_peer.shouldStop())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, delay - waited)));
        }
        return send(packets(kReply, tokens));
    }
    void dropTls()
    {
        if (m_ssl)
            SSL_free(m_ssl); // frees both memory BIOs
        m_ssl = nullptr;
        m_rbio = m_wbio = nullptr;
        m_tlsActive = false;
    }

    // --- protocol
    bool prelogin();
    bool handshake();
    bool login();
    bool request(std::uint8_t type, const QByteArray& payload);
    void runBatch(const QString& text, const QStringList& names, const std::vector<Cell>& values, bool inProc,
                  Out& o, bool& closeAfter, bool& closeBefore, bool& silent,
                  std::optional<TdsPeer::Fault> fault);
    bool runStatement(const QString& sql, const QStringList& names, const std::vector<Cell>& values, Out& o,
                      bool more, bool inProc);
    void transactionRequest(const QByteArray& payload, int start, Out& o, QString& text, bool& beginAfter);
    bool openDatabase(const QString& name);
    QByteArray descriptor() const
    {
        Out o;
        o.u64(m_transaction);
        return o.b;
    }
    void begin(Out& o)
    {
        sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr);
        m_transaction = (std::uint64_t(m_id) << 32) | ++m_transactionCount;
        putEnvChangeBytes(o, 8, descriptor(), QByteArray());
    }
    void commit(Out& o)
    {
        if (!m_transaction)
            return;
        sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        putEnvChangeBytes(o, 9, QByteArray(), descriptor());
        m_transaction = 0;
    }
    void rollback(Out& o)
    {
        if (!m_transaction)
            return;
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        putEnvChangeBytes(o, 10, QByteArray(), descriptor());
        m_transaction = 0;
    }
    void error(Out& o, const ErrorInfo& e) { putMessage(o, true, e.number, e.state, e.severity, e.message); }
    ErrorInfo faultError(const TdsPeer::Fault& f) const
    {
        ErrorInfo e;
        e.number = f.number;
        e.state = f.state;
        e.severity = f.severity ? f.severity : defaultSeverity(f.number);
        e.message = f.message.isEmpty() ? defaultMessage(f.number, m_spid) : f.message;
        return e;
    }
    QString varbinaryType(const QString& column, const QString& statement);
    ErrorInfo sqliteError(int rc) const;

    TdsPeer::Impl& m_peer;
    int m_fd;
    int m_id;
    int m_spid;
    QByteArray m_plain;
    SSL* m_ssl = nullptr;
    BIO* m_rbio = nullptr;
    BIO* m_wbio = nullptr;
    bool m_tlsActive = false;
    Tls m_tls = Tls::None;
    sqlite3* m_db = nullptr;
    QString m_database;
    std::uint64_t m_transaction = 0;
    std::uint32_t m_transactionCount = 0;
    bool m_noCount; // SET NOCOUNT ON: DONE carries no row count
    bool m_silent = false;
    Clock::time_point m_silentUntil;
};

bool Session::prelogin()
{
    std::uint8_t type = 0;
    QByteArray payload;
    if (!readMessage(type, payload) || type != kPrelogin)
        return false;
    unsigned clientEncryption = 0;
    for (In in(payload); in.has(1);) {
        const unsigned token = in.u8();
        if (token == 0xFF)
            break;
        const unsigned offset = (in.u8() << 8) | in.u8();
        const unsigned length = (in.u8() << 8) | in.u8();
        if (token == 1 && length >= 1 && int(offset) < payload.size())
            clientEncryption = std::uint8_t(payload[int(offset)]);
    }
    // SQL Server's answer to the client's wish, for the setting the test chose.
    unsigned answer = 2;
    switch (m_peer.encryption) {
    case TdsPeer::Encryption::NotSupported:
        answer = 2;
        break;
    case TdsPeer::Encryption::Off:
        answer = clientEncryption == 1 ? 1 : clientEncryption == 2 ? 2 : 0;
        break;
    case TdsPeer::Encryption::On:
        answer = clientEncryption == 1 ? 1 : 3;
        break;
    }
    m_tls = answer == 2 ? Tls::None : answer == 0 ? Tls::LoginOnly : Tls::Full;

    Out body;
    const unsigned header = 5 * 5 + 1;
    const std::array<std::pair<unsigned, unsigned>, 5> options = {
        std::pair<unsigned, unsigned>{0, 6}, {1, 1}, {2, 1}, {3, 0}, {4, 1}};
    unsigned offset = header;
    for (const auto& [token, length] : options) {
        body.u8(token);
        body.u8(offset >> 8);
        body.u8(offset & 0xFF);
        body.u8(length >> 8);
        body.u8(length & 0xFF);
        offset += length;
    }
    body.u8(0xFF);
    // Version 16.0.1000, sub-build 0.
    body.u8(16);
    body.u8(0);
    body.u8(0x03);
    body.u8(0xE8);
    body.u16(0);
    body.u8(answer);
    body.u8(0); // instance: matched
    body.u8(0); // MARS off
    return send(packets(kReply, body.b));
}

bool Session::handshake()
{
    m_ssl = SSL_new(m_peer.tls);
    m_rbio = BIO_new(BIO_s_mem());
    m_wbio = BIO_new(BIO_s_mem());
    SSL_set_bio(m_ssl, m_rbio, m_wbio);
    SSL_set_accept_state(m_ssl);
    // The handshake travels inside PRELOGIN packets.
    for (;;) {
        const int r = SSL_do_handshake(m_ssl);
        QByteArray out;
        char buf[16384];
        for (int n; (n = BIO_read(m_wbio, buf, sizeof buf)) > 0;)
            out.append(buf, n);
        if (!out.isEmpty() && !sendRaw(packets(kPrelogin, out)))
            return false;
        if (r == 1)
            break;
        if (SSL_get_error(m_ssl, r) != SSL_ERROR_WANT_READ) {
            PEER_TRACE("#%d TLS handshake failed: %s\n", m_id, peerTlsError().c_str());
            return false;
        }
        std::uint8_t type = 0;
        QByteArray payload;
        if (!readMessage(type, payload))
            return false;
        BIO_write(m_rbio, payload.constData(), int(payload.size()));
    }
    m_tlsActive = true;
    return true;
}

bool Session::openDatabase(const QString& name)
{
    const QString path = QDir(m_peer.folder).filePath(name + QStringLiteral(".db"));
    const bool system = name.compare(QLatin1String("master"), Qt::CaseInsensitive) == 0 ||
                        name.compare(QLatin1String("msdb"), Qt::CaseInsensitive) == 0 ||
                        name.compare(QLatin1String("tempdb"), Qt::CaseInsensitive) == 0;
    const bool plainName = !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
                           !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0)) &&
                           name != QLatin1String("..");
    sqlite3* db = nullptr;
    if (plainName && QFileInfo(path).isFile()) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
    } else if (system) {
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
    } else {
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_create_function(db, "tds_varbinary", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            tdsVarbinary, nullptr, nullptr);
    sqlite3_create_function(db, "tds_like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, tdsLike, nullptr,
                            nullptr);
    if (m_db)
        sqlite3_close(m_db);
    m_db = db;
    m_database = name;
    return true;
}

bool Session::login()
{
    std::uint8_t type = 0;
    QByteArray payload;
    const bool encrypted = m_tlsActive;
    if (!readMessage(type, payload) || type != kLogin7)
        return false;
    if (m_tls == Tls::LoginOnly)
        dropTls();

    TdsPeer::Login l;
    l.connection = m_id;
    l.encrypted = encrypted;
    In in(payload);
    in.u32();
    l.tdsVersion = in.u32();
    l.packetSize = in.u32();
    auto field = [&](int at, bool scrambled = false) {
        In f(payload, at);
        const unsigned offset = f.u16();
        const unsigned chars = f.u16();
        QByteArray bytes = payload.mid(int(offset), int(chars * 2));
        if (scrambled) {
            for (char& c : bytes) {
                const auto b = std::uint8_t(std::uint8_t(c) ^ 0xA5);
                c = char(std::uint8_t((b << 4) | (b >> 4)));
            }
        }
        return fromUcs2(bytes);
    };
    l.hostName = field(36);
    l.userName = field(40);
    l.password = field(44, true);
    l.appName = field(48);
    l.serverName = field(52);
    l.library = field(60);
    l.language = field(64);
    l.database = field(68);

    Out o;
    bool accepted = false;
    QString refusal;
    {
        std::lock_guard<std::mutex> lock(m_peer.mutex);
        accepted = m_peer.acceptAny || (l.userName == m_peer.acceptedUser &&
                                        (!m_peer.acceptedPassword || *m_peer.acceptedPassword == l.password));
    }
    const QString database = l.database.isEmpty() ? QStringLiteral("master") : l.database;
    if (!accepted) {
        putMessage(o, true, 18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(l.userName));
    } else if (!openDatabase(database)) {
        accepted = false;
        putMessage(o, true, 4060, 1, 11,
                   QStringLiteral("Cannot open database \"%1\" requested by the login. The login failed.")
                       .arg(database));
        putMessage(o, true, 18456, 1, 14, QStringLiteral("Login failed for user '%1'.").arg(l.userName));
    }
    l.accepted = accepted;
    {
        std::lock_guard<std::mutex> lock(m_peer.mutex);
        m_peer.logins.push_back(l);
    }
    if (!accepted) {
        putDone(o, kTokDone, kDoneError, 0, 0);
        reply(o.b);
        return false;
    }
    putEnvChange(o, 1, database, QStringLiteral("master"));
    putMessage(o, false, 5701, 2, 0, QStringLiteral("Changed database context to '%1'.").arg(database));
    putEnvChangeBytes(o, 7, QByteArray(reinterpret_cast<const char*>(kCollation1252.data()), 5),
                      QByteArray());
    putEnvChange(o, 2, QStringLiteral("us_english"), QString());
    putMessage(o, false, 5703, 1, 0, QStringLiteral("Changed language setting to us_english."));
    {
        Out ack;
        ack.u8(1);
        ack.u8(0x74);
        ack.u8(0x00);
        ack.u8(0x00);
        ack.u8(0x04);
        ack.bVarchar(QStringLiteral("Microsoft SQL Server"));
        ack.u8(16);
        ack.u8(0);
        ack.u8(0x03);
        ack.u8(0xE8);
        o.u8(kTokLoginAck);
        o.u16(unsigned(ack.b.size()));
        o.raw(ack.b);
    }
    putEnvChange(o, 4, QString::number(kPacketSize), QString::number(kPacketSize));
    putDone(o, kTokDone, 0, 0, 0);
    return reply(o.b);
}

QString Session::varbinaryType(const QString& column, const QString& statement)
{
    // A type the test set for a table named in the statement, else the
    // column's declared type in SQLite.
    sqlite3_stmt* st = nullptr;
    QStringList tables;
    if (sqlite3_prepare_v2(m_db, "select name from sqlite_master where type in ('table','view')", -1, &st,
                           nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW)
            tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    for (const QString& table : tables) {
        if (!QRegularExpression(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(table)),
                                QRegularExpression::CaseInsensitiveOption)
                 .match(statement)
                 .hasMatch())
            continue;
        const QString set = m_peer.columnType(table, column);
        if (!set.isEmpty())
            return set;
        const QByteArray t = table.toUtf8();
        const QByteArray c = column.toUtf8();
        const char* declared = nullptr;
        if (sqlite3_table_column_metadata(m_db, nullptr, t.constData(), c.constData(), &declared, nullptr,
                                          nullptr, nullptr, nullptr) == SQLITE_OK &&
            declared)
            return QString::fromUtf8(declared);
    }
    return QString();
}

ErrorInfo Session::sqliteError(int rc) const
{
    const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
    ErrorInfo e;
    e.severity = 16;
    static const QRegularExpression table(QStringLiteral("no such table: (\\S+)"));
    static const QRegularExpression column(QStringLiteral("no such column: (\\S+)"));
    static const QRegularExpression syntax(QStringLiteral("near \"([^\"]*)\": syntax error"));
    if (const auto m = table.match(message); m.hasMatch()) {
        e.number = 208;
        e.message = QStringLiteral("Invalid object name '%1'.").arg(m.captured(1));
    } else if (const auto m2 = column.match(message); m2.hasMatch()) {
        e.number = 207;
        e.message = QStringLiteral("Invalid column name '%1'.").arg(m2.captured(1));
    } else if (const auto m3 = syntax.match(message); m3.hasMatch()) {
        e.number = 102;
        e.severity = 15;
        e.message = QStringLiteral("Incorrect syntax near '%1'.").arg(m3.captured(1));
    } else if ((rc & 0xFF) == SQLITE_CONSTRAINT && message.contains(QLatin1String("UNIQUE"))) {
        e.number = 2627;
        e.severity = 14;
        e.message = QStringLiteral("Violation of PRIMARY KEY constraint. Cannot insert duplicate key. (%1)")
                        .arg(message);
    } else if ((rc & 0xFF) == SQLITE_CONSTRAINT && message.contains(QLatin1String("NOT NULL"))) {
        e.number = 515;
        e.message = QStringLiteral("Cannot insert the value NULL into column. (%1)").arg(message);
    } else if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
        e.number = 1222;
        e.message = QStringLiteral("Lock request time out period exceeded.");
    } else {
        e.number = 50000;
        e.message = message;
    }
    return e;
}

// Runs one translated text (maybe several SQLite statements); false after an error.
bool Session::runStatement(const QString& sql, const QStringList& names, const std::vector<Cell>& values,
                           Out& o, bool more, bool inProc)
{
    // Inside a procedure every DONEINPROC says more follows (RETURNSTATUS, DONEPROC).
    const unsigned inProcMore = inProc ? kDoneMore : 0;
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = utf8.constData();
    const char* end = tail + utf8.size();
    while (tail < end) {
        sqlite3_stmt* st = nullptr;
        const char* next = nullptr;
        const int prc = sqlite3_prepare_v2(m_db, tail, int(end - tail), &st, &next);
        if (prc != SQLITE_OK) {
            error(o, sqliteError(prc));
            putDone(o, inProc ? kTokDoneInProc : kTokDone, inProcMore | kDoneError | (more ? kDoneMore : 0),
                    0, 0);
            return false;
        }
        tail = next;
        if (!st)
            continue;
        for (int k = 0; k < names.size() && k < int(values.size()); ++k) {
            const int index = sqlite3_bind_parameter_index(st, names[k].toUtf8().constData());
            if (index <= 0)
                continue;
            const Cell& c = values[std::size_t(k)];
            if (c.type == SQLITE_INTEGER)
                sqlite3_bind_int64(st, index, c.i);
            else if (c.type == SQLITE_FLOAT)
                sqlite3_bind_double(st, index, c.d);
            else if (c.type == SQLITE_TEXT)
                sqlite3_bind_text(st, index, c.bytes.constData(), int(c.bytes.size()), SQLITE_TRANSIENT);
            else if (c.type == SQLITE_BLOB)
                sqlite3_bind_blob(st, index, c.bytes.constData(), int(c.bytes.size()), SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(st, index);
        }
        const int columns = sqlite3_column_count(st);
        std::vector<std::vector<Cell>> rows;
        int rc = SQLITE_OK;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::vector<Cell> row(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                Cell& cell = row[std::size_t(c)];
                cell.type = sqlite3_column_type(st, c);
                if (cell.type == SQLITE_INTEGER)
                    cell.i = sqlite3_column_int64(st, c);
                else if (cell.type == SQLITE_FLOAT)
                    cell.d = sqlite3_column_double(st, c);
                else if (cell.type != SQLITE_NULL)
                    cell.bytes = QByteArray(static_cast<const char*>(cell.type == SQLITE_BLOB
                                                                         ? sqlite3_column_blob(st, c)
                                                                         : sqlite3_column_text(st, c)),
                                            sqlite3_column_bytes(st, c));
            }
            rows.push_back(std::move(row));
        }
        const bool lastHere = tail >= end || QByteArray(tail, int(end - tail)).trimmed().isEmpty();
        const unsigned moreFlag = (more || !lastHere) ? kDoneMore : 0;
        if (rc != SQLITE_DONE) {
            const ErrorInfo e = sqliteError(rc);
            sqlite3_finalize(st);
            error(o, e);
            putDone(o, inProc ? kTokDoneInProc : kTokDone, inProcMore | kDoneError | moreFlag, 0, 0);
            return false;
        }
        if (columns == 0) {
            const QString verb =
                QString::fromUtf8(sqlite3_sql(st)).trimmed().section(QLatin1Char(' '), 0, 0).toLower();
            const unsigned cmd = verb == QLatin1String("insert")   ? 0xC3
                                 : verb == QLatin1String("delete") ? 0xC4
                                 : verb == QLatin1String("update") ? 0xC5
                                                                   : 0;
            const bool counted = cmd != 0 && !m_noCount;
            putDone(o, inProc ? kTokDoneInProc : kTokDone, inProcMore | (counted ? kDoneCount : 0) | moreFlag,
                    cmd, counted ? std::uint64_t(sqlite3_changes(m_db)) : 0);
            sqlite3_finalize(st);
            continue;
        }
        // Result set: the type of each column as SQL Server would describe it.
        std::vector<SqlType> types(static_cast<std::size_t>(columns));
        Out meta;
        meta.u8(kTokColMetadata);
        meta.u16(unsigned(columns));
        for (int c = 0; c < columns; ++c) {
            std::optional<SqlType> type;
            const char* table = sqlite3_column_table_name(st, c);
            const char* origin = sqlite3_column_origin_name(st, c);
            if (table && origin)
                type = parseSqlType(m_peer.columnType(QString::fromUtf8(table), QString::fromUtf8(origin)));
            if (!type)
                type = parseSqlType(QString::fromUtf8(sqlite3_column_decltype(st, c)));
            if (!type) {
                int seen = SQLITE_NULL;
                for (const auto& row : rows) {
                    if (row[std::size_t(c)].type != SQLITE_NULL) {
                        seen = row[std::size_t(c)].type;
                        break;
                    }
                }
                type = seen == SQLITE_FLOAT  ? SqlType{TypeKind::Float, 8}
                       : seen == SQLITE_TEXT ? SqlType{TypeKind::Varchar, 8000}
                       : seen == SQLITE_BLOB ? SqlType{TypeKind::Varbinary, -1}
                                             : SqlType{TypeKind::Int, 4};
            }
            types[std::size_t(c)] = *type;
            meta.u32(0);      // user type
            meta.u16(0x0009); // nullable, updatable unknown
            putTypeInfo(meta, *type);
            meta.bVarchar(QString::fromUtf8(sqlite3_column_name(st, c)));
        }
        sqlite3_finalize(st);
        Out data;
        try {
            for (const auto& row : rows) {
                data.u8(kTokRow);
                for (int c = 0; c < columns; ++c)
                    putValue(data, types[std::size_t(c)], row[std::size_t(c)]);
            }
        } catch (const ConversionError& e) {
            o.raw(meta.b);
            putMessage(o, true, e.number, 1, 16, e.message);
            putDone(o, inProc ? kTokDoneInProc : kTokDone, inProcMore | kDoneError | moreFlag, 0xC1, 0);
            return false;
        }
        o.raw(meta.b);
        o.raw(data.b);
        putDone(o, inProc ? kTokDoneInProc : kTokDone, inProcMore | (m_noCount ? 0 : kDoneCount) | moreFlag,
                0xC1, rows.size());
    }
    return true;
}

void Session::runBatch(const QString& text, const QStringList& names, const std::vector<Cell>& values,
                       bool inProc, Out& o, bool& closeAfter, bool& closeBefore, bool& silent,
                       std::optional<TdsPeer::Fault> fault)
{
    const std::uint8_t done = inProc ? kTokDoneInProc : kTokDone;
    const unsigned inProcMore = inProc ? kDoneMore : 0;
    if (fault) {
        switch (fault->action) {
        case TdsPeer::Fault::Action::Close:
            closeBefore = true;
            return;
        case TdsPeer::Fault::Action::StopAnswering:
            silent = true;
            return;
        case TdsPeer::Fault::Action::CloseAfterRun:
            closeAfter = true;
            break;
        case TdsPeer::Fault::Action::Error:
        case TdsPeer::Fault::Action::ErrorAfterRun: { // batches: as Error
            if (fault->number == 1205)
                rollback(o); // the deadlock victim's transaction is gone
            error(o, faultError(*fault));
            putDone(o, done, inProcMore | kDoneError, 0, 0);
            return;
        }
        }
    }
    const Translation t =
        translateToSqlite(text, names, [&](const QString& column) { return varbinaryType(column, text); });
    switch (t.action) {
    case Translation::Action::Refuse:
        error(o, t.error);
        putDone(o, done, inProcMore | kDoneError, 0, 0);
        return;
    case Translation::Action::Nothing:
        if (simplified(text).contains(QLatin1String("nocount on")))
            m_noCount = true;
        else if (simplified(text).contains(QLatin1String("nocount off")))
            m_noCount = false;
        putDone(o, done, inProcMore | 0, 0, 0);
        return;
    case Translation::Action::Begin:
        if (!m_transaction)
            begin(o);
        putDone(o, done, inProcMore | 0, 0, 0);
        return;
    case Translation::Action::Commit:
    case Translation::Action::CommitIfOpen:
        if (!m_transaction && t.action == Translation::Action::Commit) {
            error(o,
                  {3902, 1, 16,
                   QStringLiteral("The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.")});
            putDone(o, done, inProcMore | kDoneError, 0, 0);
            return;
        }
        commit(o);
        if (t.beginAfter)
            begin(o);
        putDone(o, done, inProcMore | 0, 0, 0);
        return;
    case Translation::Action::Rollback:
    case Translation::Action::RollbackIfOpen:
        if (!m_transaction && t.action == Translation::Action::Rollback) {
            error(o, {3903, 1, 16,
                      QStringLiteral(
                          "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.")});
            putDone(o, done, inProcMore | kDoneError, 0, 0);
            return;
        }
        rollback(o);
        if (t.beginAfter)
            begin(o);
        putDone(o, done, inProcMore | 0, 0, 0);
        return;
    case Translation::Action::Spid: {
        o.u8(kTokColMetadata);
        o.u16(1);
        o.u32(0);
        o.u16(0);
        putTypeInfo(o, {TypeKind::Int, 2});
        o.bVarchar(QStringLiteral("spid"));
        o.u8(kTokRow);
        putValue(o, {TypeKind::Int, 2}, Cell{SQLITE_INTEGER, m_spid, 0, {}});
        putDone(o, done, inProcMore | kDoneCount, 0xC1, 1);
        return;
    }
    case Translation::Action::Agent: {
        TdsPeer::AgentAnswer a;
        {
            std::lock_guard<std::mutex> lock(m_peer.mutex);
            a = m_peer.agent;
        }
        if (!a.succeed) {
            error(o, {a.number, 1, 16, a.message});
            putDone(o, done, inProcMore | kDoneError, 0, 0);
            return;
        }
        o.u8(kTokColMetadata);
        o.u16(1);
        o.u32(0);
        o.u16(1);
        putTypeInfo(o, {TypeKind::NVarchar, 30});
        o.bVarchar(QStringLiteral("Current Service State"));
        o.u8(kTokRow);
        Cell state{SQLITE_TEXT, 0, 0, a.state.toUtf8()};
        putValue(o, {TypeKind::NVarchar, 30}, state);
        putDone(o, done, inProcMore | kDoneCount, 0xC1, 1);
        return;
    }
    case Translation::Action::Use: {
        const QString old = m_database;
        if (!openDatabase(t.sql)) {
            error(o, {911, 1, 16,
                      QStringLiteral(
                          "Database '%1' does not exist. Make sure that the name is entered correctly.")
                          .arg(t.sql)});
            putDone(o, done, inProcMore | kDoneError, 0, 0);
            return;
        }
        putEnvChange(o, 1, t.sql, old);
        putMessage(o, false, 5701, 1, 0, QStringLiteral("Changed database context to '%1'.").arg(t.sql));
        putDone(o, done, inProcMore | 0, 0, 0);
        return;
    }
    case Translation::Action::Run:
        runStatement(t.sql, names, values, o, false, inProc);
        return;
    }
}

bool Session::request(std::uint8_t type, const QByteArray& payload)
{
    TdsPeer::Request r;
    r.connection = m_id;
    r.database = m_database;
    // ALL_HEADERS precede the body of batches, RPC and transaction requests.
    int start = 0;
    if (type == kSqlBatch || type == kRpc || type == kTransactionManager) {
        In in(payload);
        const std::uint32_t total = in.u32();
        if (in.ok && total >= 4 && int(total) <= payload.size())
            start = int(total);
    }

    Out o;
    if (type == kAttention) {
        r.kind = TdsPeer::Request::Kind::Attention;
        m_peer.record(r);
        m_peer.countRoundTrip(m_id);
        if (m_silent)
            return true;
        putDone(o, kTokDone, kDoneAttention, 0, 0);
        return reply(o.b);
    }

    QStringList names;
    std::vector<Cell> values;
    QString statement;
    bool rpcOther = false;
    bool malformed = false;
    bool beginAfter = false;
    if (type == kSqlBatch) {
        r.kind = TdsPeer::Request::Kind::Batch;
        r.text = fromUcs2(payload.mid(start));
        statement = r.text;
    } else if (type == kRpc) {
        r.kind = TdsPeer::Request::Kind::Rpc;
        In in(payload, start);
        const unsigned nameLength = in.u16();
        r.procedure =
            nameLength == 0xFFFF ? procedureName(in.u16()) : fromUcs2(in.bytes(int(nameLength) * 2));
        in.u16(); // option flags
        while (in.ok && in.has(1)) {
            const unsigned marker = std::uint8_t(payload[in.pos]);
            if (marker == 0x80 || marker == 0xFF) // batch separator: one request per RPC only
                break;
            TdsPeer::Param p;
            Cell cell;
            p.name = in.bVarchar();
            p.output = (in.u8() & 0x01) != 0;
            if (!readParam(in, p, cell)) {
                malformed = true;
                r.params.push_back(p);
                break;
            }
            r.params.push_back(p);
            values.push_back(cell);
        }
        if (r.procedure.compare(QLatin1String("sp_executesql"), Qt::CaseInsensitive) == 0 &&
            r.params.size() >= 1) {
            r.text = r.params[0].value.value_or(QString());
            statement = r.text;
            // FreeTDS sends the values unnamed, in the order of the declaration
            // ("@P1 NVARCHAR(5),@P2 ...").
            static const QRegularExpression declared(QStringLiteral("(@\\w+)\\s+[A-Za-z]"));
            const QString declaration =
                r.params.size() >= 2 ? r.params[1].value.value_or(QString()) : QString();
            QStringList declaredNames;
            for (auto it = declared.globalMatch(declaration); it.hasNext();)
                declaredNames << it.next().captured(1);
            for (std::size_t k = 2; k < r.params.size(); ++k) {
                const std::size_t at = k - 2;
                names << (!r.params[k].name.isEmpty()      ? r.params[k].name
                          : int(at) < declaredNames.size() ? declaredNames[int(at)]
                                                           : QString());
            }
            values.erase(values.begin(),
                         values.begin() + std::min<std::ptrdiff_t>(2, std::ptrdiff_t(values.size())));
        } else {
            r.text = r.procedure;
            rpcOther = true;
        }
    } else if (type == kTransactionManager) {
        r.kind = TdsPeer::Request::Kind::Transaction;
        In in(payload, start);
        const unsigned kind = in.u16();
        if (kind == 5) {
            r.text = QStringLiteral("BEGIN TRANSACTION");
        } else if (kind == 7 || kind == 8) {
            in.bytes(int(in.u8())); // name
            const unsigned flags = in.u8();
            beginAfter = (flags & 0x01) != 0;
            r.text =
                kind == 7 ? QStringLiteral("COMMIT TRANSACTION") : QStringLiteral("ROLLBACK TRANSACTION");
            if (beginAfter)
                r.text += QStringLiteral(" + BEGIN TRANSACTION");
        } else {
            r.text = QStringLiteral("TRANSACTION MANAGER REQUEST %1").arg(kind);
            malformed = true;
        }
    } else {
        // Anything else is outside what the peer models: close, as a server would.
        return false;
    }
    m_peer.record(r);
    m_peer.countRoundTrip(m_id);
    const std::optional<TdsPeer::Fault> fault = m_peer.faultFor(r);
    if (m_silent)
        return true;

    bool closeAfter = false, closeBefore = false;
    if (malformed) {
        error(o, {8009, 1, 16, QStringLiteral("The incoming request is not one the test peer decodes.")});
        putDone(o, kTokDone, kDoneError, 0, 0);
    } else if (type == kTransactionManager) {
        if (fault && fault->action == TdsPeer::Fault::Action::Close)
            return false;
        if (fault && fault->action == TdsPeer::Fault::Action::StopAnswering) {
            m_silent = true;
            m_silentUntil = Clock::now() + std::chrono::milliseconds(fault->holdMs);
            return true;
        }
        if (fault && fault->action == TdsPeer::Fault::Action::Error) {
            error(o, faultError(*fault));
            putDone(o, kTokDone, kDoneError, 0, 0);
        } else {
            bool failed = false;
            const bool errorAfter = fault && fault->action == TdsPeer::Fault::Action::ErrorAfterRun;
            if (r.text.startsWith(QLatin1String("BEGIN"))) {
                if (!m_transaction)
                    begin(o);
            } else if (r.text.startsWith(QLatin1String("COMMIT")) && !m_transaction) {
                error(o, {3902, 1, 16,
                          QStringLiteral(
                              "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.")});
                failed = true;
            } else if (r.text.startsWith(QLatin1String("COMMIT"))) {
                commit(o);
                if (beginAfter && !errorAfter)
                    begin(o);
            } else if (!m_transaction) {
                // As SQL Server answers a rollback after it has rolled back
                // itself (a deadlock victim, an error that ends the transaction).
                error(o, {3903, 1, 16,
                          QStringLiteral(
                              "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.")});
                failed = true;
            } else {
                rollback(o);
                if (beginAfter)
                    begin(o);
            }
            if (fault && fault->action == TdsPeer::Fault::Action::CloseAfterRun)
                return false;
            if (errorAfter) {
                error(o, faultError(*fault));
                failed = true;
            }
            putDone(o, kTokDone, failed ? kDoneError : 0, 0, 0);
        }
    } else if (rpcOther) {
        if (fault && fault->action == TdsPeer::Fault::Action::Close)
            return false;
        if (r.procedure.compare(QLatin1String("sp_tables"), Qt::CaseInsensitive) == 0) {
            // The catalog's answer for a table name pattern.
            QString pattern = QStringLiteral("%");
            for (const TdsPeer::Param& p : r.params) {
                if (p.name.compare(QLatin1String("@table_name"), Qt::CaseInsensitive) == 0 && p.value)
                    pattern = *p.value;
            }
            std::vector<Cell> v{Cell{SQLITE_TEXT, 0, 0, m_database.toUtf8()},
                                Cell{SQLITE_TEXT, 0, 0, pattern.toUtf8()}};
            runStatement(
                QStringLiteral("select @db as TABLE_QUALIFIER, 'dbo' as TABLE_OWNER, name as TABLE_NAME, "
                               "case type when 'view' then 'VIEW' else 'TABLE' end as TABLE_TYPE, "
                               "null as REMARKS from sqlite_master where type in ('table','view') and "
                               "tds_like(@pattern, name) order by name"),
                {QStringLiteral("@db"), QStringLiteral("@pattern")}, v, o, true, true);
            o.u8(kTokReturnStatus);
            o.u32(0);
            putDone(o, kTokDoneProc, 0, 0xE0, 0);
        } else {
            error(o,
                  {2812, 62, 16, QStringLiteral("Could not find stored procedure '%1'.").arg(r.procedure)});
            putDone(o, kTokDoneProc, kDoneError, 0xE0, 0);
        }
    } else {
        const bool rpc = type == kRpc;
        bool silent = false;
        runBatch(statement, names, values, rpc, o, closeAfter, closeBefore, silent, fault);
        if (closeBefore)
            return false;
        if (silent) {
            m_silent = true;
            m_silentUntil = Clock::now() + std::chrono::milliseconds(fault->holdMs);
            return true;
        }
        if (closeAfter)
            return false;
        if (rpc) {
            o.u8(kTokReturnStatus);
            o.u32(0);
            putDone(o, kTokDoneProc, 0, 0xE0, 0);
        }
    }
    return reply(o.b);
}

void Session::run()
{
    if (!prelogin())
        return;
    if (m_tls != Tls::None && !handshake())
        return;
    if (!login())
        return;
    for (;;) {
        std::uint8_t type = 0;
        QByteArray payload;
        if (!readMessage(type, payload))
            return;
        if (!request(type, payload))
            return;
    }
}

} // namespace

void TdsPeer::Impl::serve(int fd, int id)
{
    {
        Session session(*this, fd, id);
        session.run();
    }
    std::lock_guard<std::mutex> lock(mutex);
    connections[std::size_t(id - 1)].open = false;
    ::shutdown(fd, kShutBoth);
    closeSocket(fd);
    connections[std::size_t(id - 1)].fd = -1;
    changed.notify_all();
}

void TdsPeer::Impl::settle()
{
    std::vector<std::thread> ended;
    {
        std::unique_lock<std::mutex> lock(mutex);
        // A client that has gone (a child that ended) is noticed by its
        // session within a poll slice; wait for that before collecting.
        const auto clientGone = [this] {
            for (const ConnectionRecord& c : connections) {
                pollfd p = peersockets::pollEntry(c.fd, kPeerHangUp);
                if (c.open && c.fd >= 0 && pollSockets(&p, 1, 0) > 0 &&
                    (p.revents & (kPeerHangUp | POLLHUP | POLLERR)) != 0)
                    return true;
            }
            return false;
        };
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return !clientGone(); });
        for (std::size_t i = 0; i < connections.size() && i < sessions.size(); ++i) {
            if (!connections[i].open && sessions[i].joinable())
                ended.push_back(std::move(sessions[i]));
        }
    }
    for (std::thread& t : ended)
        t.join();
}

void TdsPeer::Impl::answerBrowser()
{
    char buf[1024];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(udpFd, buf, sizeof buf - 1, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0)
        return;
    buf[n] = 0;
    if (buf[0] != 0x04 && buf[0] != 0x03)
        return;
    const QString asked = QString::fromLatin1(buf + 1, int(std::strlen(buf + 1)));
    {
        std::lock_guard<std::mutex> lock(mutex);
        browser << asked;
    }
    if (asked.compare(instance, Qt::CaseInsensitive) != 0)
        return; // an unknown instance: SQL Server Browser stays silent
    const QByteArray text =
        QStringLiteral("ServerName;TDSPEER;InstanceName;%1;IsClustered;No;Version;16.0.1000.6;tcp;%2;;")
            .arg(instance)
            .arg(port)
            .toLatin1();
    QByteArray answer;
    answer.append(char(0x05));
    answer.append(char(text.size() & 0xFF));
    answer.append(char((text.size() >> 8) & 0xFF));
    answer.append(text);
    ::sendto(udpFd, answer.constData(), std::size_t(answer.size()), 0, reinterpret_cast<sockaddr*>(&from),
             fromLength);
}

void TdsPeer::Impl::listen()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        listening = true;
        changed.notify_all();
    }
    while (!shouldStop()) {
        pollfd fds[2] = {peersockets::pollEntry(listenFd, POLLIN), peersockets::pollEntry(udpFd, POLLIN)};
        const int count = udpFd >= 0 ? 2 : 1;
        const int r = pollSockets(fds, count, kPollSliceMs);
        if (r <= 0)
            continue;
        if (count == 2 && (fds[1].revents & POLLIN))
            answerBrowser();
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
            int id = 0;
            // Under the lock, so that settle() finds each session beside its connection.
            std::lock_guard<std::mutex> lock(mutex);
            connections.push_back(ConnectionRecord{fd, true, 0});
            id = int(connections.size());
            sessions.emplace_back([this, fd, id] { serve(fd, id); });
        }
    }
    // Wake every session so that it ends now.
    std::lock_guard<std::mutex> lock(mutex);
    for (const ConnectionRecord& c : connections) {
        if (c.fd >= 0)
            ::shutdown(c.fd, kShutBoth);
    }
}

// ------------------------------------------------------------ public API

TdsPeer::TdsPeer(const QString& databaseFolder) : m_impl(std::make_unique<Impl>())
{
    m_impl->folder = databaseFolder;
}

TdsPeer::~TdsPeer()
{
    stop();
}

void TdsPeer::setEncryption(Encryption encryption)
{
    m_impl->encryption = encryption;
}

void TdsPeer::setAcceptedLogin(const QString& userName, const QString& password)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->acceptedUser = userName;
    m_impl->acceptedPassword = password;
    m_impl->acceptAny = false;
}

void TdsPeer::setAcceptAnyLogin(bool any)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->acceptAny = any;
}

void TdsPeer::setColumnType(const QString& table, const QString& column, const QString& sqlServerType)
{
    if (!parseSqlType(sqlServerType))
        throw std::invalid_argument("TdsPeer: unknown SQL Server type " + sqlServerType.toStdString());
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->columnTypes[(table + QLatin1Char('.') + column).toLower()] = sqlServerType;
}

void TdsPeer::setInstance(const QString& instanceName)
{
    m_impl->instance = instanceName;
}

void TdsPeer::setAgentAnswer(const AgentAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->agent = answer;
}

void TdsPeer::addFault(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults.push_back(Impl::ArmedFault{fault, 0, false});
}

void TdsPeer::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults.clear();
}

void TdsPeer::setNoCount(bool on)
{
    m_impl->noCount = on;
}

void TdsPeer::setAnswerDelayMs(int ms)
{
    m_impl->delayMs = std::max(0, ms);
}

void TdsPeer::setCertificate(const QByteArray& certificatePem, const QByteArray& keyPem)
{
    m_impl->certPem = certificatePem;
    m_impl->keyPem = keyPem;
}

std::pair<QByteArray, QByteArray> TdsPeer::makeSelfSignedCertificate()
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (!key || !cert)
        throw std::runtime_error("TdsPeer: cannot make a key");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    auto toPem = [](auto write) {
        BIO* bio = BIO_new(BIO_s_mem());
        write(bio);
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        QByteArray pem(data, int(n));
        BIO_free(bio);
        return pem;
    };
    const QByteArray certPem = toPem([&](BIO* b) { PEM_write_bio_X509(b, cert); });
    const QByteArray keyPem =
        toPem([&](BIO* b) { PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); });
    X509_free(cert);
    EVP_PKEY_free(key);
    return {certPem, keyPem};
}

namespace
{
// The peers running in this process, for settleAll().
std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}
std::set<TdsPeer*>& registry()
{
    static std::set<TdsPeer*> peers;
    return peers;
}
} // namespace

void TdsPeer::start()
{
    Impl& d = *m_impl;
    if (d.running)
        throw std::logic_error("TdsPeer: already started");
    if (const std::optional<QString>& parent = d.share.inherited()) {
        const qsizetype comma = parent->lastIndexOf(QLatin1Char(','));
        d.address = parent->left(comma);
        d.port = static_cast<std::uint16_t>(parent->mid(comma + 1).toUInt());
        return;
    }

    if (d.certPem.isEmpty())
        std::tie(d.certPem, d.keyPem) = makeSelfSignedCertificate();
    d.tls = SSL_CTX_new(TLS_server_method());
    // TLS 1.2, as SQL Server speaks inside TDS 7.x. (Under TLS 1.3 FreeTDS 1.3
    // with GnuTLS leaves its Finished message in the buffer of the LOGIN7
    // packet, which no server can read.)
    SSL_CTX_set_min_proto_version(d.tls, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(d.tls, TLS1_2_VERSION);
    SSL_CTX_set_num_tickets(d.tls, 0); // nothing may follow the handshake inside PRELOGIN packets
    {
        BIO* cb = BIO_new_mem_buf(d.certPem.constData(), int(d.certPem.size()));
        BIO* kb = BIO_new_mem_buf(d.keyPem.constData(), int(d.keyPem.size()));
        X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
        const bool ok = cert && key && SSL_CTX_use_certificate(d.tls, cert) == 1 &&
                        SSL_CTX_use_PrivateKey(d.tls, key) == 1;
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(cb);
        BIO_free(kb);
        if (!ok) {
            SSL_CTX_free(d.tls);
            d.tls = nullptr;
            throw std::runtime_error("TdsPeer: the certificate or key is unusable");
        }
    }

    // A random 127.a.b.c so that parallel tests (and the Browser port) never collide.
    peersockets::startUp();
    std::random_device random;
    std::string why;
    for (int attempt = 0; attempt < 20 && d.listenFd < 0; ++attempt) {
        const unsigned a = 1 + random() % 254, b = 1 + random() % 254, c = 2 + random() % 252;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl((127u << 24) | (a << 16) | (b << 8) | c);
        addr.sin_port = 0;
        int udp = -1;
        if (!d.instance.isEmpty()) {
            udp = ::socket(AF_INET, SOCK_DGRAM | kSocketFlags, 0);
            sockaddr_in u = addr;
            u.sin_port = htons(1434);
            if (::bind(udp, reinterpret_cast<sockaddr*>(&u), sizeof u) != 0) {
                why = std::string("cannot bind UDP port 1434 (the SQL Server Browser port): ") + errorText();
                const bool denied = permissionDenied();
                closeSocket(udp);
                if (denied)
                    break;
                continue;
            }
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM | kSocketFlags, 0);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
            why = std::string("cannot listen: ") + errorText();
            closeSocket(fd);
            if (udp >= 0)
                closeSocket(udp);
            continue;
        }
        socklen_t length = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
        d.listenFd = fd;
        d.udpFd = udp;
        d.port = ntohs(addr.sin_port);
        d.address = QStringLiteral("127.%1.%2.%3").arg(a).arg(b).arg(c);
    }
    if (d.listenFd < 0) {
        SSL_CTX_free(d.tls);
        d.tls = nullptr;
        throw std::runtime_error("TdsPeer: " + why);
    }
    d.stopping = false;
    d.deadline = Clock::now() + std::chrono::seconds(kMaxLifetimeSeconds);
    d.running = true;
    d.listening = false;
    d.listener = std::thread([&d] { d.listen(); });
    {
        // A thread still starting up is inside the allocator: the test's next
        // fork() must not meet it there (see settleAll).
        std::unique_lock<std::mutex> lock(d.mutex);
        d.changed.wait_for(lock, std::chrono::seconds(5), [&d] { return d.listening; });
    }
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().insert(this);
    reliability::settleBeforeChildren(&TdsPeer::settleAll);
    d.share.offer(serverName());
}

void TdsPeer::settleAll()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (TdsPeer* peer : registry())
        peer->m_impl->settle();
}

void TdsPeer::stop()
{
    Impl& d = *m_impl;
    if (!d.running)
        return;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry().erase(this);
    }
    d.stopping = true;
    if (d.listener.joinable())
        d.listener.join();
    for (std::thread& t : d.sessions) {
        if (t.joinable())
            t.join();
    }
    d.sessions.clear();
    if (d.listenFd >= 0)
        closeSocket(d.listenFd);
    if (d.udpFd >= 0)
        closeSocket(d.udpFd);
    d.listenFd = d.udpFd = -1;
    SSL_CTX_free(d.tls);
    d.tls = nullptr;
    d.running = false;
}

bool TdsPeer::isRunning() const
{
    return m_impl->running && !m_impl->shouldStop();
}

QString TdsPeer::address() const
{
    return m_impl->address;
}

std::uint16_t TdsPeer::port() const
{
    return m_impl->port;
}

QString TdsPeer::serverName() const
{
    return QStringLiteral("%1,%2").arg(m_impl->address).arg(m_impl->port);
}

QString TdsPeer::instanceServerName() const
{
    return m_impl->address + QLatin1Char('\\') + m_impl->instance;
}

std::vector<TdsPeer::Request> TdsPeer::requests() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requests;
}

std::vector<TdsPeer::Login> TdsPeer::logins() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->logins;
}

QStringList TdsPeer::statements(int connection) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    QStringList out;
    for (const Request& r : m_impl->requests) {
        if (r.kind != Request::Kind::Attention && (connection == 0 || r.connection == connection))
            out << r.text;
    }
    return out;
}

int TdsPeer::roundTrips(int connection) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (connection < 1 || connection > int(m_impl->connections.size()))
        return 0;
    return m_impl->connections[std::size_t(connection - 1)].roundTrips;
}

int TdsPeer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return int(m_impl->connections.size());
}

int TdsPeer::openConnectionCount() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    int open = 0;
    for (const Impl::ConnectionRecord& c : m_impl->connections)
        open += c.open ? 1 : 0;
    return open;
}

bool TdsPeer::waitForNoOpenConnections(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        for (const Impl::ConnectionRecord& c : m_impl->connections) {
            if (c.open)
                return false;
        }
        return true;
    });
}

QStringList TdsPeer::browserRequests() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->browser;
}

std::unique_ptr<gst::Connection> openThroughPeer(const TdsPeer& peer, const QString& catalog,
                                                 const QString& password, const QString& options)
{
    auto c = std::make_unique<gst::Connection>();
    c->setProvider(QStringLiteral("SQLOLEDB"));
    c->setDriver(QStringLiteral("FreeTDS"), options);
    c->setProperty(QStringLiteral("Data Source"), peer.serverName());
    c->setProperty(QStringLiteral("Initial Catalog"), catalog);
    c->setProperty(QStringLiteral("User ID"), QStringLiteral("sa"));
    c->setProperty(QStringLiteral("Password"), password);
    c->open();
    return c;
}

void connectSharedThroughPeer(const TdsPeer& peer, const QString& catalog, const QString& password,
                              const QString& options)
{
    gConnection.reset();
    gConnection = openThroughPeer(peer, catalog, password, options);
    gDatabaseName = catalog;
}
