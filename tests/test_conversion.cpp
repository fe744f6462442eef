// The conversion behind the OK button: agreement, confirmation, the new slab
// record, the refusals, and both updates in one transaction. Runs that end the
// program run in a forked child ("fast" death tests) so that the parent can
// read the database the child changed.
#include "conversion/Conversion.h"
#include "conversion/Form1.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/Reliability.h"
#include "support/RunLogFolder.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "FileKinds.h"

using gst::MsgAnswer;
using gst::MsgIcon;
using ::testing::ExitedWithCode;

namespace
{

// Rows of other lines of business and of other slabs that must never change,
// LOB and attribute names that need quoting, and VatPer/GSTID values that show
// whether a row was written.
const QString kShopData = R"sql(
insert into lobmaster values (3, 'Toys', 1), (4, 'Stationery', 1), (5, 'Men''s Wear', 0), (6, 'Odd Lot', 0);
insert into attributemaster values (3, 'Fabric Type'), (4, 'Odd]Name');
insert into lobattribute values (5, 3, 1), (6, 4, 1);
insert into Products values (7, 'Hamper XL', 1, 5010, 12), (8, 'Linen Kurta', 2, 5010, 12),
    (9, 'Toy Car', 3, 5010, 5), (10, 'Pen', 4, 5003, 5), (11, 'Blazer', 5, 5010, 12),
    (12, 'Odd Box', 6, 5010, 12), (13, 'Old Kurta', 2, 5003, 5);
insert into FabricMaster values (5, 'Linen', 2, 5010, 12, 0), (6, 'Jute', 3, 5010, 5, 5010);
create table [Fabric TypeMaster] (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                                  VatPer decimal(18,2), GSTID smallint);
insert into [Fabric TypeMaster] values (1, 'Tweed', 5, 5010, 12, 0), (2, 'Wool', 5, 5005, 18, 5005),
    (3, 'Felt', 2, 5010, 5, 5010);
create table "Odd]NameMaster" (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                               VatPer decimal(18,2), GSTID smallint);
insert into "Odd]NameMaster" values (1, 'Odd', 6, 5010, 12, 0), (2, 'Even', 6, 5003, 5, 5003);
)sql";

// Every row the conversion may touch, by table, in a fixed order.
const std::pair<const char*, const char*> kTables[] = {
    {"Products", "select ProductId, LobId, vatid, VatPer from Products order by ProductId"},
    {"FabricMaster", "select Id, lobid, vatid, VatPer, GSTID from FabricMaster order by Id"},
    {"ColourMaster", "select Id, lobid, vatid, VatPer, GSTID from ColourMaster order by Id"},
    {"Fabric TypeMaster", "select Id, lobid, vatid, VatPer, GSTID from [Fabric TypeMaster] order by Id"},
    {"Odd]NameMaster", "select Id, lobid, vatid, VatPer, GSTID from \"Odd]NameMaster\" order by Id"},
};

using Snapshot = std::map<QString, DbRows>;

QString regexLiteral(const QString& text)
{
    QString out;
    for (const QChar ch : text) {
        if (QStringLiteral(".[]()*+?{}|^$\\").contains(ch))
            out += QLatin1Char('\\');
        out += ch;
    }
    return out;
}

std::string boxPattern(const char* icon, const QString& title, const QString& text)
{
    return regexLiteral(QStringLiteral("[msgbox] icon=%1 title=%2 text=%3").arg(icon, title, text))
        .toStdString();
}

const QString kDoneTitle =
    "New GST converted from 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'";

