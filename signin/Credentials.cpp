#include "signin/Credentials.h"

#include "platform/Error.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"
#include "widgets/MessageBox.h"

#include <array>

bool gSignedIn = false;
std::int16_t gUserId = 0;
QString gUserName;
bool gDefaultMenu = false;
std::int16_t gProcessId = 0;

namespace gst
{

namespace
{
// Codes 0x80 to 0x9F; the rest of Windows-1252 equals Latin-1.
constexpr std::array<char16_t, 32> kCodes80To9F = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

const char* const kPasswordBytesColumn = "gst_password_bytes";

int windows1252Code(QChar ch)
{
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (std::size_t i = 0; i < kCodes80To9F.size(); ++i) {
        if (kCodes80To9F[i] == u)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

QChar windows1252Char(int code)
{
    if (code >= 0x80 && code <= 0x9F)
        return QChar(kCodes80To9F[static_cast<std::size_t>(code - 0x80)]);
    return QChar(static_cast<char16_t>(code & 0xFF));
}

QString decodeWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char b : bytes)
        text.append(windows1252Char(static_cast<unsigned char>(b)));
    return text;
}

QString storedPassword(const Value& text, bool narrowColumn, const QByteArray* bytes)
{
    if (text.isNull())
        raiseInvalidUseOfNull();
    // The driver turns single-byte text into Unicode through iconv, which
    // refuses the five undefined codes (the stored form of b, o, p, r and ~):
    // the column's own bytes keep them.
    if (narrowColumn && bytes)
        return decodeWindows1252(*bytes);
    return text.toText();
}

bool passwordMatches(const QString& stored, const QString& typed)
{
    for (const QChar ch : stored) {
        if (windows1252Code(ch) < 0)
            return false;
    }
    return TransformPassword(stored) == typed;
}

QString userLookupStatement(bool sqlite)
{
    if (sqlite)
        return QStringLiteral("select * from usermaster where loginname =?");
    return QStringLiteral(
               "select *, cast(Password as varbinary(max)) as %1 from usermaster where loginname =?")
        .arg(QLatin1String(kPasswordBytesColumn));
}

} // namespace gst

QString TransformPassword(const QString& s)
{
    QString result;
    result.reserve(s.size());
    for (const QChar ch : s) {
        const int code = gst::windows1252Code(ch);
        result.append(code < 0 ? ch : gst::windows1252Char(255 - code));
    }
    return result;
}

bool CheckCredentials(const QString& typedUserName, const QString& typedPassword)
{
    if (!gConnection)
        throw gst::AppError(gst::err::kObjectNotSet,
                            QStringLiteral("Object variable or With block variable not set"));
    gst::Connection& connection = *gConnection;

    // The name is bound, never pasted: a pasted apostrophe cannot change the statement.
    const QString userName = TrimSpaces(typedUserName);
    // No login name holds a NUL, and the SQLite driver would cut the bound name
    // there and find the user named by what stands before it: such a name
    // matches nobody, as it would on SQL Server.
    const bool matchable = !userName.contains(QChar(0));
    std::unique_ptr<gst::ResultSet> rs;
    if (matchable)
        rs = connection.query(gst::userLookupStatement(connection.isSqlite()), {userName});

    bool blocked = false;
    bool passed = false;
    if (rs && rs->next()) {
        // Only the first row counts.
        QByteArray bytes;
        const bool narrow = !connection.isSqlite() && rs->isNarrowTextColumn(QStringLiteral("Password"));
        if (narrow)
            bytes = rs->bytes(QLatin1String(gst::kPasswordBytesColumn));
        const QString stored =
            gst::storedPassword(rs->value(QStringLiteral("Password")), narrow, narrow ? &bytes : nullptr);
        if (!gst::passwordMatches(stored, typedPassword)) {
            gSignedIn = false;
        } else if (!rs->value(QStringLiteral("Enabled")).equalsTrue()) {
            blocked = true;
        } else {
            passed = true;
        }
    }

    if (passed) {
        gSignedIn = true;
        gLoginName = userName;
        gUserId = rs->value(QStringLiteral("UserId")).toInt16();
        gUserName = rs->value(QStringLiteral("Name")).toText();
        gDefaultMenu = rs->value(QStringLiteral("Defaultmenu")).toBool();
        gProcessId = rs->value(QStringLiteral("ProcessId")).toInt16();
        // Only the first row counts; closing reads the rest, so FreeTDS sends no cancel.
        rs->close();
        return true;
    }
    if (rs)
        rs->close();

    if (blocked) {
        gst::showMessage(QStringLiteral("Your Account Has Been Blocked !!"), std::nullopt,
                         gst::MsgIcon::Critical);
    } else {
        gst::showMessage(QStringLiteral("Invalid Password - Try again!"), gMsgTitle, gst::MsgIcon::Critical);
    }
    gSignedIn = false;
    return false;
}
