// Not on Windows: holds SQLite locks from forked processes and ends children by signal.
// Faults while the conversion runs: an update or the commit fails, another
// program holds the database, the process is killed with the transaction open.
// Each case starts from a fresh shop database and compares every row of every
// table before and after; only the new slab's record may be added.
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <csignal>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace reliability;

namespace
{

const QString kTryAgainApparel = "[msgbox] icon=critical title=Not Successful for 'Apparel' text=Try Again";
const QString kTryAgainGrocery = "[msgbox] icon=critical title=Not Successful for 'Grocery' text=Try Again";
const QString kDone = "[msgbox] icon=none title=New GST converted from 'GST 5% (18% above Rs 500)' to 'GST "
                      "5% (18% above Rs 1000)' text=Done";

// What Apparel's conversion must change when it succeeds: its products and its
// Fabric values on 5010 (Products 5, FabricMaster 1 and 3).
const char* const kApparelProducts =
    "select ProductId, vatid, VatPer from Products where LobId = 2 order by 1";

class Faults : public ::testing::Test
{
protected:
    void SetUp() override { gst::msgbox_seam::clear(); }

    // The shop; `options` go into the login settings' connection string.
    void createShop(const QString& extra, const QString& options = QString())
    {
        db.createDatabase("talvex", standardRetailData() + canarySql() + extra);
        db.writeLoginSettings(db.folder(), "demo", "SQLite3", options);
    }

    QString tracePath() const { return db.folder() + "/statements.txt"; }

    // In the child: starts like the program, opens the conversion window on
    // `lob`, ticks "I Agree" and clicks OK; reports the window's state when
    // the click returns instead of ending the program.
    Form1* convert(const QString& lob, const std::function<void()>& beforeClick = {})
    {
        gDatabaseName = "talvex";
        ConnectDatabase();
        traceStatementsTo(tracePath());
        auto* window = new Form1;
        gst::guarded([&] { window->Form_Load(); });
        window->show();
        chooseLine(window, lob);
        window->ui()->Check1->setChecked(true);
        if (beforeClick)
            beforeClick();
        window->ui()->Command1->click();
        reportWindow(window);
        return window;
    }