class ConversionTest : public ::testing::Test
{
protected:
    void SetUp() override { gst::msgbox_seam::clear(); }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        window.reset();
        gConnection.reset();
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }

    void createShop(const QString& extra = QString())
    {
        db.createDatabase("talvex", standardRetailData() + kShopData + extra);
    }

    // The window on the shop's database with `lob` chosen and "I Agree" ticked.
    void openWithChoice(const QString& lob)
    {
        connectShared(db, "talvex");
        window = std::make_unique<Form1>();
        window->Form_Load();
        QComboBox* list = window->ui()->Combo1;
        const int index = list->findText(lob);
        ASSERT_GE(index, 0) << lob.toStdString();
        list->setCurrentIndex(index);
        window->Combo1_Click();
        window->ui()->Check1->setChecked(true);
    }

    // In the child: converts `lob` and records the statements sent for the OK
    // button in a file the parent reads afterwards.
    void convertInChild(const QString& lob)
    {
        openWithChoice(lob);
        auto trace = std::make_shared<QFile>(db.folder() + "/trace.txt");
        trace->open(QIODevice::WriteOnly);
        gst::Connection::setTraceHook([trace](const QString& sql) {
            QString line = sql;
            line.replace("\r\n", "\\r\\n");
            trace->write(line.toUtf8() + '\n');
            trace->flush();
        });
        window->Command1_Click();
        gst::endProgram(99); // the conversion returned instead of ending
    }

    QStringList statementsOfChild()
    {
        QFile file(db.folder() + "/trace.txt");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    Snapshot snapshot()
    {
        Snapshot s;
        for (const auto& [table, sql] : kTables)
            s[table] = db.queryRows("talvex", sql);
        return s;
    }

    DbValue slab5019() { return db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"); }

    // The one record the last run wrote; an empty object (and a failure) otherwise.
    QJsonObject onlyRecord()
    {
        const std::vector<QJsonObject> records = runLog.records();
        EXPECT_EQ(records.size(), 1u) << runLog.bytes().toStdString();
        return records.empty() ? QJsonObject() : records.back();
    }

    TestDatabase db;
    RunLogFolder runLog;
    std::unique_ptr<Form1> window;
};

// What every record says about where and when, whatever the outcome.
void expectWhereAndWhen(const QJsonObject& r, const TestDatabase& db)
{
    EXPECT_EQ(r["server"].toString(), db.folder());
    EXPECT_EQ(r["database"].toString(), "talvex");
    EXPECT_FALSE(r["osUser"].toString().isEmpty());
    // Local time with its offset from UTC, to the second.
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$")
                    .match(r["time"].toString())
                    .hasMatch())
        << r["time"].toString().toStdString();
    const QDateTime when = QDateTime::fromString(r["time"].toString(), Qt::ISODate);
    EXPECT_LT(std::abs(when.secsTo(QDateTime::currentDateTime())), 600);
    EXPECT_TRUE(r["durationMs"].isDouble());
    EXPECT_GE(r["durationMs"].toDouble(-1), 0);
    EXPECT_LT(r["durationMs"].toDouble(), 600000);
}

// The rows a run must change: vatid 5019 and VatPer 5, and GSTID 5019 in attribute tables.
Snapshot afterConversion(Snapshot s, const std::map<QString, std::vector<QString>>& changedIds)
{
    for (const auto& [table, ids] : changedIds) {
        for (DbRow& row : s[table]) {
            if (std::find(ids.begin(), ids.end(), row[0].value_or("")) == ids.end())
                continue;
            row[2] = "5019";
            row[3] = "5";
            if (table != "Products")
                row[4] = "5019";
        }
    }
    return s;
}

