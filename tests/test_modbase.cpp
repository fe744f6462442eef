#include "platform/Error.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"

#include <QComboBox>
#include <gtest/gtest.h>

using gst::AppError;
using gst::Value;

namespace
{

class ModBaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("t", "create table r(name varchar(50), id int, d datetime);"
                               "insert into r values (' Grocery ', 10, '2019-04-01 00:00:00');"
                               "insert into r values ('Apparel', 20, NULL);"
                               "insert into r values (NULL, 30, NULL);"
                               "insert into r values ('Footwear', NULL, NULL);"
                               "create table e(name varchar(50), id int);");
        connectShared(db, "t");
    }
    void TearDown() override { gConnection.reset(); }
    TestDatabase db;
};

TEST_F(ModBaseTest, GetScalarAnswersFirstValueOrZero)
{
    struct Case {
        const char* sql;
        QString expected; // debug form
    };
    const Case cases[] = {
        {"select name from e", "Integer(0)"},                       // no row
        {"select d from r where id = 20", "Integer(0)"},            // NULL
        {"select count(*) from r", "Integer(4)"},                   // a count
        {"select id, name from r order by id desc", "Integer(30)"}, // first row and column only
        {"select name from r where id = 10", "Text( Grocery )"},    // untrimmed
        {"select d from r where id = 10", "DateTime(2019-04-01T00:00:00.000Z)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(GetScalar(c.sql).debugString(), c.expected);
        EXPECT_EQ(sharedOpenStatements(), 0);
    }
}

TEST_F(ModBaseTest, GetScalarPassesErrorsAndLeavesNothingOpen)
{
    try {
        GetScalar("selec name from r");
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kCommandError);
    }
    EXPECT_EQ(sharedOpenStatements(), 0);
    EXPECT_EQ(GetScalar("select id from r where name = ?", {QString(" Grocery ")}).toInt32(), 10);
}

TEST_F(ModBaseTest, FillComboOneColumnTrimsKeepsOrderAndShowsFirst)
{
    QComboBox list;
    list.setEditable(true);
    list.addItem("stale");
    FillCombo(&list, "select name from r order by rowid");
    ASSERT_EQ(list.count(), 3); // the NULL name gives no item
    EXPECT_EQ(list.itemText(0), "Grocery");
    EXPECT_EQ(list.itemText(1), "Apparel");
    EXPECT_EQ(list.itemText(2), "Footwear");
    EXPECT_FALSE(list.itemData(0).isValid()); // one column: no numbers
    EXPECT_EQ(list.currentText(), "Grocery");
    EXPECT_EQ(sharedOpenStatements(), 0);
}

TEST_F(ModBaseTest, FillComboTwoColumnsAttachesNumbersAndSelectsFirstOnce)
{
    QComboBox list;
    int selections = 0;
    int openDuringSelection = -1;
    std::int32_t numberAtSelection = -1;
    QObject::connect(&list, qOverload<int>(&QComboBox::currentIndexChanged), [&](int index) {
        ++selections;
        openDuringSelection = sharedOpenStatements();
        numberAtSelection = comboItemNumber(&list, index);
        // The handler may query the same connection.
        GetScalar("select count(*) from r");
    });
    FillCombo(&list, "select name, id from r order by rowid");
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(comboItemNumber(&list, 0), 10);
    EXPECT_EQ(comboItemNumber(&list, 1), 20);
    EXPECT_FALSE(list.itemData(2).isValid()); // Footwear has a NULL id
    EXPECT_EQ(list.currentIndex(), 0);
    EXPECT_EQ(selections, 1);
    EXPECT_EQ(openDuringSelection, 0);
    EXPECT_EQ(numberAtSelection, 10);
}

TEST_F(ModBaseTest, FillComboEmptyResultLeavesListEmptyAndTextUnset)
{
    QComboBox list;
    list.setEditable(true);
    list.addItem("old");
    list.setEditText("typed");
    FillCombo(&list, "select name from e");
    EXPECT_EQ(list.count(), 0);
    EXPECT_NE(list.currentText(), "old");
}

TEST_F(ModBaseTest, FillComboFailuresBeforeTheFirstItemPassOnAfterwardsAreIgnored)
{
    QComboBox list;
    EXPECT_THROW(FillCombo(&list, "select name from nosuch"), AppError);
    EXPECT_EQ(sharedOpenStatements(), 0);
    // A number that does not fit 32 bits is left unset; the item stays.
    db.exec("t", "insert into e values ('Big', 3000000000); insert into e values ('Small', 5);");
    FillCombo(&list, "select name, id from e order by rowid");
    ASSERT_EQ(list.count(), 2);
    EXPECT_FALSE(list.itemData(0).isValid());
    EXPECT_EQ(comboItemNumber(&list, 1), 5);
}

TEST(TrimSpaces, OnlyBlanksAreRemoved)
{
    EXPECT_EQ(TrimSpaces("  admin  "), "admin");
    EXPECT_EQ(TrimSpaces("\tadmin"), "\tadmin");
    EXPECT_EQ(TrimSpaces("   "), "");
}

} // namespace
