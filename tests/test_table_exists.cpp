// The catalog question behind the check for an attribute's value table.
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"

#include <gtest/gtest.h>

namespace
{

class TableExists : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("t", "create table FabricMaster (lobid int);"
                               "create table [Fabric TypeMaster] (lobid int);"
                               "create table \"Odd]NameMaster\" (lobid int);"
                               "create table [Men's WearMaster] (lobid int);"
                               "create table Fabric_XMaster (lobid int);"
                               "create view ColourMaster as select 1 as lobid;");
        connectShared(db, "t");
    }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        gConnection.reset();
    }
    TestDatabase db;
};

TEST_F(TableExists, AnswersByNameWithoutRegardToCase)
{
    struct Case {
        const char* name;
        bool exists;
    };
    const Case cases[] = {
        {"FabricMaster", true},      {"fabricmaster", true},
        {"Fabric TypeMaster", true}, {"Odd]NameMaster", true},
        {"Men's WearMaster", true},  {"ColourMaster", true}, // a view
        {"0Master", false},          {"Master", false},
        {"Fabric", false},           {"FabricMaster2", false},
        {"Fabric%", false},                                    // wildcards match only themselves
        {"FabricXXMaster", false},   {"Fabric_Master", false}, // "_" is not any character
        {"Fabric_XMaster", true},    {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gConnection->tableExists(QString::fromUtf8(c.name)), c.exists) << c.name;
}

TEST_F(TableExists, SendsNoStatementTextAndLeavesNothingOpen)
{
    QStringList sent;
    gst::Connection::setTraceHook([&](const QString& sql) { sent << sql; });
    ASSERT_TRUE(gConnection->tableExists("FabricMaster"));
    EXPECT_TRUE(sent.isEmpty()) << sent.join(" | ").toStdString();
    EXPECT_EQ(gConnection->openStatementCount(), 0);
    // The catalog statement is closed: the table can be dropped on the same connection.
    gConnection->execute("drop table FabricMaster");
    EXPECT_FALSE(gConnection->tableExists("FabricMaster"));
}

TEST(TableExistsClosed, ClosedConnectionIsAnError)
{
    gst::Connection closed;
    EXPECT_THROW(closed.tableExists("FabricMaster"), gst::AppError);
}

} // namespace