TEST_F(ConversionTest, SuccessfulRunsChangeExactlyTheRowsOfTheLineOnTheOldSlab)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    struct Case {
        const char* lob;
        const char* extra;
        std::map<QString, std::vector<QString>> changed;
        QStringList statements; // from the refusal test on; the insert is checked elsewhere
    };
    const QStringList commit{"COMMIT"};
    const Case cases[] = {
        {"Grocery", "", {{"Products", {"3", "4", "7"}}}, okStatements(1, "", commit)},
        // Products of an attribute-wise line already on 5019 do not stop it.
        {"Apparel",
         "insert into Products values (20, 'Pre', 2, 5019, 5);",
         {{"Products", {"5", "8"}}, {"FabricMaster", {"1", "3", "5"}}},
         okStatements(2, "[FabricMaster]", commit)},
        {"Men's Wear",
         "",
         {{"Products", {"11"}}, {"Fabric TypeMaster", {"1"}}},
         okStatements(5, "[Fabric TypeMaster]", commit)},
        {"Odd Lot",
         "",
         {{"Products", {"12"}}, {"Odd]NameMaster", {"1"}}},
         okStatements(6, "\"Odd]NameMaster\"", commit)},
        // Nothing on 5010: still "Done".
        {"Stationery", "", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lob);
        createShop(c.extra);
        const Snapshot before = snapshot();
        EXPECT_EXIT(convertInChild(c.lob), ExitedWithCode(gst::kExitDone),
                    boxPattern("none", kDoneTitle, "Done"));
        EXPECT_EQ(snapshot(), afterConversion(before, c.changed));
        EXPECT_EQ(slab5019(), DbValue("1"));

        // The record counts exactly the rows that changed in each updated table.
        QJsonObject rows{{"products", 0}};
        for (const auto& [table, ids] : c.changed)
            rows[table == "Products" ? QString("products") : table] = static_cast<int>(ids.size());
        const QJsonObject r = onlyRecord();
        expectWhereAndWhen(r, db);
        EXPECT_EQ(r["rows"].toObject(), rows);
        EXPECT_EQ(r["result"].toString(), "done");
        EXPECT_EQ(r["outcome"].toString(), "Done");
        EXPECT_EQ(r["lob"].toString(), c.lob);
        EXPECT_EQ(r["lobId"].toInt(), db.scalar("talvex", "select lobid from lobmaster where name = " +
                                                              TestDatabase::sqlQuote(c.lob))
                                          ->toInt());
        const bool productWise = db.scalar("talvex", "select productwisevat from lobmaster where name = " +
                                                         TestDatabase::sqlQuote(c.lob)) == DbValue("1");
        EXPECT_EQ(r["gst"].toString(), productWise ? "product-wise" : "attribute");
        EXPECT_EQ(r.contains("valueTable"), !productWise);
        EXPECT_FALSE(r.contains("errorNumber"));
        runLog.clear();

        const QStringList sent = statementsOfChild();
        ASSERT_GE(sent.size(), 3);
        EXPECT_TRUE(sent[0].startsWith("Select ProductWiseVat From LobMaster Where LobId="))
            << sent[0].toStdString();
        EXPECT_EQ(sent[1], "select count(*) from vatmaster where vatid = 5019 ");
        EXPECT_TRUE(sent[2].startsWith("insert into vatmaster \\r\\n (VATID,")) << sent[2].toStdString();
        if (!c.statements.isEmpty()) {
            EXPECT_EQ(sent.mid(3), c.statements);
        }
    }
}

TEST_F(ConversionTest, RefusalsEndBeforeAnyRowChangesButKeepTheNewSlabRecord)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    const QString cannotRun =
        "This utility cannot run!\\nSome %1 already have GST type 'GST 5% (18% above Rs "
        "1000)' assigned to them.";
    const QString noTable = "Unable to find Table Name entry for GST Attribute! Please contact Norvane.";
    struct Case {
        const char* name;
        const char* lob;
        const char* extra;
        QString title;
        QString text;
        bool recordStays;
    };
    const Case cases[] = {
        {"products on 5019", "Grocery", "insert into Products values (20, 'Pre', 1, 5019, 5);", "Products",
         cannotRun.arg("Products"), true},
        {"attribute rows on 5019", "Apparel",
         "insert into FabricMaster values (20, 'Pre', 2, 5019, 5, 5019);", "Fabric",
         cannotRun.arg("attributes"), true},
        {"no taxable attribute", "Apparel", "update lobattribute set vatable = 0;", "0", noTable, true},
        {"value table missing", "Apparel",
         "update lobattribute set vatable = 0 where lobid = 2; insert into attributemaster values (9, "
         "'Pattern');"
         "insert into lobattribute values (2, 9, 1);",
         "Pattern", noTable, true},
        {"record gone after the insert", "Grocery",
         "create trigger vanish after insert on vatmaster begin delete from vatmaster where VATID = 5019; "
         "end;",
         gst::kAppTitle,
         "Unable to find GST entry with name 'GST 5% (18% above Rs 1000)'! Please contact Norvane.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        createShop(c.extra);
        const Snapshot before = snapshot();
        EXPECT_EXIT(convertInChild(c.lob), ExitedWithCode(gst::kExitRefused),
                    boxPattern("critical", c.title, c.text));
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(slab5019(), DbValue(c.recordStays ? "1" : "0"));
        EXPECT_FALSE(statementsOfChild().join('\n').contains("update")) << "an update was sent";

        const QJsonObject r = onlyRecord();
        expectWhereAndWhen(r, db);
        EXPECT_EQ(r["result"].toString(), "refused");
        EXPECT_EQ(r["outcome"].toString(), QString(c.text).replace("\\n", "\r\n"));
        EXPECT_EQ(r["rows"].toObject(), QJsonObject());
        EXPECT_EQ(r["lob"].toString(), c.lob);
        runLog.clear();
    }
}

