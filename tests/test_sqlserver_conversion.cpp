// Whole runs of the program against the TDS peer through the real FreeTDS
// driver: start-up, sign-in and the conversion, with the exact statements the
// server received and the rows changed behind it; and the faults that only a
// server connection shows (deadlock victim, the link lost mid-transaction).
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "firms/FrmSelectFirm.h"
#include "platform/ProgramEnd.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/SignIn.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "ui_FrmLogin.h"
#include "ui_FrmSelectFirm.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <gtest/gtest.h>

using namespace reliability;

namespace
{

const QString kDone = "[msgbox] icon=none title=New GST converted from 'GST 5% (18% above Rs 500)' to 'GST "
                      "5% (18% above Rs 1000)' text=Done";

// The statements of one run up to the line of business being chosen.
QStringList startupAndSignIn()
{
    return {"select billdate from options", "SELECT COUNT(*) FROM FirmMaster WHERE Enabled=1 AND DBName<>''",
            "SELECT Value FROM Options2 WHERE Name='MultiDB'"};
}

class SqlServerRun : public ::testing::Test
{
protected:
    void SetUp() override { gst::msgbox_seam::clear(); }

    // Builds the shop's database and starts the peer in front of it.
    void startShop(const QString& extra = QString())
    {
        db.createDatabase("talvex", standardRetailData() + extra);
        peer = std::make_unique<TdsPeer>(db.folder());
        peer->setAcceptedLogin("sa", "Shop#Secret1");
        peer->start();
        db.writeLoginSettings(peer->serverName(), "Shop#Secret1", "FreeTDS");
    }

    // In the child: what Main does, then the operator signs in as admin,
    // chooses `lob` (when the list is shown), ticks "I Agree", presses OK and
    // answers Yes. `firm` is the firm picked when the picker opens.
    static void signInAndConvert(const QString& lob, const QString& firm = QString(), int attempts = 1)
    {
        gDatabaseName = "talvex";
        ConnectDatabase();
        if (NeedsFirmSelection()) {
            FrmSelectFirm firms(&ConnectDatabase);
            firms.Form_Load();
            firms.ui()->cmbFirm->setCurrentIndex(firms.ui()->cmbFirm->findText(firm));
            firms.ui()->cmdOk->click();
        }
        signInThroughLoginWindow();
        Form1* form = shownConversionWindow();
        if (!form) {
            report("stopped", "no conversion window");
            return;
        }
        // After "Try Again" the operator chooses the line again, which enables OK.
        for (int attempt = 0; attempt < attempts; ++attempt) {
            QComboBox* list = form->ui()->Combo1;
            if (list->isVisible()) {
                const int index = list->findText(lob);
                list->setCurrentIndex(index);
                emit list->activated(index);
            }
            form->ui()->Check1->setChecked(true);
            gst::msgbox_seam::queueAnswer(gst::MsgAnswer::Yes);
            form->ui()->Command1->click();
        }
        report("inTransaction", gConnection->inTransaction() ? "1" : "0");
        report("okEnabled", form->ui()->Command1->isEnabled() ? "1" : "0");
    }

