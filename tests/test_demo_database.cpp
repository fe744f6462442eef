// The demo databases built by db/make_demo.cmake, checked file by file with
// the sqlite3 library.

#include "platform/QtRuntime.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace
{

const QString kSourceDir = QStringLiteral(GST_SOURCE_DIR);
const QStringList kDatabases = {QStringLiteral("talvex"), QStringLiteral("firm_sunrise"),
                                QStringLiteral("firm_harbour")};

struct ScriptRun {
    int exitCode = -1;
    QString output;
};

// Runs the demo script the way the build's "demo" target does.
ScriptRun runDemoScript(const QString& sourceDir, const QString& demoDir, const QStringList& extra = {})
{
    ScriptRun run;
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    if (cmake.isEmpty()) {
        run.output = QStringLiteral("cmake is not on PATH");
        return run;
    }
    QStringList args{QStringLiteral("-DSOURCE_DIR=") + sourceDir, QStringLiteral("-DDEMO_DIR=") + demoDir};
    args << extra << QStringLiteral("-P") << kSourceDir + QStringLiteral("/db/make_demo.cmake");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(cmake, args);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.output = QStringLiteral("cmake did not finish: ") + process.errorString();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

QStringList column(const DbRows& rows)
{
    QStringList values;
    for (const DbRow& row : rows)
        values << row.at(0).value_or(QStringLiteral("<NULL>"));
    return values;
}

class DemoDatabase : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(s_dir->isValid());
        s_demoDir = QDir(s_dir->path()).filePath(QStringLiteral("demo"));
        s_run = runDemoScript(kSourceDir, s_demoDir);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override { ASSERT_EQ(s_run.exitCode, 0) << s_run.output.toStdString(); }

    static QString dbPath(const QString& name)
    {
        return QDir(s_demoDir).filePath(name + QStringLiteral(".db"));
    }
    static DbRows query(const QString& name, const QString& sql)
    {
        return TestDatabase::queryFile(dbPath(name), sql);
    }
    static QStringList columnNames(const QString& name, const QString& table)
    {
        return column(query(name, QStringLiteral("select name from pragma_table_info('%1')").arg(table)));
    }

    static std::unique_ptr<QTemporaryDir> s_dir;
    static QString s_demoDir;
    static ScriptRun s_run;
};

std::unique_ptr<QTemporaryDir> DemoDatabase::s_dir;
QString DemoDatabase::s_demoDir;
ScriptRun DemoDatabase::s_run;

TEST_F(DemoDatabase, CreatesEveryDatabaseFile)
{
    for (const QString& name : kDatabases)
        EXPECT_TRUE(QFile::exists(dbPath(name))) << name.toStdString();
}

TEST_F(DemoDatabase, TalvexAsksForFirmSelection)
{
    EXPECT_EQ(column(query(QStringLiteral("talvex"),
                           QStringLiteral("select Value from Options2 where Name='MultiDB'"))),
              QStringList{QStringLiteral("1")});
}

TEST_F(DemoDatabase, TalvexOffersExactlyTheTwoEnabledFirmsAndTheirFilesExist)
{
    const QStringList firms = column(
        query(QStringLiteral("talvex"), QStringLiteral("select DBName from FirmMaster where Enabled=1 and "
                                                       "DBName is not null and DBName<>'' order by FirmId")));
    EXPECT_EQ(firms, (QStringList{QStringLiteral("firm_sunrise"), QStringLiteral("firm_harbour")}));
    for (const QString& firm : firms)
        EXPECT_TRUE(QFile::exists(dbPath(firm))) << firm.toStdString();
    // The switched-off firm has no file: choosing it would be a fault.
    EXPECT_EQ(column(query(QStringLiteral("talvex"),
                           QStringLiteral("select count(*) from FirmMaster where Enabled=0"))),
              QStringList{QStringLiteral("1")});
}

TEST_F(DemoDatabase, BillDatePassesTheRunDateGate)
{
    const QDateTime cutoff(QDate(2018, 7, 27), QTime(0, 0));
    for (const QString& name : kDatabases) {
        SCOPED_TRACE(name.toStdString());
        const QStringList dates = column(query(name, QStringLiteral("select billdate from options")));
        ASSERT_EQ(dates.size(), 1);
        const QDateTime billDate =
            QDateTime::fromString(dates.front(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        ASSERT_TRUE(billDate.isValid()) << dates.front().toStdString();
        EXPECT_GE(billDate, cutoff);
    }
}

TEST_F(DemoDatabase, SlabTableHoldsTheOldSlabButNotTheNewOne)
{
    for (const QString& name : kDatabases) {
        SCOPED_TRACE(name.toStdString());
        const QStringList ids =
            column(query(name, QStringLiteral("select VATID from vatmaster order by VATID")));
        for (const char* id : {"5003", "5005", "5010"})
            EXPECT_TRUE(ids.contains(QLatin1String(id))) << id;
        EXPECT_FALSE(ids.contains(QStringLiteral("5019")));

        const DbRows slab =
            query(name, QStringLiteral("select VATName, SlabApplicable, SlabQuery, VATPer, caption "
                                       "from vatmaster where VATID=5010"));
        ASSERT_EQ(slab.size(), 1u);
        EXPECT_EQ(slab[0][0], QStringLiteral("GST 5% (18% above Rs 500)"));
        EXPECT_EQ(slab[0][1], QStringLiteral("1"));
        ASSERT_TRUE(slab[0][2].has_value());
        EXPECT_TRUE(slab[0][2]->contains(QStringLiteral("@rate>500"))) << slab[0][2]->toStdString();
        EXPECT_EQ(slab[0][3], QStringLiteral("5"));
        EXPECT_EQ(slab[0][4], QStringLiteral("GST 5% (18% above Rs 500)"));

        // No column of any slab is left NULL: a copied row must have every value.
        for (const QString& col : columnNames(name, QStringLiteral("vatmaster"))) {
            EXPECT_EQ(column(query(
                          name, QStringLiteral("select count(*) from vatmaster where %1 is null").arg(col))),
                      QStringList{QStringLiteral("0")})
                << col.toStdString();
        }
    }
}

TEST_F(DemoDatabase, SlabTableHasItsColumnsInOrder)
{
    const QStringList expected = {"VATID",    "VATName",        "VATPer",        "SortIndex", "MarginVat",
                                  "Sendable", "RegionalName",   "EnabledForCST", "RDExempt",  "CessBasedOn",
                                  "CessPer",  "CessAmtPerUnit", "SGSTPer",       "CGSTPer",   "IGSTPer",
                                  "UTGSTPer", "SlabApplicable", "SlabQuery",     "Disabled",  "RateQuery",
                                  "caption"};
    for (const QString& name : kDatabases)
        EXPECT_EQ(columnNames(name, QStringLiteral("vatmaster")), expected) << name.toStdString();
}

TEST_F(DemoDatabase, UsersHaveTheirDocumentedPasswordsAndStates)
{
    struct User {
        const char* login;
        const char* password;
        const char* userId;
        const char* enabled;
    };
    const User users[] = {
        {"admin", "admin123", "1", "1"},
        {"cashier", "blocked1", "2", "0"},
        {"manager", "Shop@2018", "3", "1"},
    };
    for (const QString& name : kDatabases) {
        for (const User& user : users) {
            SCOPED_TRACE(name.toStdString() + " / " + user.login);
            const DbRows rows = query(name, QStringLiteral("select Password, UserId, Enabled from usermaster "
                                                           "where loginname='%1'")
                                                .arg(QLatin1String(user.login)));
            ASSERT_EQ(rows.size(), 1u);
            ASSERT_TRUE(rows[0][0].has_value());
            // Never kept in clear.
            EXPECT_NE(*rows[0][0], QLatin1String(user.password));
            EXPECT_EQ(TestDatabase::clearPasswordForm(*rows[0][0]), QLatin1String(user.password));
            EXPECT_EQ(rows[0][1], QLatin1String(user.userId));
            EXPECT_EQ(rows[0][2], QLatin1String(user.enabled));
        }
    }
}

TEST_F(DemoDatabase, AdminRowIsComplete)
{
    for (const QString& name : kDatabases) {
        const DbRows rows = query(
            name,
            QStringLiteral("select Name, Defaultmenu, ProcessId from usermaster where loginname='admin'"));
        ASSERT_EQ(rows.size(), 1u) << name.toStdString();
        EXPECT_EQ(rows[0], (DbRow{QStringLiteral("Administrator"), QStringLiteral("1"), QStringLiteral("1")}))
            << name.toStdString();
    }
}

TEST_F(DemoDatabase, UnqualifiedTaxableAttributeJoinFindsTheAttribute)
{
    for (const QString& name : kDatabases) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(columnNames(name, QStringLiteral("lobattribute"))
                         .contains(QStringLiteral("name"), Qt::CaseInsensitive));
        EXPECT_FALSE(columnNames(name, QStringLiteral("attributemaster"))
                         .contains(QStringLiteral("lobid"), Qt::CaseInsensitive));
        const struct {
            int lob;
            const char* attribute;
        } cases[] = {{2, "Fabric"}, {3, "Size"}};
        for (const auto& c : cases) {
            EXPECT_EQ(
                column(query(name, QStringLiteral("select name from lobattribute la, attributemaster am "
                                                  "where la.attributeid=am.attributeid and la.vatable=1 "
                                                  "and lobid=%1")
                                       .arg(c.lob))),
                QStringList{QLatin1String(c.attribute)})
                << "lob " << c.lob;
        }
    }
}

TEST_F(DemoDatabase, EveryLineOfBusinessHasProductsOnTheOldSlabAndOthers)
{
    for (const QString& name : kDatabases) {
        SCOPED_TRACE(name.toStdString());
        const int total =
            column(query(name, QStringLiteral("select count(*) from Products"))).front().toInt();
        EXPECT_GE(total, 20);
        EXPECT_LE(total, 40);

        const QStringList lobs =
            column(query(name, QStringLiteral("select lobid from lobmaster order by lobid")));
        ASSERT_GE(lobs.size(), 3);
        for (const QString& lob : lobs) {
            SCOPED_TRACE("lob " + lob.toStdString());
            for (const char* slab : {"5010", "5003", "5005"}) {
                EXPECT_NE(column(query(name, QStringLiteral(
                                                 "select count(*) from Products where LobId=%1 and vatid=%2")
                                                 .arg(lob, QLatin1String(slab))))
                              .front(),
                          QStringLiteral("0"))
                    << "slab " << slab;
            }
        }
        // Both kinds of line of business are present.
        for (const char* kind : {"0", "1"}) {
            EXPECT_NE(
                column(query(name, QStringLiteral("select count(*) from lobmaster where productwisevat=%1")
                                       .arg(QLatin1String(kind))))
                    .front(),
                QStringLiteral("0"))
                << "productwisevat " << kind;
        }
    }
}

TEST_F(DemoDatabase, TaxableAttributeValuesSitOnTheOldSlabAndOthers)
{
    for (const QString& name : kDatabases) {
        SCOPED_TRACE(name.toStdString());
        const DbRows taxable =
            query(name, QStringLiteral("select la.lobid, am.name from lobattribute la "
                                       "join attributemaster am on la.attributeid=am.attributeid "
                                       "join lobmaster lm on lm.lobid=la.lobid "
                                       "where la.vatable=1 and lm.productwisevat=0"));
        ASSERT_EQ(taxable.size(), 2u);
        for (const DbRow& row : taxable) {
            const QString table = *row[1] + QStringLiteral("Master");
            SCOPED_TRACE(table.toStdString());
            const QString countSql =
                QStringLiteral("select count(*) from %1 where lobid=%2 and %3").arg(table, *row[0]);
            EXPECT_NE(column(query(name, countSql.arg(QStringLiteral("vatid=5010 and GSTID=5010")))).front(),
                      QStringLiteral("0"));
            EXPECT_NE(column(query(name, countSql.arg(QStringLiteral("vatid<>5010")))).front(),
                      QStringLiteral("0"));
        }
        // The non-taxable attribute of Apparel has its own value table.
        EXPECT_EQ(
            column(query(name,
                         QStringLiteral("select am.name from lobattribute la, attributemaster am "
                                        "where la.attributeid=am.attributeid and la.vatable=0 and lobid=2"))),
            QStringList{QStringLiteral("Colour")});
        EXPECT_NE(
            column(query(name, QStringLiteral("select count(*) from ColourMaster where lobid=2"))).front(),
            QStringLiteral("0"));
    }
}

TEST_F(DemoDatabase, LoginSettingsPointAtTheDemoFolderAndAreReadableOnlyByTheOwner)
{
    const QString file = QDir(s_demoDir).filePath(QStringLiteral("config/talvex/login.ini"));
    struct stat st {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0) << file.toStdString();
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{QStringLiteral("ServerName=") + QDir(s_demoDir).absolutePath(),
                                  QStringLiteral("pwd=demo"), QStringLiteral("Driver=SQLite3")}));
}