TEST_F(ConversionTest, FailingUpdateRollsBackBothTablesAndLeavesTheWindowOpen)
{
    createShop("create trigger products_locked before update on Products "
               "begin select raise(abort, 'Products are locked'); end;");
    const Snapshot before = snapshot();
    openWithChoice("Apparel");
    window->show();
    QStringList sent;
    bool waitCursorInTransaction = false;
    gst::Connection::setTraceHook([&](const QString& sql) {
        sent << sql;
        if (sql == "BEGIN TRANSACTION")
            waitCursorInTransaction =
                QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });

    window->Command1_Click();

    ASSERT_EQ(gst::msgbox_seam::shown().size(), 2u);
    const gst::ShownBox& box = gst::msgbox_seam::shown()[1];
    EXPECT_EQ(box.text, "Try Again");
    EXPECT_EQ(box.title, "Not Successful for 'Apparel'");
    EXPECT_EQ(box.icon, MsgIcon::Critical);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(slab5019(), DbValue("1")); // the record was inserted before the transaction
    EXPECT_EQ(
        sent.mid(sent.indexOf("BEGIN TRANSACTION")),
        QStringList({"BEGIN TRANSACTION",
                     "update [FabricMaster] set vatid=5019,VatPer=5,GSTID=5019  where lobid=2 and vatid=5010",
                     "update products set vatid=5019 ,VatPer=5 where lobid=2 and vatid=5010", "ROLLBACK"}));
    EXPECT_TRUE(waitCursorInTransaction);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(gConnection->inTransaction());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->ui()->Command1->isEnabled());
    // Recorded with the error behind "Try Again"; nothing moved.
    QJsonObject r = onlyRecord();
    expectWhereAndWhen(r, db);
    EXPECT_EQ(r["result"].toString(), "failed");
    EXPECT_EQ(r["errorNumber"].toDouble(), -2147217900.0);
    EXPECT_TRUE(r["outcome"].toString().contains("Products are locked"))
        << r["outcome"].toString().toStdString();
    EXPECT_EQ(r["rows"].toObject(), QJsonObject());
    EXPECT_EQ(r["lob"].toString(), "Apparel");
    EXPECT_EQ(r["gst"].toString(), "attribute");
    EXPECT_EQ(r["attribute"].toString(), "Fabric");
    EXPECT_EQ(r["valueTable"].toString(), "FabricMaster");

    // Choosing a line again enables OK; a typed name is what the next failure names.
    emit window->ui()->Combo1->activated(window->ui()->Combo1->currentIndex());
    EXPECT_TRUE(window->ui()->Command1->isEnabled());
    window->ui()->Combo1->setEditText("Typed Name");
    gst::msgbox_seam::clear();
    window->Command1_Click();
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 2u);
    EXPECT_EQ(gst::msgbox_seam::shown()[1].title, "Not Successful for 'Typed Name'");
    EXPECT_EQ(snapshot(), before);
    // Each run has its record; it names the line chosen, not the text typed since.
    const std::vector<QJsonObject> records = runLog.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["result"].toString(), "failed");
    EXPECT_EQ(records[1]["lob"].toString(), "Apparel");
}