    TestDatabase db;
    std::unique_ptr<TdsPeer> peer;
};

// A line of business whose taxable attribute holds a blank: its value table
// can only be named in brackets.
const char* const kHomeTextiles =
    "insert into lobmaster (lobid, name, productwisevat) values (3, 'Home Textiles', 0);"
    "insert into attributemaster (attributeid, name) values (3, 'Fabric Type');"
    "insert into lobattribute (lobid, attributeid, vatable) values (3, 3, 1);"
    "insert into Products (ProductId, Name, LobId, vatid, VatPer) values (7, 'Bedsheet', 3, 5010, 5),"
    " (8, 'Towel', 3, 5005, 18);"
    "create table \"Fabric TypeMaster\" (Id integer primary key, Name varchar(100), lobid smallint,"
    " vatid smallint, VatPer decimal(18,2), GSTID smallint);"
    "insert into \"Fabric TypeMaster\" values (1, 'Percale', 3, 5010, 5, 5010), (2, 'Satin', 3, 5005, 18, "
    "5005),"
    " (3, 'Cotton', 2, 5010, 5, 5010);";

const char* const kProducts = "select ProductId, vatid, VatPer from Products order by ProductId";
const char* const kFabricType = "select Id, vatid, VatPer, GSTID from \"Fabric TypeMaster\" order by Id";

// The new slab's record as the program writes it, piece by piece.
// FreeTDS ends a transaction with a commit that begins the next, which
// switching autocommit back on then rolls back.
const QStringList kCommitted{"COMMIT TRANSACTION + BEGIN TRANSACTION", "ROLLBACK TRANSACTION"};

QString newSlabInsert()
{
    return QStringList{
        "insert into vatmaster ",
        " (VATID,VATName         ,VATPer    "
        ",SortIndex,MarginVat,Sendable,RegionalName,EnabledForCST,RDExempt,"
        "CessBasedOn,CessPer,CessAmtPerUnit,SGSTPer,CGSTPer,IGSTPer,UTGSTPer,SlabApplicable,SlabQuery,"
        "Disabled,"
        "RateQuery,caption) ",
        " Values ",
        " (5019,'GST 5% (18% above Rs 1000)', 5.0000,5019     ,   0      ,    1    , ''        ,0            "
        ","
        "0       ,1          ,   0,0     ,2.50 ,2.50,5,2.50, 1               ,'select (case @additional when "
        "1 "
        "then (case when @rate>1000 then 5005 else 5003 end) when 0 then (case when @rate>1180 then 5005 "
        "else "
        "5003 end) end)'       ,0 ,'select (case when @rate>1050 and @rate<=1120 then 1050  else @rate end)'"
        "      ,    ''     ) "}
        .join("\r\n");
}

struct WholeRun {
    const char* name;
    const char* extra;
    const char* lob;
    QStringList afterSignIn; // what the main connection receives after the user lookup
    DbRows products;         // Products after the run
    DbRows fabricType;       // "Fabric TypeMaster" after the run
    int exitCode = gst::kExitDone;
    QString lastBox = kDone;
};

// FreeTDS begins and ends the transaction with transaction-manager requests:
// switching autocommit off sends BEGIN; the commit asks for a new transaction
// at once (autocommit is still off), and switching autocommit back on rolls
// that empty one back.
TEST_F(SqlServerRun, WholeRunsSendExactlyTheseStatementsAndMoveOnlyTheLinesRows)
{
    const DbRows textilesBefore = {
        {"1", "5010", "5", "5010"}, {"2", "5005", "18", "5005"}, {"3", "5010", "5", "5010"}};
    const QStringList lookupLines = {"select count(*) from lobmaster ",
                                     "select name from lobmaster order by lobid"};
    const WholeRun runs[] = {
        {"product-wise",
         kHomeTextiles,
         "Grocery",
         lookupLines +
             QStringList{
                 "select lobid from lobmaster where name=@P1",
                 "select productwisevat from lobmaster where lobid=1",
                 "Select ProductWiseVat From LobMaster Where LobId=1",
                 "select count(*) from vatmaster where vatid = 5019 ",
                 newSlabInsert(),
             } +
             okStatements(1, "", kCommitted),
         {{"1", "5003", "5"},
          {"2", "5005", "18"},
          {"3", "5019", "5"},
          {"4", "5019", "5"},
          {"5", "5010", "5"},
          {"6", "5005", "18"},
          {"7", "5010", "5"},
          {"8", "5005", "18"}},
         textilesBefore},
        {"attribute-wise, value table in brackets",
         kHomeTextiles,
         "Home Textiles",
         lookupLines +
             QStringList{
                 "select lobid from lobmaster where name=@P1",
                 "select productwisevat from lobmaster where lobid=3",
                 "select name from lobattribute la, attributemaster am where la.attributeid=am.attributeid "
                 "and "
                 "la.vatable=1 and lobid=3",
                 "Select ProductWiseVat From LobMaster Where LobId=3",
                 "select count(*) from vatmaster where vatid = 5019 ",
                 newSlabInsert(),
             } +
             okStatements(3, "[Fabric TypeMaster]", kCommitted, "sp_tables"),
         {{"1", "5003", "5"},
          {"2", "5005", "18"},
          {"3", "5010", "5"},
          {"4", "5010", "5"},
          {"5", "5010", "5"},
          {"6", "5005", "18"},
          {"7", "5019", "5"},
          {"8", "5005", "18"}},
         {{"1", "5019", "5", "5019"}, {"2", "5005", "18", "5005"}, {"3", "5010", "5", "5010"}}},
        {"refusal: a value of the line already on the new slab",
         "insert into lobmaster (lobid, name, productwisevat) values (3, 'Home Textiles', 0);"
         "insert into attributemaster (attributeid, name) values (3, 'Fabric Type');"
         "insert into lobattribute (lobid, attributeid, vatable) values (3, 3, 1);"
         "create table \"Fabric TypeMaster\" (Id integer primary key, Name varchar(100), lobid smallint,"
         " vatid smallint, VatPer decimal(18,2), GSTID smallint);"
         "insert into \"Fabric TypeMaster\" values (1, 'Percale', 3, 5010, 5, 5010),"
         " (2, 'Satin', 3, 5019, 5, 5019), (3, 'Cotton', 2, 5010, 5, 5010);",
         "Home Textiles",
         lookupLines +
             QStringList{
                 "select lobid from lobmaster where name=@P1",
                 "select productwisevat from lobmaster where lobid=3",
                 "select name from lobattribute la, attributemaster am where la.attributeid=am.attributeid "
                 "and "
                 "la.vatable=1 and lobid=3",
                 "Select ProductWiseVat From LobMaster Where LobId=3",
                 "select count(*) from vatmaster where vatid = 5019 ",
                 newSlabInsert(),
             } +
             okStatements(3, "[Fabric TypeMaster]", {}, "sp_tables"),
         {{"1", "5003", "5"},
          {"2", "5005", "18"},
          {"3", "5010", "5"},
          {"4", "5010", "5"},
          {"5", "5010", "5"},
          {"6", "5005", "18"}},
         {{"1", "5010", "5", "5010"}, {"2", "5019", "5", "5019"}, {"3", "5010", "5", "5010"}},
         gst::kExitRefused,
         boxLine("critical", "Fabric Type",
                 "This utility cannot run!\r\nSome attributes already have GST type 'GST 5% (18% above Rs "
                 "1000)' assigned to them.")},
        {"the only line of business",
         "delete from lobmaster where lobid <> 1;",
         "",
         QStringList{
             "select count(*) from lobmaster ",
             "select lobid from lobmaster",
             "select name from lobmaster",
             "select productwisevat from lobmaster where lobid=1",
             "Select ProductWiseVat From LobMaster Where LobId=1",
             "select count(*) from vatmaster where vatid = 5019 ",
             newSlabInsert(),
         } + okStatements(1, "", kCommitted),
         {{"1", "5003", "5"},
          {"2", "5005", "18"},
          {"3", "5019", "5"},
          {"4", "5019", "5"},
          {"5", "5010", "5"},
          {"6", "5005", "18"}},
         {}},
    };
    for (const WholeRun& r : runs) {
        SCOPED_TRACE(r.name);
        startShop(r.extra);
        const ChildOutcome run = runChild([&] { signInAndConvert(r.lob); });
        if (replaying())
            continue;

        ASSERT_TRUE(run.exited) << run.describe().toStdString();
        EXPECT_EQ(run.exitCode, r.exitCode) << run.describe().toStdString();
        EXPECT_EQ(run.lastBox(), r.lastBox);
        const QStringList expected =
            startupAndSignIn() +
            QStringList{"select *, cast(Password as varbinary(max)) as gst_password_bytes from usermaster "
                        "where loginname =@P1"} +
            r.afterSignIn;
        EXPECT_EQ(peer->statements(1), expected);
        // Typed and chosen names went in bound, as sp_executesql values.
        QStringList bound;
        for (const TdsPeer::Request& q : peer->requests())
            for (const TdsPeer::Param& p : q.boundValues())
                bound << p.value.value_or("NULL");
        const QStringList expectedBound =
            QString(r.lob).isEmpty() ? QStringList{"admin"} : QStringList{"admin", r.lob};
        EXPECT_EQ(bound, expectedBound);
        // The login window's agent connection sends nothing unless its picture is clicked.
        EXPECT_EQ(peer->statements(2), QStringList());
        EXPECT_EQ(db.queryRows("talvex", kProducts), r.products);
        if (!r.fabricType.empty()) {
            EXPECT_EQ(db.queryRows("talvex", kFabricType), r.fabricType);
        }
        EXPECT_EQ(db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"), DbValue("1"));
        // The untaxed attribute and the other value tables stay as they were.
        EXPECT_EQ(db.queryRows("talvex", "select Id, vatid from ColourMaster order by Id"),
                  DbRows({{"1", "0"}, {"2", "5010"}}));
        peer.reset();
    }
}

// A shop with one database per firm: the start-up lists the firms, the
// operator picks the second, and everything after runs on that firm's own
// database through a new connection; the register's database is left alone.
TEST_F(SqlServerRun, MultiFirmStartUpReconnectsToTheChosenFirmsDatabase)
{
    startShop(
        "update Options2 set Value = 1;"
        "insert into FirmMaster (FirmId, Name, Enabled, DBName) values (1, 'North Shop', 1, 'firm_north'),"
        " (2, 'South Shop', 1, 'firm_south'), (3, 'Old Branch', 0, 'firm_old');");
    db.createDatabase("firm_south", standardRetailData());
    const DbRows talvexBefore = db.queryRows("talvex", kProducts);

    const ChildOutcome run = runChild([] { signInAndConvert("Grocery", "South Shop"); });

    ASSERT_TRUE(run.exited) << run.describe().toStdString();
    EXPECT_EQ(run.exitCode, gst::kExitDone) << run.describe().toStdString();
    EXPECT_EQ(run.lastBox(), kDone);
    std::vector<QString> databases;
    for (const TdsPeer::Login& l : peer->logins()) {
        databases.push_back(l.database);
        EXPECT_TRUE(l.accepted);
    }
    EXPECT_EQ(databases, (std::vector<QString>{"talvex", "firm_south", "msdb"}));
    // Filling the list selects its first firm, which looks that firm up; the choice looks up the second.
    const QStringList onRegister =
        startupAndSignIn() +
        QStringList{"Select Name, FirmId From FirmMaster Where Enabled = 1 AND DBName<>''",
                    "Select DBName From FirmMaster Where FirmID = 1",
                    "Select DBName From FirmMaster Where FirmID = 2"};
    EXPECT_EQ(peer->statements(1), onRegister);
    const QStringList onFirm = peer->statements(2);
    ASSERT_GE(onFirm.size(), 3);
    EXPECT_EQ(onFirm.front(), "select billdate from options");
    EXPECT_EQ(onFirm.mid(onFirm.size() - 3),
              QStringList({"update products set vatid=5019 ,VatPer=5 where lobid=1 and vatid=5010",
                           "COMMIT TRANSACTION + BEGIN TRANSACTION", "ROLLBACK TRANSACTION"}));
    EXPECT_EQ(peer->statements(3), QStringList());
    // The firm list and every lookup were read to their end: nothing was cancelled.
    for (const TdsPeer::Request& q : peer->requests())
        EXPECT_NE(q.kind, TdsPeer::Request::Kind::Attention) << q.connection;
    EXPECT_EQ(db.queryRows("firm_south", "select ProductId, vatid from Products where LobId = 1 order by 1"),
              DbRows({{"1", "5003"}, {"2", "5005"}, {"3", "5019"}, {"4", "5019"}}));
    EXPECT_EQ(db.queryRows("talvex", kProducts), talvexBefore);
    EXPECT_EQ(db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"), DbValue("0"));
}

struct TransactionFault {
    const char* name;
    const char* lob;
    std::vector<TdsPeer::Fault> faults;
    int exitCode;
    QString lastBox;      // empty: the error report, checked apart
    bool rowsMoved;       // the commit landed behind the peer
    QStringList lastSent; // the end of what the main connection received
    int attempts = 1;     // OK pressed again after "Try Again"
};

// Faults of the server connection while the transaction is open. A fault that
// leaves the connection alive ends in "Try Again" with everything rolled back;
// a lost connection leaves no way to roll back, so the error is reported and
// the program ends (exit code 3), never "Done": the server rolls back what was
// not committed when the connection ends.
TEST_F(SqlServerRun, TransactionFaultsRollBackOrEndTheProgramNeverClaimingDone)
{
    const QString tryAgain = "[msgbox] icon=critical title=Not Successful for 'Home Textiles' text=Try Again";
    const QString productsUpdate = "update products set vatid=5019 ,VatPer=5 where lobid=3 and vatid=5010";
    const QString valuesUpdate =
        "update [Fabric TypeMaster] set vatid=5019,VatPer=5,GSTID=5019  where lobid=3 and vatid=5010";
    const TransactionFault cases[] = {
        {"deadlock victim on the products update",
         "Home Textiles",
         {TdsPeer::Fault::error(1205, "^update products")},
         kChildReturned,
         tryAgain,
         false,
         // The server has rolled the victim back and refuses the driver's
         // rollback (3903); a transaction is opened for the driver to end, so
         // that it sends its next begin.
         {valuesUpdate, productsUpdate, "ROLLBACK TRANSACTION + BEGIN TRANSACTION", "BEGIN TRANSACTION",
          "ROLLBACK TRANSACTION"}},
        {"deadlock victim, then the operator tries again on the same connection",
         "Grocery",
         {TdsPeer::Fault::error(1205, "^update products")},
         gst::kExitDone,
         kDone,
         true,
         QStringList{"BEGIN TRANSACTION", "ROLLBACK TRANSACTION",
                     "select lobid from lobmaster where name=@P1",
                     "select productwisevat from lobmaster where lobid=1",
                     "Select ProductWiseVat From LobMaster Where LobId=1",
                     "select count(*) from vatmaster where vatid = 5019 "} +
             okStatements(1, "", kCommitted),
         2},
        {"connection dropped during the second update",
         "Home Textiles",
         {TdsPeer::Fault::close("^update products")},
         gst::kExitError,
         QString(),
         false,
         {"BEGIN TRANSACTION", valuesUpdate, productsUpdate}},
        {"connection dropped during COMMIT, before it ran",
         "Home Textiles",
         {TdsPeer::Fault::close("^COMMIT")},
         gst::kExitError,
         QString(),
         false,
         {"BEGIN TRANSACTION", valuesUpdate, productsUpdate, "COMMIT TRANSACTION + BEGIN TRANSACTION"}},
        {"connection dropped during COMMIT, after it ran",
         "Grocery",
         {TdsPeer::Fault::close("^COMMIT", 1, true)},
         gst::kExitError,
         QString(),
         true,
         {"BEGIN TRANSACTION", "update products set vatid=5019 ,VatPer=5 where lobid=1 and vatid=5010",
          "COMMIT TRANSACTION + BEGIN TRANSACTION"}},
        // The commit landed though the driver says it failed; the rollback then
        // finds nothing open (3903): that is no deadlock victim's rollback.
        {"COMMIT lands but answers with an error",
         "Grocery",
         {TdsPeer::Fault::errorAfterRunning(50000, "^COMMIT")},
         gst::kExitError,
         QString(),
         true,
         {"BEGIN TRANSACTION", "update products set vatid=5019 ,VatPer=5 where lobid=1 and vatid=5010",
          "COMMIT TRANSACTION + BEGIN TRANSACTION", "ROLLBACK TRANSACTION + BEGIN TRANSACTION"}},
        {"ROLLBACK fails because the connection is gone",
         "Home Textiles",
         {TdsPeer::Fault::error(1205, "^update products"), TdsPeer::Fault::close("^ROLLBACK")},
         gst::kExitError,
         QString(),
         false,
         {"BEGIN TRANSACTION", valuesUpdate, productsUpdate, "ROLLBACK TRANSACTION + BEGIN TRANSACTION"}},
    };
    for (const TransactionFault& c : cases) {
        SCOPED_TRACE(c.name);
        // The new slab's record is there already, so the transaction's rows are all that can change.
        startShop(
            QString(kHomeTextiles) +
            "insert into vatmaster (VATID, VATName, VATPer, SortIndex) values (5019, 'GST 5% (18% above "
            "Rs 1000)', 5, 5019);");
        for (const TdsPeer::Fault& f : c.faults)
            peer->addFault(f);
        const TableRows before = snapshotAll(db, "talvex");

        const ChildOutcome run = runChild([&] { signInAndConvert(c.lob, QString(), c.attempts); });

        ASSERT_TRUE(run.exited) << run.describe().toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.describe().toStdString();
        if (c.lastBox != kDone) {
            EXPECT_FALSE(run.out.contains("text=Done") || run.err.contains("text=Done"));
        }
        if (c.attempts > 1) {
            EXPECT_TRUE(run.boxes().contains(
                QString("[msgbox] icon=critical title=Not Successful for '%1' text=Try Again").arg(c.lob)));
        }
        if (c.exitCode == kChildReturned) {
            EXPECT_EQ(run.result("inTransaction"), "0");
            EXPECT_EQ(run.result("okEnabled"), "0");
        }
        if (!c.lastBox.isEmpty()) {
            EXPECT_EQ(run.lastBox(), c.lastBox);
        } else {
            // The run-time error report: the number and the driver's text.
            EXPECT_TRUE(
                run.lastBox().startsWith("[msgbox] icon=critical title=gstconvert text=Run-time error '"))
                << run.lastBox().toStdString();
        }
        const QStringList sent = peer->statements(1);
        EXPECT_GE(sent.size(), c.lastSent.size());
        EXPECT_EQ(sent.mid(sent.size() - c.lastSent.size()), c.lastSent);
        // The server ends what the connection left open; then the rows are read.
        ASSERT_TRUE(peer->waitForNoOpenConnections(10000));
        const QStringList changed = unexpectedChanges(before, snapshotAll(db, "talvex"), false);
        EXPECT_EQ(changed.isEmpty(), !c.rowsMoved) << changed.join('\n').toStdString();

        if (c.rowsMoved) {
            // A new run meets the refusal: the rows are on the new slab already.
            const ChildOutcome retry = runChild([&] { signInAndConvert(c.lob); });
            ASSERT_TRUE(retry.exited) << retry.describe().toStdString();
            EXPECT_EQ(retry.exitCode, gst::kExitRefused);
            EXPECT_EQ(retry.lastBox(), productsRefusalBox());
            EXPECT_EQ(
                db.queryRows("talvex", "select ProductId, vatid from Products where LobId = 1 order by 1"),
                DbRows({{"1", "5003"}, {"2", "5005"}, {"3", "5019"}, {"4", "5019"}}));
        }
        peer.reset();
    }
}

// Every lookup is read to its end, so FreeTDS never cancels one: no ATTENTION
// reaches the server and each statement costs exactly one round trip. With
// the link slowed to 50 ms an answer, the run's time is that count times 50 ms.
TEST_F(SqlServerRun, WholeRunCostsOneRoundTripPerStatementAndNoCancel)
{
    for (const int delayMs : {0, 50}) {
        SCOPED_TRACE(delayMs);
        startShop(kHomeTextiles);
        peer->setAnswerDelayMs(delayMs);
        const ChildOutcome run = runChild([] { signInAndConvert("Home Textiles"); });
        ASSERT_TRUE(run.exited) << run.describe().toStdString();
        ASSERT_EQ(run.exitCode, gst::kExitDone) << run.describe().toStdString();

        int attentions = 0;
        for (const TdsPeer::Request& q : peer->requests())
            attentions += q.kind == TdsPeer::Request::Kind::Attention ? 1 : 0;
        EXPECT_EQ(attentions, 0);
        const int main = peer->roundTrips(1);
        EXPECT_EQ(main, peer->statements(1).size());
        EXPECT_EQ(peer->roundTrips(2), 0); // the agent connection: its login only
        std::printf("[figures] delay %d ms: %d round trips on the main connection, %d on the agent's, "
                    "%d connections, run %.2f s\n",
                    delayMs, main, peer->roundTrips(2), peer->connectionCount(), run.seconds);
        peer.reset();
    }
}

} // namespace
