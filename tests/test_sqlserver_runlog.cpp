// The run record of conversions on SQL Server, through the real FreeTDS driver
// and the TDS peer: each update's count is the one the server's DONE token
// carried, no statement is added to learn it, and a server error is recorded
// with its number and text.
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/RunLogFolder.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "widgets/MessageBox.h"

#include <QJsonObject>
#include <gtest/gtest.h>
#include <optional>

using namespace reliability;

namespace
{

const QString kSaPassword = QStringLiteral("Sa-Passw0rd");

// In the child: starts like the program on the peer, chooses `lob`, agrees and clicks OK.
void convert(const QString& lob)
{
    gDatabaseName = QStringLiteral("talvex");
    ConnectDatabase();
    auto* window = new Form1;
    window->Form_Load();
    window->show();
    QComboBox* list = window->ui()->Combo1;
    list->setCurrentIndex(list->findText(lob));
    emit list->activated(list->currentIndex());
    window->ui()->Check1->setChecked(true);
    window->ui()->Command1->click();
}

TEST(SqlServerRunLog, CountsAreTheServersAndAFailureIsRecordedWithTheServersError)
{
    struct Case {
        const char* name;
        const char* lob;
        const char* extra; // more rows and triggers in the database behind the peer
        std::optional<TdsPeer::Fault> fault;
        int exitCode;
        QJsonObject rows;
        QStringList changed;  // ProductIds on 5019 afterwards
        bool noCount = false; // the server's sessions start with SET NOCOUNT ON
    };
    // The trigger puts product 4 back on the old slab after the update has
    // moved it: the database ends with two products moved, while the server's
    // count for the update statement itself is three. The record shows the
    // server's count: it is not read back from the database.
    const char* revert = "create trigger keep_four after update on Products when new.ProductId = 4 "
                         "begin update Products set vatid = 5010 where ProductId = 4; end;";
    const Case cases[] = {
        {"product-wise", "Grocery", "", std::nullopt, gst::kExitDone, {{"products", 3}}, {"3", "4", "7"}},
        {"attribute-wise",
         "Apparel",
         "",
         std::nullopt,
         gst::kExitDone,
         {{"FabricMaster", 3}, {"products", 2}},
         {"5", "8"}},
        {"nothing on the old slab", "Stationery", "", std::nullopt, gst::kExitDone, {{"products", 0}}, {}},
        {"the server's count, not the rows found afterwards", "Grocery", revert, std::nullopt, gst::kExitDone,
         QJsonObject{{"products", 3}}, QStringList{"3", "7"}},
        {"deadlock on the products update", "Grocery", "", TdsPeer::Fault::error(1205, "^update products"),
         kChildReturned, QJsonObject(), QStringList()},
        {"a server that counts nothing (NOCOUNT)", "Apparel", "", std::nullopt, gst::kExitDone,
         QJsonObject{{"FabricMaster", "unknown"}, {"products", "unknown"}}, QStringList{"5", "8"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDatabase db;
        db.createDatabase("talvex", standardRetailData() +
                                        "insert into lobmaster values (4, 'Stationery', 1);"
                                        "insert into Products values (7, 'Hamper XL', 1, 5010, 12), "
                                        "(8, 'Linen Kurta', 2, 5010, 12), (10, 'Pen', 4, 5003, 5);"
                                        "insert into FabricMaster values (5, 'Linen', 2, 5010, 12, 0);" +
                                        c.extra);
        TdsPeer peer(db.folder());
        peer.setAcceptedLogin("sa", kSaPassword);
        if (c.fault)
            peer.addFault(*c.fault);
        peer.setNoCount(c.noCount);
        peer.start();
        db.writeLoginSettings(peer.serverName(), kSaPassword, "FreeTDS");
        RunLogFolder runLog;

        const ChildOutcome run = runChild([&] { convert(c.lob); }, 60000);
        if (replaying())
            continue;

        ASSERT_TRUE(run.exited && run.exitCode == c.exitCode) << run.describe().toStdString();
        const std::vector<QJsonObject> records = runLog.records();
        ASSERT_EQ(records.size(), 1u) << runLog.bytes().toStdString();
        const QJsonObject& r = records[0];
        EXPECT_EQ(r["server"].toString(), peer.serverName());
        EXPECT_EQ(r["database"].toString(), "talvex");
        EXPECT_EQ(r["rows"].toObject(), c.rows);
        if (c.fault) {
            EXPECT_EQ(run.lastBox(), boxLine("critical", "Not Successful for 'Grocery'", "Try Again"));
            EXPECT_EQ(r["result"].toString(), "failed");
            EXPECT_EQ(r["errorNumber"].toDouble(), -2147217900.0);
            EXPECT_TRUE(r["outcome"].toString().contains("deadlocked"))
                << r["outcome"].toString().toStdString();
        } else {
            EXPECT_EQ(r["result"].toString(), "done");
        }
        QStringList moved;
        for (const DbRow& row : db.queryRows("talvex", "select ProductId from Products where vatid = 5019 "
                                                       "order by ProductId"))
            moved << row.at(0).value_or("NULL");
        EXPECT_EQ(moved, c.changed);

        // Nothing was asked to learn the counts: the updates are followed by
        // the end of the transaction and nothing else (after a deadlock, the
        // transaction opened for the driver to end).
        const QStringList sent = peer.statements();
        qsizetype last = sent.size() - 1;
        while (last >= 0 && !sent[last].startsWith("update "))
            --last;
        ASSERT_GE(last, 0) << sent.join("\n").toStdString();
        for (const QString& after : sent.mid(last + 1))
            EXPECT_TRUE(after.startsWith("COMMIT TRANSACTION") || after.startsWith("ROLLBACK TRANSACTION") ||
                        (c.fault && after == "BEGIN TRANSACTION"))
                << after.toStdString();
        EXPECT_FALSE(runLog.bytes().contains(kSaPassword.toUtf8()));
    }
}

} // namespace