TEST_F(ConversionTest, FailureWithASingleLineNamesIt)
{
    db.createDatabase("talvex", "insert into lobmaster values (7, 'Footwear', 1);"
                                "insert into Products values (1, 'Sandal', 7, 5010, 12);"
                                "create trigger products_locked before update on Products "
                                "begin select raise(abort, 'Products are locked'); end;");
    connectShared(db, "talvex");
    window = std::make_unique<Form1>();
    window->Form_Load();
    window->ui()->Check1->setChecked(true);
    window->Command1_Click();
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 2u);
    EXPECT_EQ(gst::msgbox_seam::shown()[1].title, "Not Successful for 'Footwear'");
    EXPECT_EQ(db.queryRows("talvex", "select vatid, VatPer from Products"), DbRows({{"5010", "12"}}));
    // The hidden list offers nothing to choose: OK is enabled again, and the
    // operator tries again without a restart, this time to "Done".
    ASSERT_TRUE(window->ui()->Command1->isEnabled());
    db.exec("talvex", "drop trigger products_locked");
    const reliability::ChildOutcome retry = reliability::runChild([&] { window->ui()->Command1->click(); });
    EXPECT_EQ(retry.exitCode, gst::kExitDone) << retry.describe().toStdString();
    EXPECT_EQ(db.queryRows("talvex", "select vatid, VatPer from Products"), DbRows({{"5019", "5"}}));
}

TEST_F(ConversionTest, UntickedBoxOrNoSendsNothing)
{
    createShop();
    openWithChoice("Grocery");
    QStringList sent;
    gst::Connection::setTraceHook([&](const QString& sql) { sent << sql; });

    window->ui()->Check1->setChecked(false);
    window->Command1_Click();
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 1u);
    EXPECT_EQ(gst::msgbox_seam::shown()[0].text, "Please tick the 'I Agree' checkbox before proceeding");
    EXPECT_EQ(gst::msgbox_seam::shown()[0].title,
              "'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'");
    EXPECT_EQ(gst::msgbox_seam::shown()[0].icon, MsgIcon::Information);

    gst::msgbox_seam::clear();
    window->ui()->Check1->setChecked(true);
    gst::msgbox_seam::queueAnswer(MsgAnswer::No);
    window->Command1_Click();
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 1u);
    const gst::ShownBox& confirm = gst::msgbox_seam::shown()[0];
    EXPECT_EQ(confirm.text, "Are you sure? This process is NOT Reversible!");
    EXPECT_EQ(confirm.title, "Be VERY CAREFUL");
    EXPECT_EQ(confirm.icon, MsgIcon::None);
    EXPECT_EQ(confirm.buttons, gst::MsgButtons::YesNo);

    EXPECT_TRUE(sent.isEmpty()) << sent.join(" | ").toStdString();
    EXPECT_TRUE(window->ui()->Command1->isEnabled());
    EXPECT_EQ(slab5019(), DbValue("0"));
}

TEST_F(ConversionTest, DatabaseErrorBeforeTheTransactionIsReportedAndEnds)
{
    GTEST_FLAG_SET(death_test_style, "fast"); // the child writes the record the parent reads
    createShop("drop table vatmaster;");
    openWithChoice("Grocery");
    EXPECT_EXIT(window->ui()->Command1->click(), ExitedWithCode(gst::kExitError),
                regexLiteral("[msgbox] icon=critical title=gstconvert text=Run-time error '-2147217900':")
                    .toStdString());
    const QJsonObject r = onlyRecord();
    EXPECT_EQ(r["result"].toString(), "failed");
    EXPECT_EQ(r["errorNumber"].toDouble(), -2147217900.0);
    EXPECT_TRUE(r["outcome"].toString().contains("vatmaster")) << r["outcome"].toString().toStdString();
    EXPECT_EQ(r["gst"].toString(), "product-wise");
}