TEST(DemoScript, RecreatesTheDatabasesFromScratch)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString demo = QDir(dir.path()).filePath(QStringLiteral("demo"));
    const ScriptRun first = runDemoScript(kSourceDir, demo);
    ASSERT_EQ(first.exitCode, 0) << first.output.toStdString();

    const QString talvex = QDir(demo).filePath(QStringLiteral("talvex.db"));
    TestDatabase::execFile(talvex,
                           QStringLiteral("insert into Options2 (Name, Value) values ('Leftover', 1)"));
    const ScriptRun second = runDemoScript(kSourceDir, demo);
    ASSERT_EQ(second.exitCode, 0) << second.output.toStdString();

    EXPECT_EQ(
        column(TestDatabase::queryFile(talvex, QStringLiteral("select Name from Options2 order by Name"))),
        QStringList{QStringLiteral("MultiDB")});
    EXPECT_EQ(column(TestDatabase::queryFile(talvex, QStringLiteral("select count(*) from FirmMaster"))),
              QStringList{QStringLiteral("3")});
}

// A relative folder still yields an absolute ServerName, since the utility may
// be started from anywhere.
TEST(DemoScript, WritesAnAbsoluteServerNameForARelativeFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    ASSERT_FALSE(cmake.isEmpty());
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(cmake, {QStringLiteral("-DSOURCE_DIR=") + kSourceDir, QStringLiteral("-DDEMO_DIR=rel"),
                          QStringLiteral("-P"), kSourceDir + QStringLiteral("/db/make_demo.cmake")});
    ASSERT_TRUE(process.waitForFinished(120000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();

    QFile in(QDir(dir.path()).filePath(QStringLiteral("rel/config/talvex/login.ini")));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QString expected = QDir(QDir(dir.path()).filePath(QStringLiteral("rel"))).canonicalPath();
    const QString first = QString::fromUtf8(in.readLine()).trimmed();
    ASSERT_TRUE(first.startsWith(QStringLiteral("ServerName="))) << first.toStdString();
    EXPECT_EQ(QDir(first.mid(11)).canonicalPath(), expected);
    EXPECT_TRUE(QDir::isAbsolutePath(first.mid(11))) << first.toStdString();
}

TEST(DemoScript, FailsAndLeavesNoFileWhenTheDataIsBroken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = QDir(dir.path()).filePath(QStringLiteral("source"));
    ASSERT_TRUE(QDir().mkpath(source + QStringLiteral("/db/demo")));
    ASSERT_TRUE(QFile::copy(kSourceDir + QStringLiteral("/db/schema.sql"),
                            source + QStringLiteral("/db/schema.sql")));
    for (const QString& name : kDatabases) {
        const QString rel = QStringLiteral("/db/demo/") + name + QStringLiteral(".sql");
        ASSERT_TRUE(QFile::copy(kSourceDir + rel, source + rel)) << rel.toStdString();
    }
    QFile broken(source + QStringLiteral("/db/demo/firm_harbour.sql"));
    ASSERT_TRUE(broken.open(QIODevice::Append));
    broken.write("insert into NoSuchTable values (1);\n");
    broken.close();

    const QString demo = QDir(dir.path()).filePath(QStringLiteral("demo"));
    const ScriptRun run = runDemoScript(source, demo);
    EXPECT_NE(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("NoSuchTable"))) << run.output.toStdString();
    EXPECT_FALSE(QFile::exists(QDir(demo).filePath(QStringLiteral("firm_harbour.db"))));
    EXPECT_FALSE(QFile::exists(QDir(demo).filePath(QStringLiteral("config/talvex/login.ini"))));
}

TEST(DemoScript, FailsWhenTheShellCannotRun)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString demo = QDir(dir.path()).filePath(QStringLiteral("demo"));
    const ScriptRun run = runDemoScript(kSourceDir, demo, {QStringLiteral("-DSQLITE3=/nonexistent/sqlite3")});
    EXPECT_NE(run.exitCode, 0) << run.output.toStdString();
    EXPECT_FALSE(QFile::exists(QDir(demo).filePath(QStringLiteral("talvex.db"))));
}

