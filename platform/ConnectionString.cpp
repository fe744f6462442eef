#include "platform/ConnectionString.h"

#include "platform/Error.h"
#include "platform/OdbcCalls.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace gst
{

namespace
{

constexpr int kSqliteBusyTimeoutMs = 5000;
// SQL Server names (sysname) and passwords hold at most 128 characters.
constexpr int kLongestSqlServerName = 128;
constexpr int kLongestServerName = 255;
constexpr int kLongestOptions = 1000;
// The driver manager and FreeTDS read the string as bytes (FreeTDS as UTF-8),
// and unixODBC copies it into buffers of 2048 bytes in places.
constexpr int kLongestConnectionString = 2000;

} // namespace

namespace
{

// Each driver reads a connection string its own way, and the driver manager
// reads it first, by the ODBC rule, to find DRIVER, DSN, FILEDSN and SAVEFILE.
// A value goes in only where every reader sees it whole; otherwise it is refused.
// The three readers below are what decides that refusal, so they stay: for
// FreeTDS the suite's wire tests (hostile names and passwords through the TDS
// peer) prove each of their answers; for Microsoft's drivers, which cannot run
// here, and for unixODBC's own reading, they are the only guard.
enum class StringRule {
    Odbc,    // braces with "}" doubled: unixODBC, Windows' manager, Microsoft's drivers
    FreeTds, // FreeTDS 1.3: a braced value ends at the first "};", doubling is kept
    Sqlite,  // the SQLite3 driver: no braces, a value ends at the first ";"
};

struct Attribute {
    QString key;
    QString value;
    bool operator==(const Attribute& o) const { return key == o.key && value == o.value; }
};
using Attributes = std::vector<Attribute>;

Attributes parseOdbcRule(const QString& s)
{
    Attributes out;
    int i = 0;
    const int n = static_cast<int>(s.size());
    for (;;) {
        while (i < n && (s[i].isSpace() || s[i] == QLatin1Char(';')))
            ++i;
        const int eq = static_cast<int>(s.indexOf(QLatin1Char('='), i));
        if (i >= n || eq < 0)
            break;
        Attribute a{s.mid(i, eq - i), QString()};
        i = eq + 1;
        if (i < n && s[i] == QLatin1Char('{')) {
            ++i;
            while (i < n && (s[i] != QLatin1Char('}') || (i + 1 < n && s[i + 1] == QLatin1Char('}')))) {
                if (s[i] == QLatin1Char('}'))
                    ++i;
                a.value += s[i++];
            }
            if (i < n)
                ++i; // the closing brace
        } else {
            while (i < n && s[i] != QLatin1Char(';'))
                a.value += s[i++];
        }
        out.push_back(a);
    }
    return out;
}

Attributes parseFreeTdsRule(const QString& s)
{
    Attributes out;
    int p = 0;
    const int n = static_cast<int>(s.size());
    while (p < n) {
        while (p < n && s[p] == QLatin1Char(';'))
            ++p;
        const int eq = static_cast<int>(s.indexOf(QLatin1Char('='), p));
        if (eq < 0)
            break;
        while (p < eq && s[p] == QLatin1Char(' '))
            ++p;
        Attribute a{s.mid(p, eq - p), QString()};
        p = eq + 1;
        int end = -1;
        if (p < n && s[p] == QLatin1Char('{')) {
            ++p;
            for (int k = p; k < n; ++k) {
                if (s[k] == QLatin1Char('}') && k + 1 < n && s[k + 1] == QLatin1Char(';')) {
                    end = k;
                    break;
                }
            }
        } else {
            end = static_cast<int>(s.indexOf(QLatin1Char(';'), p));
        }
        if (end < 0)
            end = n;
        a.value = s.mid(p, end - p);
        out.push_back(a);
        p = end;
        if (p >= n)
            break;
        if (s[p] == QLatin1Char('}'))
            ++p;
        ++p;
    }
    return out;
}

Attributes parseSqliteRule(const QString& s)
{
    Attributes out;
    int p = 0;
    const int n = static_cast<int>(s.size());
    while (p < n) {
        while (p < n && s[p] == QLatin1Char(';'))
            ++p;
        const int eq = static_cast<int>(s.indexOf(QLatin1Char('='), p));
        if (p >= n || eq < 0)
            break;
        int end = static_cast<int>(s.indexOf(QLatin1Char(';'), eq + 1));
        if (end < 0)
            end = n;
        out.push_back({s.mid(p, eq - p), s.mid(eq + 1, end - eq - 1)});
        p = end;
    }
    return out;
}

Attributes parseByRule(StringRule rule, const QString& s)
{
    switch (rule) {
    case StringRule::FreeTds:
        return parseFreeTdsRule(s);
    case StringRule::Sqlite:
        return parseSqliteRule(s);
    case StringRule::Odbc:
        break;
    }
    return parseOdbcRule(s);
}

StringRule ruleOf(DriverKind kind)
{
    switch (kind) {
    case DriverKind::Sqlite:
        return StringRule::Sqlite;
    case DriverKind::FreeTds:
        return StringRule::FreeTds;
    case DriverKind::Microsoft:
    case DriverKind::Unidentified:
    case DriverKind::Missing:
        break;
    }
    return StringRule::Odbc;
}

bool isKey(const QString& key, const char* name)
{
    return key.trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

// Keys the driver manager acts on itself: another driver or data source, a file
// written with the whole string, attributes set on its own.
bool isManagerKey(const QString& key)
{
    return isKey(key, "DRIVER") || isKey(key, "DSN") || isKey(key, "FILEDSN") || isKey(key, "SAVEFILE") ||
           isKey(key, "DMEnvAttr") || isKey(key, "DMConnAttr") || isKey(key, "DMStmtAttr");
}

bool needsBraces(const QString& value)
{
    return value.isEmpty() || value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('}')) ||
           value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('=')) || value.front().isSpace() ||
           value.back().isSpace();
}

QString encodeValue(StringRule rule, const QString& value)
{
    if (rule == StringRule::Sqlite || !needsBraces(value))
        return value;
    if (rule == StringRule::FreeTds)
        return QLatin1Char('{') + value + QLatin1Char('}');
    QString v = value;
    v.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

// unixODBC 2.3 parses a wide connection string after keeping only the low
// byte of each UTF-16 unit (unicode_to_ansi_copy, before any conversion is set
// up), and the narrowed string ends at the first unit whose low byte is 0: so
// U+013B reads as ";", U+013D as "=", U+017D as "}". Windows' own driver
// manager reads the wide string, but under wine the host's unixODBC does.
QString asManagerReadsIt(const QString& s)
{
    QString narrowed;
    narrowed.reserve(s.size());
    for (const QChar c : s) {
        const char16_t low = c.unicode() & 0xFF;
        if (low == 0)
            break;
        narrowed += QChar(low);
    }
    return narrowed;
}

Attributes narrowed(const Attributes& attributes)
{
    Attributes out;
    for (const Attribute& a : attributes)
        out.push_back({asManagerReadsIt(a.key), asManagerReadsIt(a.value)});
    return out;
}

bool isPrintableAscii(const QString& s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

// The driver manager must split the string as it is meant, and find our driver
// and nothing else of its own: read as it reads it, narrowed. (Where it stops
// early, at a unit such as U+DE00, it sees less, never more: the driver still
// gets the whole wide string.) Its keys must be plain ASCII, since it matches
// them with the C library's strcasecmp and skips blanks with isspace, both of
// which follow the locale outside ASCII.
bool managerReadsOnlyOurDriver(const QString& s, const QString& driver)
{
    const QString read = asManagerReadsIt(s);
    const Attributes seen = parseOdbcRule(read);
    if (!(seen == narrowed(parseOdbcRule(s.left(read.size())))))
        return false;
    for (const Attribute& a : seen) {
        if (!isPrintableAscii(a.key))
            return false;
        if (!isManagerKey(a.key))
            continue;
        if (!isKey(a.key, "DRIVER") || a.value != driver)
            return false;
    }
    return true;
}

[[noreturn]] void refuse(const QString& what, const QString& problem, const QString& fix)
{
    throw AppError(err::kInvalidArgument,
                   QStringLiteral("%1 cannot be used: it %2. %3").arg(what, problem, fix));
}

// Values SQL Server itself could not take, whichever driver is named.
void checkTargetValues(const ConnectionTarget& target)
{
    const QString settings = QStringLiteral("Correct it in the login settings.");
    const QString serverWhat = QStringLiteral("The server name (ServerName in the login settings)");
    if (target.dataSource.contains(QChar(0)))
        refuse(serverWhat, QStringLiteral("holds a NUL character"), settings);
    if (target.dataSource.size() > kLongestServerName)
        refuse(serverWhat, QStringLiteral("is longer than %1 characters").arg(kLongestServerName), settings);
    if (hasControlCharacter(target.dataSource))
        refuse(serverWhat, QStringLiteral("holds a control character"), settings);

    const QString catalogWhat = QStringLiteral("The database name");
    const QString catalogFix =
        QStringLiteral("Correct the database name of the firm (DBName in FirmMaster) and start again.");
    if (target.catalog.contains(QChar(0)))
        refuse(catalogWhat, QStringLiteral("holds a NUL character"), catalogFix);
    if (target.catalog.size() > kLongestSqlServerName)
        refuse(catalogWhat,
               QStringLiteral("is longer than %1 characters, the most SQL Server allows")
                   .arg(kLongestSqlServerName),
               catalogFix);
    if (hasControlCharacter(target.catalog))
        refuse(catalogWhat, QStringLiteral("holds a control character, which SQL Server does not allow"),
               catalogFix);

    const QString userWhat = QStringLiteral("The database user name");
    if (target.userId.contains(QChar(0)) || hasControlCharacter(target.userId))
        refuse(userWhat, QStringLiteral("holds a control character"), QStringLiteral("Correct it."));
    if (target.userId.size() > kLongestSqlServerName)
        refuse(userWhat, QStringLiteral("is longer than %1 characters").arg(kLongestSqlServerName),
               QStringLiteral("Correct it."));

    const QString passwordWhat = QStringLiteral("The sa password (pwd in the login settings)");
    if (target.password.contains(QChar(0)))
        refuse(passwordWhat, QStringLiteral("holds a NUL character"), settings);
    if (target.password.size() > kLongestSqlServerName)
        refuse(passwordWhat,
               QStringLiteral("is longer than %1 characters, the most SQL Server allows")
                   .arg(kLongestSqlServerName),
               settings);

    const QString optionsWhat = QStringLiteral("The Options of the login settings");
    if (target.options.contains(QChar(0)) || hasControlCharacter(target.options))
        refuse(optionsWhat, QStringLiteral("hold a control character"), settings);
    if (target.options.size() > kLongestOptions)
        refuse(optionsWhat, QStringLiteral("are longer than %1 characters").arg(kLongestOptions), settings);
    if (target.driver.size() > kLongestOptions || target.driver.contains(QChar(0)) ||
        hasControlCharacter(target.driver))
        refuse(QStringLiteral("The ODBC driver name (Driver in the login settings)"),
               QStringLiteral("is too long or holds a control character"), settings);
}

bool isKnown(DriverKind kind)
{
    return kind != DriverKind::Unidentified && kind != DriverKind::Missing;
}

QString registerHint(const QString& driver)
{
    return QStringLiteral("The ODBC driver \"%1\" (Driver in the login settings) loads %2, which the "
                          "utility does not know as FreeTDS, a Microsoft SQL Server driver or the SQLite3 "
                          "driver, so it cannot tell how that driver reads a connection string or whether "
                          "it encrypts. Name a driver registered under its own library: on Linux "
                          "Driver=FreeTDS, registered in odbcinst.ini with Driver=libtdsodbc.so "
                          "(odbcinst -q -d lists them); on Windows the \"ODBC Driver 18 for SQL Server\".")
        .arg(driver, driverLibrary(driver));
}

// One attribute: the driver must read it back exactly, and the driver manager
// must see no key of its own in it. A driver not identified gets no value that
// needs quoting, since how it reads quotes is not known.
QString encodeChecked(const ConnectionTarget& target, const QString& key, const QString& value,
                      const QString& what, const QString& fix)
{
    const StringRule rule = ruleOf(target.kind);
    if (!isKnown(target.kind) && needsBraces(value))
        refuse(what, QStringLiteral("holds characters that need quoting in a connection string"),
               fix + QLatin1Char(' ') + registerHint(target.driver));
    const QString encoded = encodeValue(rule, value);
    const QString alone = QStringLiteral("DRIVER={%1};%2=%3;").arg(target.driver, key, encoded);
    const Attributes seen = parseByRule(rule, alone);
    const bool whole = seen.size() == 2 && seen[1] == Attribute{key, value};
    if (!whole || !managerReadsOnlyOurDriver(alone, target.driver)) {
        QString problem;
        if (rule == StringRule::FreeTds && value.contains(QLatin1String("};")))
            problem = QStringLiteral("holds \"};\", which the FreeTDS driver cannot carry");
        else if (rule == StringRule::Sqlite && value.contains(QLatin1Char(';')))
            problem = QStringLiteral("holds \";\", which the SQLite driver cannot carry");
        else if (asManagerReadsIt(value) != value && !managerReadsOnlyOurDriver(alone, target.driver))
            problem =
                QStringLiteral("holds a character that the ODBC driver manager, which keeps only the low "
                               "byte of each character, reads as \";\", \"=\", a brace or the end");
        else
            problem = QStringLiteral("holds braces that the ODBC driver manager and the %1 driver read "
                                     "differently")
                          .arg(target.driver);
        refuse(what, problem, fix);
    }
    return encoded;
}

// The key and values by which each kind of SQL Server driver sets encryption.
// The string always carries the driver's key and value exactly as the driver
// spells them: FreeTDS matches both with strcasecmp, which follows the locale
// (in a Turkish one "ENCRYPTION" is not "Encryption"), so no spelling of the
// operator's decides whether the login is encrypted.
struct EncryptionSetting {
    const char* key;
    QStringList values;
    const char* byDefault;
    const char* optOut;
};

EncryptionSetting encryptionSetting(DriverKind kind)
{
    if (kind == DriverKind::FreeTds)
        return {"Encryption",
                {QStringLiteral("off"), QStringLiteral("request"), QStringLiteral("require")},
                "require",
                "Encryption=request (encrypt when the server offers it) or Encryption=off"};
    return {"Encrypt",
            {QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("true"), QStringLiteral("false"),
             QStringLiteral("mandatory"), QStringLiteral("optional"), QStringLiteral("strict")},
            "yes",
            "Encrypt=no"};
}

// The encryption the Options choose, in the driver's own spelling, taken out of
// them; the default when they choose none. Any other key that looks like an
// encryption setting would be ignored or misread by the driver, and with it the
// requirement: it is refused.
Attribute takeEncryption(DriverKind kind, Attributes& options)
{
    const EncryptionSetting setting = encryptionSetting(kind);
    Attribute chosen{QLatin1String(setting.key), QLatin1String(setting.byDefault)};
    bool named = false;
    for (auto it = options.begin(); it != options.end();) {
        const QString key = it->key.trimmed();
        if (!key.startsWith(QLatin1String("encrypt"), Qt::CaseInsensitive)) {
            ++it;
            continue;
        }
        const bool driversKey = it->key.compare(QLatin1String(setting.key), Qt::CaseInsensitive) == 0;
        const auto value = std::find_if(setting.values.begin(), setting.values.end(), [&](const QString& v) {
            return v.compare(it->value, Qt::CaseInsensitive) == 0;
        });
        if (!driversKey || value == setting.values.end() || named)
            refuse(QStringLiteral("The Options of the login settings"),
                   !driversKey ? QStringLiteral("name %1, which this driver does not read, so the connection "
                                                "would not be encrypted as meant")
                                     .arg(key)
                   : named ? QStringLiteral("name %1 twice").arg(key)
                           : QStringLiteral("give %1 a value the driver does not accept").arg(key),
                   QStringLiteral("To opt out of encryption write %1.").arg(QLatin1String(setting.optOut)));
        chosen.value = *value;
        named = true;
        it = options.erase(it);
    }
    return chosen;
}

} // namespace

namespace
{

// The library registered for a driver name; empty when none is.
QString registeredLibrary(const QString& driver)
{
    // Looked up as the driver manager does before it loads a driver (unixODBC
    // reads Driver64 first on 64-bit systems).
    const QByteArray name = driver.toLocal8Bit();
    for (const char* entry : {"Driver64", "Driver"}) {
        char library[4096] = {};
        const int length = SQLGetPrivateProfileString(name.constData(), entry, "", library,
                                                      static_cast<int>(sizeof(library)), "ODBCINST.INI");
        if (length > 0 && library[0] != '\0')
            return QString::fromLocal8Bit(library);
    }
    return QString();
}

bool looksLikeLibrary(const QString& fileName)
{
    const QString name = fileName.toLower();
    return name.contains(QLatin1String(".so")) || name.endsWith(QLatin1String(".dll")) ||
           name.endsWith(QLatin1String(".dylib"));
}

} // namespace

QString driverLibrary(const QString& driver)
{
    // A name the driver manager does not find registered is loaded as a library path.
    const QString library = registeredLibrary(driver);
    return library.isEmpty() ? driver : library;
}

DriverKind driverKindOfLibrary(const QString& library)
{
    QString path = library;
    const QFileInfo info(library);
    if (info.isAbsolute() && info.exists())
        path = info.canonicalFilePath(); // a link named after another driver counts as its target
    // Either separator: a Windows driver's path reads the same on every system.
    const int separator =
        static_cast<int>(std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\'))));
    QString name = path.mid(separator + 1).toLower();
    if (!looksLikeLibrary(name))
        return DriverKind::Unidentified;
    if (name.startsWith(QLatin1String("lib")))
        name.remove(0, 3);
    const auto cut = std::find_if(name.begin(), name.end(),
                                  [](QChar c) { return c == QLatin1Char('.') || c == QLatin1Char('-'); });
    const QString stem = name.left(static_cast<int>(cut - name.begin()));
    if (stem == QLatin1String("tdsodbc"))
        return DriverKind::FreeTds;
    if (stem == QLatin1String("sqlite3odbc"))
        return DriverKind::Sqlite;
    if (stem == QLatin1String("msodbcsql") || stem == QLatin1String("msodbcsql17") ||
        stem == QLatin1String("msodbcsql18") || stem == QLatin1String("sqlsrv32") ||
        stem == QLatin1String("sqlncli10") || stem == QLatin1String("sqlncli11"))
        return DriverKind::Microsoft;
    return DriverKind::Unidentified;
}

DriverKind identifyDriver(const QString& driver)
{
    // The driver manager reads the name as bytes; a name outside printable
    // ASCII could be looked up differently by it and by us.
    if (driver.isEmpty())
        return DriverKind::Unidentified;
    for (const QChar c : driver) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return DriverKind::Unidentified;
    }
    const QString registered = registeredLibrary(driver);
    if (!registered.isEmpty())
        return driverKindOfLibrary(registered);
    // Not registered: the driver manager loads the name itself as a library.
    const QFileInfo file(driver);
    if (!(file.isAbsolute() && file.exists()) && !looksLikeLibrary(file.fileName()))
        return DriverKind::Missing;
    return driverKindOfLibrary(driver);
}

bool catalogAsAttribute(const ConnectionTarget& target)
{
    if (target.kind == DriverKind::Sqlite || target.catalog.isEmpty())
        return false;
    for (const QChar c : target.catalog) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString sqliteDatabasePath(const ConnectionTarget& target)
{
    return QDir(target.dataSource).filePath(target.catalog + QLatin1String(".db"));
}

QString buildConnectionString(const ConnectionTarget& target)
{
    checkTargetValues(target);
    const StringRule rule = ruleOf(target.kind);
    if (target.driver.contains(QLatin1Char('}')) || target.driver.contains(QLatin1Char(';')))
        refuse(QStringLiteral("The ODBC driver name (Driver in the login settings)"),
               QStringLiteral("holds \"}\" or \";\""), QStringLiteral("Correct it in the login settings."));
    const QString settingsFix = QStringLiteral("Correct it in the login settings.");
    const QString passwordFix = QStringLiteral("Choose an sa password without it, or another ODBC driver.");

    Attributes intended;
    QString s = QStringLiteral("DRIVER={%1};").arg(target.driver);
    auto add = [&](const QString& key, const QString& value, const QString& what, const QString& fix) {
        s += key + QLatin1Char('=') + encodeChecked(target, key, value, what, fix) + QLatin1Char(';');
        intended.push_back({key, value});
    };

    // What Options name, read the way the driver reads them. The protocol
    // version is the utility's own too: TDS 5.0 and older send the password
    // in clear, and another client character set sends other bytes.
    const QString options = target.options.trimmed();
    const Attributes optionAttributes = parseByRule(rule, options);
    for (const Attribute& a : optionAttributes) {
        if (isManagerKey(a.key) || isKey(a.key, "Server") || isKey(a.key, "Servername") ||
            isKey(a.key, "Address") || isKey(a.key, "Port") || isKey(a.key, "Database") ||
            isKey(a.key, "UID") || isKey(a.key, "PWD") || isKey(a.key, "DumpFile") ||
            isKey(a.key, "DumpFileAppend") || isKey(a.key, "TDS_Version") || isKey(a.key, "ClientCharset") ||
            isKey(a.key, "client_charset"))
            refuse(QStringLiteral("The Options of the login settings"),
                   QStringLiteral("name %1, which the utility sets itself or which would write the password "
                                  "to a file")
                       .arg(a.key.trimmed()),
                   QStringLiteral("Remove it from Options."));
    }

    QString rest = options;
    if (rule == StringRule::Sqlite) {
        add(QStringLiteral("Database"), sqliteDatabasePath(target), QStringLiteral("The database path"),
            QStringLiteral("Correct the folder (ServerName in the login settings) or the database name."));
        s += QStringLiteral("NoCreat=1;Timeout=%1;").arg(kSqliteBusyTimeoutMs);
        intended.push_back({QStringLiteral("NoCreat"), QStringLiteral("1")});
        intended.push_back({QStringLiteral("Timeout"), QString::number(kSqliteBusyTimeoutMs)});
        intended.insert(intended.end(), optionAttributes.begin(), optionAttributes.end());
    } else {
        QString server = target.dataSource;
        QString port;
        const int comma = static_cast<int>(server.lastIndexOf(QLatin1Char(',')));
        if (rule == StringRule::FreeTds && comma > 0) {
            // FreeTDS takes the port as its own attribute; a named instance
            // (host\INSTANCE) is passed without one so that it is looked up.
            port = server.mid(comma + 1).trimmed();
            server = server.left(comma).trimmed();
            bool ok = false;
            const int number = port.toInt(&ok);
            if (!ok || number < 1 || number > 65535)
                refuse(QStringLiteral("The port in the server name (ServerName in the login settings)"),
                       QStringLiteral("is not a number from 1 to 65535"), settingsFix);
            port = QString::number(number);
        }
        const QString serverWhat = QStringLiteral("The server name (ServerName in the login settings)");
        add(QStringLiteral("Server"), server, serverWhat, settingsFix);
        if (!port.isEmpty())
            add(QStringLiteral("Port"), port, serverWhat, settingsFix);
        if (!catalogAsAttribute(target))
            add(QStringLiteral("Database"), target.catalog, QStringLiteral("The database name"),
                QStringLiteral(
                    "Correct the database name of the firm (DBName in FirmMaster) and start again."));
        add(QStringLiteral("UID"), target.userId, QStringLiteral("The database user name"),
            QStringLiteral("Correct it."));
        add(QStringLiteral("PWD"), target.password,
            QStringLiteral("The sa password (pwd in the login settings)"), passwordFix);
        // What bears on security goes in the driver's own spelling, once.
        if (rule == StringRule::FreeTds) {
            s += QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;");
            intended.push_back({QStringLiteral("TDS_Version"), QStringLiteral("7.4")});
            intended.push_back({QStringLiteral("ClientCharset"), QStringLiteral("UTF-8")});
        }
        Attributes others = optionAttributes;
        const Attribute encryption = takeEncryption(target.kind, others);
        s += encryption.key + QLatin1Char('=') + encryption.value + QLatin1Char(';');
        intended.push_back(encryption);
        // The rest of the Options, written again as the driver reads them.
        rest.clear();
        for (const Attribute& a : others) {
            rest += a.key + QLatin1Char('=') + encodeValue(rule, a.value) + QLatin1Char(';');
            intended.push_back(a);
        }
    }
    if (!rest.isEmpty()) {
        s += rest;
        if (!rest.endsWith(QLatin1Char(';')))
            s += QLatin1Char(';');
    }

    // The whole string, read back by the driver and by the driver manager.
    const Attributes seen = parseByRule(rule, s);
    bool whole = seen.size() == intended.size() + 1;
    for (size_t i = 0; whole && i < intended.size(); ++i)
        whole = seen[i + 1] == intended[i];
    if (!whole || !managerReadsOnlyOurDriver(s, target.driver))
        refuse(QStringLiteral("The Options of the login settings"),
               QStringLiteral("change how the connection string is read"), QStringLiteral("Correct them."));
    // A driver not identified is given no password: whether it reads the string
    // as written, and encrypts, is not known.
    if (!isKnown(target.kind))
        throw AppError(err::kInvalidArgument, registerHint(target.driver));
    if (s.toUtf8().size() > kLongestConnectionString)
        refuse(QStringLiteral("The connection string"),
               QStringLiteral("is longer than %1 bytes").arg(kLongestConnectionString),
               QStringLiteral("Shorten the Options of the login settings."));
    return s;
}

} // namespace gst