// A record that cannot be written changes nothing of the run: same rows, same
// box, same exit code, no wait; stderr says so once. Nothing is written
// through a link or into a pipe.
TEST_F(ConversionTest, UnwritableRunLogLeavesTheRunAsItWas)
{
    struct Case {
        const char* name;
        std::function<void(const QString& dataHome)> spoil;
    };
    const QString elsewhere = db.folder() + "/elsewhere.txt";
    const Case cases[] = {
        {"the folder is a file",
         [](const QString& home) { QFile(home + "/talvex").open(QIODevice::WriteOnly); }},
        {"the data folder lies under a file",
         [](const QString& home) {
             QFile(home + "/blocked").open(QIODevice::WriteOnly);
             qputenv("XDG_DATA_HOME", QFile::encodeName(home + "/blocked/share"));
         }},
        {"the log is a folder", [](const QString& home) { QDir().mkpath(home + "/talvex/gstconvert.log"); }},
        {"the log is a link to another file",
         [&](const QString& home) {
             QDir().mkpath(home + "/talvex");
             QFile::link(elsewhere, home + "/talvex/gstconvert.log");
         }},
        {"the log is a pipe nobody reads",
         [](const QString& home) {
             QDir().mkpath(home + "/talvex");
             filekinds::makePipe(home + "/talvex/gstconvert.log");
         }},
        {"the folder is read-only", [](const QString& home) {
             QDir().mkpath(home + "/talvex");
             QFile::setPermissions(home + "/talvex", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
         }}};
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        if ((name == "the folder is read-only" && (filekinds::superuser() || !filekinds::kFileModes)) ||
            (name == "the log is a pipe nobody reads" && !filekinds::makePipe(db.folder() + "/probe-pipe")) ||
            (name == "the log is a link to another file" && !filekinds::kSymbolicLinks)) {
            std::printf("skipped here: %s (not possible on this system or for this user)\n", c.name);
            continue;
        }
        QFile target(elsewhere);
        ASSERT_TRUE(target.open(QIODevice::WriteOnly));
        target.write("untouched\n");
        target.close();
        const QString home = db.folder() + "/data-" + QString::number(&c - cases);
        QDir().mkpath(home);
        qputenv("XDG_DATA_HOME", QFile::encodeName(home));
        c.spoil(home);
        createShop();

        const reliability::ChildOutcome run =
            reliability::runChild([&] { convertInChild("Grocery"); }, 30000);

        qputenv("XDG_DATA_HOME", dataHome);
        EXPECT_FALSE(run.timedOut);
        EXPECT_TRUE(run.exited && run.exitCode == gst::kExitDone) << run.describe().toStdString();
        EXPECT_EQ(run.boxes(),
                  QStringList({reliability::boxLine("none", "Be VERY CAREFUL",
                                                    "Are you sure? This process is NOT Reversible!"),
                               reliability::boxLine("none", kDoneTitle, "Done")}));
        EXPECT_EQ(run.err.count("the record of this run could not be written"), 1) << run.err.toStdString();
        EXPECT_EQ(
            db.queryRows("talvex", "select ProductId from Products where vatid = 5019 order by ProductId"),
            DbRows({{"3"}, {"4"}, {"7"}}));
        QFile check(elsewhere);
        ASSERT_TRUE(check.open(QIODevice::ReadOnly));
        EXPECT_EQ(check.readAll(), "untouched\n");
    }
}

TEST(QuoteIdentifier, BracketsWithClosingBracketDoubledOrDoubleQuotesOnSqlite)
{
    struct Case {
        const char* name;
        bool sqlite;
        const char* quoted;
    };
    const Case cases[] = {
        {"FabricMaster", false, "[FabricMaster]"},
        {"FabricMaster", true, "[FabricMaster]"},
        {"Fabric TypeMaster", true, "[Fabric TypeMaster]"},
        {"Odd]NameMaster", false, "[Odd]]NameMaster]"},
        {"Odd]NameMaster", true, "\"Odd]NameMaster\""},
        {"A]\"BMaster", true, "\"A]\"\"BMaster\""},
        {"x]; drop table Products; --", false, "[x]]; drop table Products; --]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(conversion::quoteIdentifier(c.name, c.sqlite), QString::fromUtf8(c.quoted)) << c.name;
}

} // namespace
