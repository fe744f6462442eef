#include "TestDatabase.h"

#include "SqliteFile.h"

#include "HostPath.h"
#include <QDir>
#include <QFile>
#include <array>
#include <stdexcept>

#include <sys/stat.h>

namespace
{

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

sqlitefile::Db openFile(const QString& filePath, bool create)
{
    return sqlitefile::open(filePath, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0));
}

class Statement
{
public:
    Statement(sqlite3* db, const QString& sql) : m_db(db)
    {
        const QByteArray text = sql.toUtf8();
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, &tail) != SQLITE_OK)
            fail(QStringLiteral("cannot prepare \"%1\": %2").arg(sql, QString::fromUtf8(sqlite3_errmsg(db))));
        if (!m_stmt)
            fail(QStringLiteral("no statement in \"%1\"").arg(sql));
        if (tail && !QByteArray(tail).trimmed().isEmpty())
            fail(QStringLiteral("more than one statement in \"%1\"").arg(sql));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(const DbRow& params)
    {
        if (int(params.size()) != sqlite3_bind_parameter_count(m_stmt))
            fail(QStringLiteral("%1 values for %2 placeholders")
                     .arg(params.size())
                     .arg(sqlite3_bind_parameter_count(m_stmt)));
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int index = int(i) + 1;
            const int rc = params[i] ? sqlite3_bind_text(m_stmt, index, params[i]->toUtf8().constData(), -1,
                                                         SQLITE_TRANSIENT)
                                     : sqlite3_bind_null(m_stmt, index);
            if (rc != SQLITE_OK)
                fail(QStringLiteral("cannot bind value %1: %2")
                         .arg(index)
                         .arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
        }
    }

    // False when the statement is done.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail(QStringLiteral("\"%1\" failed: %2")
                 .arg(QString::fromUtf8(sqlite3_sql(m_stmt)), QString::fromUtf8(sqlite3_errmsg(m_db))));
    }

    DbRow row() const
    {
        DbRow values;
        const int count = sqlite3_column_count(m_stmt);
        for (int c = 0; c < count; ++c) {
            if (sqlite3_column_type(m_stmt, c) == SQLITE_NULL) {
                values.emplace_back(std::nullopt);
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, c));
            values.emplace_back(QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, c)));
        }
        return values;
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace

// Code page 1252's codes 0x80 to 0x9F; the five undefined ones stand for
// U+0081, U+008D, U+008F, U+0090 and U+009D, as SQL Server keeps them.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QChar cp1252Char(int code)
{
    return code >= 0x80 && code <= 0x9F ? QChar(kCp1252High[std::size_t(code - 0x80)])
                                        : QChar(char16_t(code));
}

int cp1252Code(QChar ch)
{
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == u)
            return int(0x80 + i);
    }
    return -1;
}

TestDatabase::TestDatabase()
{
    if (isInherited())
        return;
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        fail(QStringLiteral("cannot create a temporary folder: %1").arg(m_dir->errorString()));
    m_share.offer(m_dir->path());
}

TestDatabase::~TestDatabase()
{
    if (!m_configEnvSaved)
        return;
    if (m_configEnvWasSet)
        qputenv("XDG_CONFIG_HOME", m_configEnvOld);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TestDatabase::folder() const
{
    return hostPath(isInherited() ? *m_share.inherited() : m_dir->path());
}

QString TestDatabase::path(const QString& name) const
{
    return QDir(folder()).filePath(name + QStringLiteral(".db"));
}

void TestDatabase::createDatabase(const QString& name, const QString& extraSql)
{
    if (skipsSetUp())
        return;
    const QString file = path(name);
    QFile::remove(file);
    const sqlitefile::Db db = openFile(file, true);
    sqlitefile::exec(db.get(), schemaSql(), QStringLiteral("db/schema.sql on %1").arg(name));
    if (!extraSql.isEmpty())
        sqlitefile::exec(db.get(), extraSql, QStringLiteral("data for %1").arg(name));
}

void TestDatabase::exec(const QString& name, const QString& sql)
{
    if (!skipsSetUp())
        execFile(path(name), sql);
}

void TestDatabase::exec(const QString& name, const QString& sql, const DbRow& params)
{
    if (!skipsSetUp())
        execFile(path(name), sql, params);
}

DbRows TestDatabase::queryRows(const QString& name, const QString& sql)
{
    return queryFile(path(name), sql);
}

DbValue TestDatabase::scalar(const QString& name, const QString& sql)
{
    const DbRows rows = queryRows(name, sql);
    if (rows.empty() || rows.front().empty())
        return std::nullopt;
    return rows.front().front();
}

QStringList TestDatabase::columnNames(const QString& name, const QString& table)
{
    QStringList names;
    for (const DbRow& row :
         queryRows(name, QStringLiteral("select name from pragma_table_info(%1)").arg(sqlQuote(table))))
        names << row.at(0).value_or(QString());
    return names;
}

void TestDatabase::execFile(const QString& filePath, const QString& sql, const DbRow& params)
{
    if (!QFile::exists(filePath))
        fail(QStringLiteral("no database file %1").arg(filePath));
    const sqlitefile::Db db = openFile(filePath, false);
    if (params.empty()) {
        sqlitefile::exec(db.get(), sql, QStringLiteral("\"%1\"").arg(sql));
        return;
    }
    Statement statement(db.get(), sql);
    statement.bind(params);
    while (statement.step()) {
    }
}

DbRows TestDatabase::queryFile(const QString& filePath, const QString& sql)
{
    if (!QFile::exists(filePath))
        fail(QStringLiteral("no database file %1").arg(filePath));
    const sqlitefile::Db db = openFile(filePath, false);
    Statement statement(db.get(), sql);
    DbRows rows;
    while (statement.step())
        rows.push_back(statement.row());
    return rows;
}

QString TestDatabase::writeLoginSettings(const QString& serverName, const QString& pwd, const QString& driver,
                                         const QString& options, int permissions)
{
    QString text = QStringLiteral("ServerName=%1\npwd=%2\n").arg(serverName, pwd);
    if (!driver.isEmpty())
        text += QStringLiteral("Driver=%1\n").arg(driver);
    if (!options.isEmpty())
        text += QStringLiteral("Options=%1\n").arg(options);
    return writeLoginSettingsText(text.toUtf8(), permissions);
}

QString TestDatabase::writeLoginSettingsText(const QByteArray& content, int permissions)
{
    const QString configDir = QDir(folder()).filePath(QStringLiteral("config"));
    const QString settingsDir = QDir(configDir).filePath(QStringLiteral("talvex"));
    if (!QDir().mkpath(settingsDir))
        fail(QStringLiteral("cannot create %1").arg(settingsDir));
    const QString file = QDir(settingsDir).filePath(QStringLiteral("login.ini"));
    if (skipsSetUp()) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir));
        return file;
    }
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(content) != content.size())
        fail(QStringLiteral("cannot write %1: %2").arg(file, out.errorString()));
    out.close();
    if (::chmod(QFile::encodeName(file).constData(), mode_t(permissions)) != 0)
        fail(QStringLiteral("cannot set the permissions of %1").arg(file));

    if (!m_configEnvSaved) {
        m_configEnvSaved = true;
        m_configEnvWasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        m_configEnvOld = qgetenv("XDG_CONFIG_HOME");
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir));
    return file;
}

