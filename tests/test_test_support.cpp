// The test fixture's own behaviour: other tests trust its password oracle,
// its schema and its standard data set.

#include "platform/QtRuntime.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>

namespace
{

QString fromCodePoints(std::initializer_list<char16_t> points)
{
    QString s;
    for (char16_t p : points)
        s.append(QChar(p));
    return s;
}

TEST(StoredPasswordForm, MapsKnownPasswords)
{
    const struct {
        QString clear;
        QString stored;
    } cases[] = {
        {QString(), QString()},
        // Windows-1252 0x9E, 0x9B, 0x92, 0x96, 0x91, then Latin-1 0xCE, 0xCD, 0xCC.
        {QStringLiteral("admin123"),
         fromCodePoints({0x017E, 0x203A, 0x2019, 0x2013, 0x2018, 0x00CE, 0x00CD, 0x00CC})},
        // 'b' and 'o' land on the undefined codes 0x9D and 0x90.
        {QStringLiteral("blocked1"),
         fromCodePoints({0x009D, 0x201C, 0x0090, 0x0153, 0x201D, 0x0161, 0x203A, 0x00CE})},
        {QStringLiteral("Shop@2018"),
         fromCodePoints({0x00AC, 0x2014, 0x0090, 0x008F, 0x00BF, 0x00CD, 0x00CF, 0x00CE, 0x00C7})},
        // The remaining undefined codes: '~' -> 0x81, 'r' -> 0x8D.
        {QStringLiteral("~r"), fromCodePoints({0x0081, 0x008D})},
        // Characters above 0x7F in clear text map back into ASCII.
        {fromCodePoints({0x20AC, 0x00E9, 0x00FF}), fromCodePoints({0x007F, 0x0016, 0x0000})},
        {QStringLiteral(" A"), fromCodePoints({0x00DF, 0x00BE})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TestDatabase::storedPasswordForm(c.clear), c.stored) << c.clear.toStdString();
        EXPECT_EQ(TestDatabase::clearPasswordForm(c.stored), c.clear) << c.clear.toStdString();
    }
}

TEST(StoredPasswordForm, IsItsOwnInverseAndOneToOneOverEveryCode)
{
    QString ascii;
    for (int code = 0x00; code < 0x80; ++code)
        ascii.append(QChar(code));
    const QString high = TestDatabase::storedPasswordForm(ascii); // codes 0xFF down to 0x80
    ASSERT_EQ(high.size(), 128);
    EXPECT_EQ(TestDatabase::storedPasswordForm(high), ascii);

    // The 256 codes give 256 different characters, so no two passwords share a stored form.
    QSet<QChar> seen;
    for (QChar ch : ascii + high)
        seen.insert(ch);
    EXPECT_EQ(seen.size(), 256);
    // Codes 0x80..0x9F (from clear 0x7F..0x60) leave Latin-1 except for the five undefined ones.
    const QSet<int> undefined = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
    for (int code = 0x80; code <= 0x9F; ++code) {
        const QChar ch = high.at(0x7F - (code - 0x80));
        EXPECT_EQ(ch.unicode() == code, undefined.contains(code)) << std::hex << code;
    }
}

TEST(StoredPasswordForm, RefusesCharactersOutsideWindows1252)
{
    for (char16_t point : {char16_t(0x0100), char16_t(0x20B9), char16_t(0x0080), char16_t(0x009F)}) {
        EXPECT_THROW(TestDatabase::storedPasswordForm(QStringLiteral("ab") + QChar(point)),
                     std::invalid_argument)
            << int(point);
    }
}

TEST(TestDatabaseFixture, CreatesTheWholeSchemaWithTheRightColumns)
{
    TestDatabase db;
    db.createDatabase(QStringLiteral("talvex"));
    EXPECT_TRUE(QFile::exists(QDir(db.folder()).filePath(QStringLiteral("talvex.db"))));
    EXPECT_EQ(db.path(QStringLiteral("talvex")), QDir(db.folder()).filePath(QStringLiteral("talvex.db")));

    const struct {
        const char* table;
        QStringList columns;
    } tables[] = {
        {"options", {"billdate"}},
        {"Options2", {"Name", "Value"}},
        {"FirmMaster", {"FirmId", "Name", "Enabled", "DBName"}},
        {"usermaster", {"UserId", "loginname", "Password", "Name", "Enabled", "Defaultmenu", "ProcessId"}},
        {"lobmaster", {"lobid", "name", "productwisevat"}},
        {"lobattribute", {"lobid", "attributeid", "vatable"}},
        {"attributemaster", {"attributeid", "name"}},
        {"Products", {"ProductId", "Name", "LobId", "vatid", "VatPer"}},
        {"vatmaster",
         {"VATID",        "VATName",       "VATPer",   "SortIndex",   "MarginVat",      "Sendable",
          "RegionalName", "EnabledForCST", "RDExempt", "CessBasedOn", "CessPer",        "CessAmtPerUnit",
          "SGSTPer",      "CGSTPer",       "IGSTPer",  "UTGSTPer",    "SlabApplicable", "SlabQuery",
          "Disabled",     "RateQuery",     "caption"}},
    };
    for (const auto& t : tables)
        EXPECT_EQ(db.columnNames(QStringLiteral("talvex"), QLatin1String(t.table)), t.columns) << t.table;

    // Declared types decide how the ODBC driver reports each column.
    const struct {
        const char* table;
        const char* column;
        const char* type;
    } types[] = {
        {"options", "billdate", "datetime"},     {"Options2", "Value", "bit"},
        {"usermaster", "Enabled", "bit"},        {"usermaster", "UserId", "smallint"},
        {"lobmaster", "productwisevat", "bit"},  {"lobmaster", "lobid", "smallint"},
        {"Products", "VatPer", "decimal(18,2)"}, {"vatmaster", "VATPer", "decimal(18,4)"},
        {"vatmaster", "VATID", "smallint"},      {"vatmaster", "SlabQuery", "varchar(1000)"},
    };
    for (const auto& t : types) {
        EXPECT_EQ(
            db.scalar(QStringLiteral("talvex"), QStringLiteral("select type from pragma_table_info('%1') "
                                                               "where name='%2'")
                                                    .arg(QLatin1String(t.table), QLatin1String(t.column))),
            QLatin1String(t.type))
            << t.table << "." << t.column;
    }
}

TEST(TestDatabaseFixture, ReplacesADatabaseWhenCreatedAgain)
{
    TestDatabase db;
    db.createDatabase(QStringLiteral("firm"),
                      QStringLiteral("insert into options values ('2019-01-01 00:00:00');"));
    db.createDatabase(QStringLiteral("firm"));
    EXPECT_EQ(db.scalar(QStringLiteral("firm"), QStringLiteral("select count(*) from options")),
              QStringLiteral("0"));
}

TEST(TestDatabaseFixture, QueryRowsTellsNullFromEmptyText)
{
    TestDatabase db;
    db.createDatabase(QStringLiteral("t"));
    db.exec(QStringLiteral("t"),
            QStringLiteral("insert into Options2 values ('a', null); insert into Options2 values ('', 1);"));
    const DbRows rows = db.queryRows(QStringLiteral("t"),
                                     QStringLiteral("select Name, Value from Options2 order by Name desc"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (DbRow{QStringLiteral("a"), std::nullopt}));
    EXPECT_EQ(rows[1], (DbRow{QString(""), QStringLiteral("1")}));
    EXPECT_EQ(db.scalar(QStringLiteral("t"), QStringLiteral("select Value from Options2 where Name='a'")),
              std::nullopt);
    EXPECT_EQ(db.scalar(QStringLiteral("t"), QStringLiteral("select Value from Options2 where Name='zz'")),
              std::nullopt);
}

TEST(TestDatabaseFixture, BindsParametersAndKeepsTextExact)
{
    TestDatabase db;
    db.createDatabase(QStringLiteral("t"));
    const QString stored = TestDatabase::storedPasswordForm(QStringLiteral("it's"));
    db.exec(QStringLiteral("t"),
            QStringLiteral("insert into usermaster (UserId, loginname, Password) values (?, ?, ?)"),
            {QStringLiteral("7"), QStringLiteral("o'brien"), stored});
    db.exec(QStringLiteral("t"),
            QStringLiteral("insert into usermaster (UserId, loginname, Password) values (8, 'x', %1)")
                .arg(TestDatabase::sqlQuote(stored)));
    const DbRows rows = db.queryRows(
        QStringLiteral("t"), QStringLiteral("select loginname, Password from usermaster order by UserId"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (DbRow{QStringLiteral("o'brien"), stored}));
    EXPECT_EQ(rows[1][1], stored);
}

TEST(TestDatabaseFixture, ReportsSqlErrors)
{
    TestDatabase db;
    EXPECT_THROW(db.exec(QStringLiteral("missing"), QStringLiteral("select 1")), std::runtime_error);
    EXPECT_THROW(
        db.createDatabase(QStringLiteral("t"), QStringLiteral("insert into NoSuchTable values (1);")),
        std::runtime_error);
    db.createDatabase(QStringLiteral("u"));
    EXPECT_THROW(db.queryRows(QStringLiteral("u"), QStringLiteral("select nothing from options")),
                 std::runtime_error);
    EXPECT_THROW(db.queryRows(QStringLiteral("u"), QStringLiteral("select 1; select 2")), std::runtime_error);
}

TEST(TestDatabaseFixture, StandardRetailDataHoldsTheDocumentedRows)
{
    TestDatabase db;
    db.createDatabase(QStringLiteral("talvex"), TestDatabase::standardRetailData());
    const QString n = QStringLiteral("talvex");
    const struct {
        const char* sql;
        QStringList expected;
    } checks[] = {
        {"select billdate from options", {"2019-04-01 00:00:00"}},
        {"select Name || '=' || Value from Options2", {"MultiDB=0"}},
        {"select count(*) from FirmMaster", {"0"}},
        {"select loginname || ',' || UserId || ',' || Name || ',' || Enabled || ',' || Defaultmenu || ',' || "
         "ProcessId "
         "from usermaster",
         {"admin,1,Administrator,1,1,1"}},
        {"select VATID || ',' || SlabApplicable from vatmaster order by VATID",
         {"5003,0", "5005,0", "5010,1"}},
        {"select lobid || ',' || name || ',' || productwisevat from lobmaster order by lobid",
         {"1,Grocery,1", "2,Apparel,0"}},
        {"select name from lobattribute la, attributemaster am where la.attributeid=am.attributeid "
         "and la.vatable=1 and lobid=2",
         {"Fabric"}},
        {"select ProductId from Products where vatid=5010 order by ProductId", {"3", "4", "5"}},
        {"select count(*) from Products", {"6"}},
        {"select Name from FabricMaster where vatid=5010 and GSTID=5010 order by Id", {"Cotton", "Denim"}},
        {"select count(*) from FabricMaster", {"4"}},
        {"select Name from ColourMaster where vatid=5010", {"Black"}},
    };
    for (const auto& c : checks) {
        QStringList got;
        for (const DbRow& row : db.queryRows(n, QLatin1String(c.sql)))
            got << row.at(0).value_or(QStringLiteral("<NULL>"));
        EXPECT_EQ(got, c.expected) << c.sql;
    }
    EXPECT_EQ(TestDatabase::clearPasswordForm(
                  *db.scalar(n, QStringLiteral("select Password from usermaster where loginname='admin'"))),
              QStringLiteral("admin123"));
    // No vatmaster value is NULL.
    for (const QString& col : db.columnNames(n, QStringLiteral("vatmaster")))
        EXPECT_EQ(db.scalar(n, QStringLiteral("select count(*) from vatmaster where %1 is null").arg(col)),
                  QStringLiteral("0"))
            << col.toStdString();
}

TEST(TestDatabaseFixture, WritesLoginSettingsAndPointsTheConfigFolderAtThem)
{
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    {
        TestDatabase db;
        const QString file = db.writeLoginSettings(db.folder(), QStringLiteral("secret"),
                                                   QStringLiteral("SQLite3"), QStringLiteral("Timeout=5"));
        EXPECT_EQ(file, QDir(db.folder()).filePath(QStringLiteral("config/talvex/login.ini")));
        EXPECT_EQ(qgetenv("XDG_CONFIG_HOME"),
                  QFile::encodeName(QDir(db.folder()).filePath(QStringLiteral("config"))));
        QFile in(file);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(in.readAll()),
                  QStringLiteral("ServerName=%1\npwd=secret\nDriver=SQLite3\n"
                                 "Options=Timeout=5\n")
                      .arg(db.folder()));
        struct stat st {
        };
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        for (const int permissions : {0644, 0640, 0400}) {
            db.writeLoginSettingsText("ServerName=x\n", permissions);
            ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
            EXPECT_EQ(int(st.st_mode & 0777), permissions);
            // A read-only file must still be replaceable by the next call.
            ::chmod(QFile::encodeName(file).constData(), 0600);
        }
        db.writeLoginSettings(QStringLiteral("srv"), QStringLiteral("p"), QString());
        QFile again(file);
        ASSERT_TRUE(again.open(QIODevice::ReadOnly));
        EXPECT_EQ(again.readAll(), QByteArray("ServerName=srv\npwd=p\n"));
    }
    EXPECT_EQ(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"), wasSet);
    EXPECT_EQ(qgetenv("XDG_CONFIG_HOME"), before);
}

} // namespace

int main(int argc, char** argv)
{
    gst::configureQtRuntime();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
