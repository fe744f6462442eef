// Tax record 5019 and the operation that inserts it when it is missing.
#include "conversion/NewGstSlab.h"
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"

#include <gtest/gtest.h>

namespace
{

const QString kCount = "select count(*) from vatmaster where vatid = 5019 ";

// Written out from the shop's statement, one piece per line.
const QString kInsert =
    QString("insert into vatmaster ") + "\r\n" +
    " (VATID,VATName         ,VATPer    "
    ",SortIndex,MarginVat,Sendable,RegionalName,EnabledForCST,RDExempt,CessBasedOn,CessPer,CessAmtPerUnit,"
    "SGSTPer,CGSTPer,IGSTPer,UTGSTPer,SlabApplicable,SlabQuery,Disabled,RateQuery,caption) " +
    "\r\n" + " Values " + "\r\n" +
    " (5019,'GST 5% (18% above Rs 1000)', 5.0000,5019     ,   0      ,    1    , ''        ,0            ,0  "
    "     ,1          ,   0,0     ,2.50 ,2.50,5,2.50, 1               ,'select (case @additional when 1 then "
    "(case when @rate>1000 then 5005 else 5003 end) when 0 then (case when @rate>1180 then 5005 else 5003 "
    "end) end)'       ,0 ,'select (case when @rate>1050 and @rate<=1120 then 1050  else @rate end)'      ,   "
    " ''     ) ";

const QString kRecord =
    "select VATID, VATName, VATPer, SortIndex, MarginVat, Sendable, RegionalName, EnabledForCST, "
    "RDExempt, CessBasedOn, CessPer, CessAmtPerUnit, SGSTPer, CGSTPer, IGSTPer, UTGSTPer, "
    "SlabApplicable, SlabQuery, Disabled, RateQuery, caption from vatmaster where VATID = 5019";

class NewGstSlab : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("talvex", standardRetailData());
        connectShared(db, "talvex");
        gst::Connection::setTraceHook([this](const QString& sql) { sent << sql; });
    }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        gConnection.reset();
    }
    TestDatabase db;
    QStringList sent;
};

TEST_F(NewGstSlab, MissingRecordIsInsertedWithItsTwentyOneValues)
{
    const DbRows before = db.queryRows("talvex", "select * from vatmaster order by VATID");
    EnsureNewGstSlab();
    EXPECT_EQ(sent, QStringList({kCount, kInsert}));
    EXPECT_FALSE(gConnection->inTransaction());

    const DbRows rows = db.queryRows("talvex", kRecord);
    ASSERT_EQ(rows.size(), 1u);
    const DbRow expected = {"5019",
                            "GST 5% (18% above Rs 1000)",
                            "5",
                            "5019",
                            "0",
                            "1",
                            "",
                            "0",
                            "0",
                            "1",
                            "0",
                            "0",
                            "2.5",
                            "2.5",
                            "5",
                            "2.5",
                            "1",
                            "select (case @additional when 1 then (case when @rate>1000 then 5005 else 5003 "
                            "end) when 0 then (case "
                            "when @rate>1180 then 5005 else 5003 end) end)",
                            "0",
                            "select (case when @rate>1050 and @rate<=1120 then 1050  else @rate end)",
                            ""};
    ASSERT_EQ(rows[0].size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(rows[0][i], expected[i]) << "column " << i + 1;
    // The other slabs are as they were.
    EXPECT_EQ(db.queryRows("talvex", "select * from vatmaster where VATID <> 5019 order by VATID"), before);
}

TEST_F(NewGstSlab, SecondCallInsertsNothing)
{
    EnsureNewGstSlab();
    sent.clear();
    EnsureNewGstSlab();
    EXPECT_EQ(sent, QStringList({kCount}));
    EXPECT_EQ(db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"), DbValue("1"));
}

TEST_F(NewGstSlab, ExistingRecordIsLeftAsItIs)
{
    db.exec("talvex",
            "insert into vatmaster (VATID, VATName, VATPer, SortIndex) values (5019, 'Local 5019', 12, 7)");
    const DbRows before = db.queryRows("talvex", "select * from vatmaster order by VATID");
    EnsureNewGstSlab();
    EXPECT_EQ(sent, QStringList({kCount}));
    EXPECT_EQ(db.queryRows("talvex", "select * from vatmaster order by VATID"), before);
}

TEST_F(NewGstSlab, FailingInsertPassesTheErrorAndAddsNothing)
{
    db.exec("talvex", "create trigger no_new_slabs before insert on vatmaster "
                      "begin select raise(abort, 'vatmaster is closed'); end;");
    try {
        EnsureNewGstSlab();
        FAIL() << "no error";
    } catch (const gst::AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kCommandError);
        EXPECT_TRUE(e.description().contains("vatmaster is closed")) << e.description().toStdString();
    }
    EXPECT_EQ(db.scalar("talvex", "select count(*) from vatmaster where VATID = 5019"), DbValue("0"));
}

} // namespace