// Without a display the demo stops before installing or building anything,
// says how to run it, and ends with its own code.
TEST(DemoScript, WithoutADisplayStopsFirstAndSaysHowToRunIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A copy of the script beside a stand-in for its first long step.
    const QString scripts = QDir(dir.path()).filePath(QStringLiteral("scripts"));
    ASSERT_TRUE(QDir().mkpath(scripts));
    ASSERT_TRUE(
        QFile::copy(kSourceDir + QStringLiteral("/scripts/demo.sh"), scripts + QStringLiteral("/demo.sh")));
    const QString marker = QDir(dir.path()).filePath(QStringLiteral("installed"));
    QFile install(scripts + QStringLiteral("/install-deps.sh"));
    ASSERT_TRUE(install.open(QIODevice::WriteOnly));
    install.write(QStringLiteral("#!/bin/sh\ntouch '%1'\nexit 1\n").arg(marker).toUtf8());
    install.close();
    install.setPermissions(install.permissions() | QFileDevice::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), {scripts + QStringLiteral("/demo.sh")});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString output = QString::fromUtf8(process.readAll());
    EXPECT_EQ(process.exitCode(), 4) << output.toStdString();
    EXPECT_FALSE(QFile::exists(marker)) << "a long step ran";
    for (const char* way :
         {"ssh -X", "xvfb-run -a scripts/demo.sh", "QT_QPA_PLATFORM=vnc scripts/demo.sh", "no password"})
        EXPECT_TRUE(output.contains(QString::fromLatin1(way))) << way << "\n" << output.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    gst::configureQtRuntime();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