    static void chooseLine(Form1* window, const QString& lob)
    {
        QComboBox* list = window->ui()->Combo1;
        const int index = list->findText(lob);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    static void reportWindow(Form1* window)
    {
        report("visible", window->isVisible() ? "1" : "0");
        report("okEnabled", window->ui()->Command1->isEnabled() ? "1" : "0");
        report("inTransaction", gConnection->inTransaction() ? "1" : "0");
        report("waitCursor", QApplication::overrideCursor() ? "1" : "0");
    }

    TestDatabase db;
};

struct FailingUpdate {
    const char* name;
    const char* lob;
    const char* extra;
    const char* options;
    const char* failingStatement; // the statement whose failure starts the rollback
};

TEST_F(Faults, FailingUpdateOrCommitRollsBackEveryRowAndSaysTryAgain)
{
    const QString fabricUpdate =
        "update [FabricMaster] set vatid=5019,VatPer=5,GSTID=5019  where lobid=2 and vatid=5010";
    const FailingUpdate cases[] = {
        {"attribute table refuses every row", "Apparel",
         "create trigger t before update on FabricMaster begin select raise(abort, 'values locked'); end;",
         "", "update [FabricMaster]"},
        {"attribute table refuses its second row", "Apparel",
         "create trigger t before update on FabricMaster when old.Id = 3 "
         "begin select raise(abort, 'Denim locked'); end;",
         "", "update [FabricMaster]"},
        {"attribute table rejects the new slab by a check", "Apparel",
         "drop table FabricMaster; create table FabricMaster (Id integer primary key, Name varchar(100), "
         "lobid smallint, vatid smallint, VatPer decimal(18,2), GSTID smallint check (GSTID <> 5019));"
         "insert into FabricMaster values (1, 'Cotton', 2, 5010, 5, 5010), (2, 'Silk', 2, 5005, 18, 5005),"
         "(3, 'Denim', 2, 5010, 5, 5010), (4, 'Khadi', 2, 5003, 5, 5003);",
         "", "update [FabricMaster]"},
        {"products refuse after the attribute table changed", "Apparel",
         "create trigger t before update on Products begin select raise(abort, 'products locked'); end;", "",
         "update products"},
        {"products refuse, product-wise line", "Grocery",
         "create trigger t before update on Products begin select raise(abort, 'products locked'); end;", "",
         "update products"},
        {"products unique index broken by the second row", "Grocery",
         "create unique index one_new_slab_product on Products(LobId) where vatid = 5019;", "",
         "update products"},
        {"deferred foreign key fails at commit, attribute-wise", "Apparel",
         "create table auditparent (id integer primary key);"
         "create table audit (ref integer references auditparent(id) deferrable initially deferred);"
         "create trigger t after update on Products begin insert into audit values (999); end;",
         "FKSupport=1", "COMMIT"},
        {"deferred foreign key fails at commit, product-wise", "Grocery",
         "create table auditparent (id integer primary key);"
         "create table audit (ref integer references auditparent(id) deferrable initially deferred);"
         "create trigger t after update on Products begin insert into audit values (999); end;",
         "FKSupport=1", "COMMIT"},
    };
    for (const FailingUpdate& c : cases) {
        SCOPED_TRACE(c.name);
        createShop(c.extra, c.options);
        QFile::remove(tracePath());
        const TableRows before = snapshotAll(db, "talvex");

        const ChildOutcome run = runChild([&] { convert(c.lob); });

        ASSERT_TRUE(run.exited && run.exitCode == kChildReturned) << run.describe().toStdString();
        EXPECT_FALSE(run.sanitizerReport());
        EXPECT_EQ(run.lastBox(), QString(c.lob) == "Apparel" ? kTryAgainApparel : kTryAgainGrocery);
        EXPECT_EQ(run.result("visible"), "1");
        EXPECT_EQ(run.result("okEnabled"), "0");
        EXPECT_EQ(run.result("inTransaction"), "0");
        EXPECT_EQ(run.result("waitCursor"), "0");

        const TableRows after = snapshotAll(db, "talvex");
        EXPECT_EQ(unexpectedChanges(before, after, true), QStringList());
        EXPECT_EQ(db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"), DbValue("1"));
        EXPECT_TRUE(canaryIntact(db, "talvex"));

        // The failing statement was sent inside the transaction, and the
        // transaction ended with a rollback and nothing after it.
        const QStringList sent = statementsFrom(tracePath());
        const int begin = sent.indexOf("BEGIN TRANSACTION");
        ASSERT_GE(begin, 0) << sent.join('\n').toStdString();
        const QStringList tail = sent.mid(begin);
        EXPECT_EQ(tail.last(), "ROLLBACK");
        bool failingSent = false;
        for (const QString& sql : tail)
            failingSent = failingSent || sql.startsWith(c.failingStatement);
        EXPECT_TRUE(failingSent) << tail.join('\n').toStdString();
        if (QString(c.lob) == "Apparel") {
            EXPECT_TRUE(tail.contains(fabricUpdate)) << tail.join('\n').toStdString();
        }
        EXPECT_EQ(foreignStatements(sent), QStringList());
    }
}

// The same shop without the fault converts, so the cases above fail only because of their fault.
TEST_F(Faults, WithoutTheFaultTheSameRunConverts)
{
    createShop("create table auditparent (id integer primary key);"
               "create table audit (ref integer references auditparent(id) deferrable initially deferred);",
               "FKSupport=1");
    const TableRows before = snapshotAll(db, "talvex");
    const ChildOutcome run = runChild([&] { convert("Apparel"); });
    ASSERT_TRUE(run.exited && run.exitCode == gst::kExitDone) << run.describe().toStdString();
    EXPECT_EQ(run.lastBox(), kDone);
    EXPECT_EQ(db.queryRows("talvex", kApparelProducts), DbRows({{"5", "5019", "5"}, {"6", "5005", "18"}}));
    EXPECT_EQ(
        db.queryRows("talvex", "select Id, vatid, GSTID from FabricMaster order by Id"),
        DbRows({{"1", "5019", "5019"}, {"2", "5005", "5005"}, {"3", "5019", "5019"}, {"4", "5003", "5003"}}));
    EXPECT_NE(unexpectedChanges(before, snapshotAll(db, "talvex"), true), QStringList());
}

// Holds a lock on a database from another process until released.
class LockHolder
{
public:
    // "write": BEGIN IMMEDIATE (a reserved lock: others may read, nobody may write).
    // "read": a transaction that has read a row (a shared lock: nobody may commit a write).
    LockHolder(const QString& path, const QString& kind)
    {
        if (::pipe(m_ready) != 0 || ::pipe(m_release) != 0 || ::pipe(m_released) != 0)
            throw std::runtime_error("pipe");
        // A holder that is already gone must not kill the test when told to release.
        std::signal(SIGPIPE, SIG_IGN);
        m_pid = ::fork();
        if (m_pid == 0) {
            closeEnds(m_ready[0], m_release[1], m_released[0]);
            hold(path, kind);
        }
        // Only the holder keeps these, so that its end reads as end of file here.
        closeEnds(m_ready[1], m_release[0], m_released[1]);
        char c = 0;
        if (::read(m_ready[0], &c, 1) != 1 || c != 'L')
            throw std::runtime_error("the lock holder could not take its lock");
    }
    ~LockHolder()
    {
        release();
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        closeEnds(m_ready[0], m_release[1], m_released[0]);
    }
    // May be called from a forked child of the test as well.
    void release()
    {
        if (m_releasedAlready)
            return;
        m_releasedAlready = true;
        const char c = 'R';
        if (::write(m_release[1], &c, 1) == 1) {
            // 'D' once the holder has let go, or end of file when it is gone.
            char done = 0;
            [[maybe_unused]] const auto n = ::read(m_released[0], &done, 1);
        }
    }

private:
    static void closeEnds(int a, int b, int c)
    {
        for (int fd : {a, b, c})
            ::close(fd);
    }

    [[noreturn]] void hold(const QString& path, const QString& kind)
    {
        sqlite3* handle = nullptr;
        char ok = 'L';
        sqlite3_stmt* reading = nullptr;
        if (sqlite3_open_v2(path.toUtf8().constData(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            ok = 'E';
        if (ok == 'L' && kind == "write" &&
            sqlite3_exec(handle, "begin immediate", nullptr, nullptr, nullptr))
            ok = 'E';
        if (ok == 'L' && kind == "read") {
            if (sqlite3_exec(handle, "begin", nullptr, nullptr, nullptr) ||
                sqlite3_prepare_v2(handle, "select * from Products", -1, &reading, nullptr) ||
                sqlite3_step(reading) != SQLITE_ROW)
                ok = 'E';
        }
        [[maybe_unused]] auto n = ::write(m_ready[1], &ok, 1);
        char c = 0;
        n = ::read(m_release[0], &c, 1);
        sqlite3_finalize(reading);
        sqlite3_exec(handle, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(handle);
        const char done = 'D';
        n = ::write(m_released[1], &done, 1);
        std::_Exit(0);
    }

    pid_t m_pid = -1;
    int m_ready[2] = {-1, -1};
    int m_release[2] = {-1, -1};
    int m_released[2] = {-1, -1};
    bool m_releasedAlready = false;
};

// The shop already holds the new slab's record, so that nothing is written
// before the transaction: the lock is first met by the updates.
const char* const kNewSlabRecord = "insert into vatmaster (VATID, VATName, VATPer, SortIndex) values (5019, "
                                   "'GST 5% (18% above Rs 1000)', 5, "
                                   "5019);";

TEST_F(Faults, WriteLockHeldElsewhereFailsWithinTheBusyTimeoutAndARetryAfterwardsConverts)
{
    createShop(kNewSlabRecord);
    const TableRows before = snapshotAll(db, "talvex");
    LockHolder lock(db.path("talvex"), "write");

    const ChildOutcome run = runChild([&] {
        Form1* window = convert("Apparel");
        report("unchangedWhileLocked",
               unexpectedChanges(before, snapshotAll(db, "talvex"), false).join("; "));
        lock.release();
        // Choosing the line again is what enables OK after a failure.
        chooseLine(window, "Apparel");
        report("okEnabledAfterChoice", window->ui()->Command1->isEnabled() ? "1" : "0");
        window->ui()->Command1->click();
    });

    ASSERT_TRUE(run.exited) << run.describe().toStdString();
    EXPECT_EQ(run.exitCode, gst::kExitDone) << run.describe().toStdString();
    const QStringList boxes = run.boxes();
    // Confirmation, "Try Again", confirmation, "Done".
    ASSERT_EQ(boxes.size(), 4) << run.describe().toStdString();
    EXPECT_EQ(boxes[1], kTryAgainApparel);
    EXPECT_EQ(boxes[3], kDone);
    EXPECT_EQ(run.result("okEnabled"), "0");
    EXPECT_EQ(run.result("inTransaction"), "0");
    EXPECT_EQ(run.result("unchangedWhileLocked"), "");
    EXPECT_EQ(run.result("okEnabledAfterChoice"), "1");
    // The driver waits up to 5 s for the lock, then gives up: bounded, not forever.
    EXPECT_LT(run.seconds, 20.0);
    EXPECT_GT(run.seconds, 4.0);

    EXPECT_EQ(db.queryRows("talvex", kApparelProducts), DbRows({{"5", "5019", "5"}, {"6", "5005", "18"}}));
    EXPECT_EQ(db.queryRows("talvex", "select Id, vatid, VatPer, GSTID from FabricMaster order by Id"),
              DbRows({{"1", "5019", "5", "5019"},
                      {"2", "5005", "18", "5005"},
                      {"3", "5019", "5", "5019"},
                      {"4", "5003", "5", "5003"}}));
    EXPECT_TRUE(canaryIntact(db, "talvex"));
}

TEST_F(Faults, WriteLockMetByTheNewSlabInsertIsReportedAndEndsWithNothingChanged)
{
    createShop("");
    const TableRows before = snapshotAll(db, "talvex");
    LockHolder lock(db.path("talvex"), "write");

    const ChildOutcome run = runChild([&] { convert("Grocery"); });

    lock.release();
    ASSERT_TRUE(run.exited) << run.describe().toStdString();
    EXPECT_EQ(run.exitCode, gst::kExitError);
    EXPECT_TRUE(run.lastBox().startsWith(
        "[msgbox] icon=critical title=gstconvert text=Run-time error '-2147217900':\\n\\n"))
        << run.lastBox().toStdString();
    EXPECT_TRUE(run.lastBox().contains("locked")) << run.lastBox().toStdString();
    EXPECT_LT(run.seconds, 20.0);
    EXPECT_EQ(unexpectedChanges(before, snapshotAll(db, "talvex"), false), QStringList());
}

TEST_F(Faults, ReaderHoldingTheDatabaseAtCommitTimeMakesTheCommitFailAndEverythingRollsBack)
{
    createShop(kNewSlabRecord);
    const TableRows before = snapshotAll(db, "talvex");
    LockHolder reader(db.path("talvex"), "read");
    QFile::remove(tracePath());

    const ChildOutcome run = runChild([&] { convert("Apparel"); });
    reader.release();

    ASSERT_TRUE(run.exited && run.exitCode == kChildReturned) << run.describe().toStdString();
    EXPECT_EQ(run.lastBox(), kTryAgainApparel);
    EXPECT_EQ(run.result("inTransaction"), "0");
    EXPECT_LT(run.seconds, 20.0);
    const QStringList sent = statementsFrom(tracePath());
    ASSERT_GE(sent.size(), 2);
    EXPECT_EQ(sent.mid(sent.size() - 2), QStringList({"COMMIT", "ROLLBACK"}));
    EXPECT_EQ(unexpectedChanges(before, snapshotAll(db, "talvex"), false), QStringList());
}

// What the connection's transaction calls answer: nothing injected, a failure
// before the driver is asked, or a failure after it did the work (answer lost).
enum class Injected { None, Before, After };

struct LostLink {
    const char* name;
    const char* lob;
    const char* extra;
    Injected commit;
    bool rowsMoved;             // whether the commit reached the database
    bool rollbackWorks = false; // the link is back for the rollback
};

// The link is lost while the transaction is open, so the rollback fails too:
// the program must not go on with the transaction open and its locks held,
// nor commit by turning autocommit on. It reports the error with its number
// and text and ends; ending the connection rolls back.
TEST_F(Faults, RollbackThatFailsIsReportedAndEndsTheProgramWithNothingCommitted)
{
    const char* const refuseProducts =
        "create trigger t before update on Products begin select raise(abort, 'products locked'); end;";
    const char* const refuseFabric =
        "create trigger t before update on FabricMaster begin select raise(abort, 'values locked'); end;";
    const LostLink cases[] = {
        {"products update fails", "Grocery", refuseProducts, Injected::None, false},
        {"attribute update fails", "Apparel", refuseFabric, Injected::None, false},
        {"products update fails after the attribute update", "Apparel", refuseProducts, Injected::None,
         false},
        {"commit fails before it reaches the database", "Apparel", "", Injected::Before, false},
        {"commit lands, its answer is lost", "Grocery", "", Injected::After, true},
        // The rollback finds nothing to undo: no "Try Again" for rows that moved.
        {"commit lands, its answer is lost, the rollback works", "Grocery", "", Injected::After, true, true},
    };
    const QString report =
        boxLine("critical", "gstconvert", "Run-time error '-2147467259':\r\n\r\nCommunication link failure");
    for (const LostLink& c : cases) {
        SCOPED_TRACE(c.name);
        createShop(QString(kNewSlabRecord) + c.extra);
        QFile::remove(tracePath());
        const TableRows before = snapshotAll(db, "talvex");

        const ChildOutcome run = runChild([&] {
            convert(c.lob, [&] {
                gst::Connection::setFaultHook(
                    [&c](const QString& step) -> std::optional<gst::Connection::InjectedFault> {
                        const gst::DiagRecord lost{"08S01", 0, "Communication link failure"};
                        if (step == "ROLLBACK" && !c.rollbackWorks)
                            return gst::Connection::InjectedFault{lost, false};
                        if (step == "COMMIT" && c.commit != Injected::None)
                            return gst::Connection::InjectedFault{lost, c.commit == Injected::After};
                        return std::nullopt;
                    });
            });
        });

        ASSERT_TRUE(run.exited) << run.describe().toStdString();
        EXPECT_EQ(run.exitCode, gst::kExitError) << run.describe().toStdString();
        EXPECT_EQ(run.lastBox(), report) << run.describe().toStdString();
        EXPECT_FALSE(run.out.contains("text=Done")) << run.describe().toStdString();
        const QStringList sent = statementsFrom(tracePath());
        ASSERT_FALSE(sent.isEmpty());
        EXPECT_EQ(sent.last(), "ROLLBACK");
        const QStringList changed = unexpectedChanges(before, snapshotAll(db, "talvex"), false);
        EXPECT_EQ(changed.isEmpty(), !c.rowsMoved) << changed.join('\n').toStdString();
        EXPECT_TRUE(canaryIntact(db, "talvex"));

        if (c.rowsMoved) {
            // The operator starts again: the rows already moved are refused.
            const ChildOutcome retry = runChild([&] { convert(c.lob); });
            ASSERT_TRUE(retry.exited) << retry.describe().toStdString();
            EXPECT_EQ(retry.exitCode, gst::kExitRefused);
            EXPECT_EQ(retry.lastBox(), productsRefusalBox());
        }
    }
}

struct KillPoint {
    const char* name;
    const char* lob;
    const char* killBefore; // the statement about to be sent when the process dies
};

TEST_F(Faults, ProcessKilledWithTheTransactionOpenLeavesNoneOfItsUpdates)
{
    const KillPoint points[] = {
        {"after the attribute update, before the products update", "Apparel", "update products"},
        {"after both updates, before the commit", "Apparel", "COMMIT"},
        {"after the products update, before the commit", "Grocery", "COMMIT"},
    };
    for (const KillPoint& p : points) {
        SCOPED_TRACE(p.name);
        createShop("");
        const TableRows before = snapshotAll(db, "talvex");
        const QString journal = db.path("talvex") + "-journal";

        const ChildOutcome run = runChild([&] {
            convert(p.lob, [&] {
                gst::Connection::setTraceHook([&p](const QString& sql) {
                    if (sql.startsWith(p.killBefore))
                        ::kill(::getpid(), SIGKILL);
                });
            });
        });

        ASSERT_FALSE(run.exited) << run.describe().toStdString();
        ASSERT_EQ(run.signal, SIGKILL);
        // The dead run left its transaction behind in the journal...
        EXPECT_TRUE(QFile::exists(journal));
        EXPECT_GT(QFile(journal).size(), 0);
        // ...and the next open rolls it back: only the record inserted before the transaction stays.
        EXPECT_EQ(unexpectedChanges(before, snapshotAll(db, "talvex"), true), QStringList());
        EXPECT_EQ(db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"), DbValue("1"));

        // The program itself opens the recovered shop and converts it.
        const ChildOutcome again = runChild([&] { convert(p.lob); });
        ASSERT_TRUE(again.exited) << again.describe().toStdString();
        EXPECT_EQ(again.exitCode, gst::kExitDone) << again.describe().toStdString();
        EXPECT_EQ(again.lastBox(), kDone);
        EXPECT_EQ(
            db.scalar("talvex", QString("select count(*) from Products where LobId = %1 and vatid = 5010")
                                    .arg(QString(p.lob) == "Apparel" ? 2 : 1)),
            DbValue("0"));
    }
}

} // namespace