QString TestDatabase::schemaSql()
{
    const QString file = QStringLiteral(GST_SOURCE_DIR "/db/schema.sql");
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1: %2").arg(file, in.errorString()));
    return QString::fromUtf8(in.readAll());
}

QString TestDatabase::standardRetailData()
{
    const QString slabQuery =
        QStringLiteral("select (case @additional when 1 then (case when @rate>500 then 5005 else 5003 end) "
                       "when 0 then (case when @rate>590 then 5005 else 5003 end) end)");
    return QStringLiteral(R"sql(
insert into options (billdate) values ('2019-04-01 00:00:00');
insert into Options2 (Name, Value) values ('MultiDB', 0);
insert into usermaster (UserId, loginname, Password, Name, Enabled, Defaultmenu, ProcessId)
    values (1, 'admin', %1, 'Administrator', 1, 1, 1);
insert into vatmaster (VATID, VATName, VATPer, SortIndex, MarginVat, Sendable, RegionalName, EnabledForCST,
                       RDExempt, CessBasedOn, CessPer, CessAmtPerUnit, SGSTPer, CGSTPer, IGSTPer, UTGSTPer,
                       SlabApplicable, SlabQuery, Disabled, RateQuery, caption) values
    (5003, 'GST 5%', 5, 3, 0, 1, 'GST 5%', 0, 0, 0, 0, 0, 2.5, 2.5, 5, 2.5, 0, '', 0, '', 'GST 5%'),
    (5005, 'GST 18%', 18, 5, 0, 1, 'GST 18%', 0, 0, 0, 0, 0, 9, 9, 18, 9, 0, '', 0, '', 'GST 18%'),
    (5010, 'GST 5% (18% above Rs 500)', 5, 10, 0, 1, 'GST 5% (18% above Rs 500)', 0, 0, 0, 0, 0,
     2.5, 2.5, 5, 2.5, 1, %2, 0, '', 'GST 5% (18% above Rs 500)');
insert into lobmaster (lobid, name, productwisevat) values (1, 'Grocery', 1), (2, 'Apparel', 0);
insert into attributemaster (attributeid, name) values (1, 'Fabric'), (2, 'Colour');
insert into lobattribute (lobid, attributeid, vatable) values (2, 1, 1), (2, 2, 0);
insert into Products (ProductId, Name, LobId, vatid, VatPer) values
    (1, 'Rice 5kg', 1, 5003, 5),
    (2, 'Biscuits', 1, 5005, 18),
    (3, 'Gift Hamper', 1, 5010, 5),
    (4, 'Sweets Box', 1, 5010, 5),
    (5, 'Cotton Shirt', 2, 5010, 5),
    (6, 'Silk Saree', 2, 5005, 18);
create table FabricMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
insert into FabricMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'Cotton', 2, 5010, 5, 5010),
    (2, 'Silk', 2, 5005, 18, 5005),
    (3, 'Denim', 2, 5010, 5, 5010),
    (4, 'Khadi', 2, 5003, 5, 5003);
create table ColourMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
insert into ColourMaster (Id, Name, lobid, vatid, VatPer, GSTID) values
    (1, 'White', 2, 0, 0, 0),
    (2, 'Black', 2, 5010, 5, 5010);
)sql")
        .arg(sqlQuote(storedPasswordForm(QStringLiteral("admin123"))), sqlQuote(slabQuery));
}

QString TestDatabase::storedPasswordForm(const QString& clear)
{
    QString stored;
    stored.reserve(clear.size());
    for (const QChar ch : clear) {
        const int code = cp1252Code(ch);
        if (code < 0)
            throw std::invalid_argument(QStringLiteral("U+%1 has no Windows-1252 code")
                                            .arg(int(ch.unicode()), 4, 16, QLatin1Char('0'))
                                            .toStdString());
        stored.append(cp1252Char(255 - code));
    }
    return stored;
}

QString TestDatabase::sqlQuote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}
