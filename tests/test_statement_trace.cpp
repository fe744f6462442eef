// Every statement the conversion window sends, from its loading through the
// operator's choice, OK and Yes to "Done" (or a refusal), recorded by the ODBC
// layer's trace hook: exactly these, in this order, and no other round trip.
// Each run ends the program, so it runs in a forked child ("fast" death test)
// that writes the trace to a file in the test's folder for the parent to read.
#include "conversion/Form1.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "support/WindowTesting.h"
#include "ui_Form1.h"
#include "widgets/MessageBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <memory>

using ::testing::ExitedWithCode;

namespace
{

// The new slab's record, as the shop's tools keep the statement.
const QString kInsertNewSlab =
    "insert into vatmaster \r\n"
    " (VATID,VATName         ,VATPer    ,SortIndex,MarginVat,Sendable,RegionalName,EnabledForCST,RDExempt,"
    "CessBasedOn,CessPer,CessAmtPerUnit,SGSTPer,CGSTPer,IGSTPer,UTGSTPer,SlabApplicable,SlabQuery,Disabled,"
    "RateQuery,caption) \r\n"
    " Values \r\n"
    " (5019,'GST 5% (18% above Rs 1000)', 5.0000,5019     ,   0      ,    1    , ''        ,0            ,0  "
    "     ,1          ,   0,0     ,2.50 ,2.50,5,2.50, 1               ,'select (case @additional when 1 then "
    "(case when @rate>1000 then 5005 else 5003 end) when 0 then (case when @rate>1180 then 5005 else 5003 "
    "end) "
    "end)'       ,0 ,'select (case when @rate>1050 and @rate<=1120 then 1050  else @rate end)'      ,    ''  "
    "   ) ";

// A list with several lines of business: the count, then the list is filled;
// choosing a name looks its id up with the name bound.
const QStringList kListLoadAndChoice = {
    "select count(*) from lobmaster ",
    "select name from lobmaster order by lobid",
    "select lobid from lobmaster where name=?",
};

QString attributeLookup(int lob)
{
    return QString("select name from lobattribute la, attributemaster am where la.attributeid=am.attributeid "
                   "and la.vatable=1 and lobid=%1")
        .arg(lob);
}

const QString kDoneBox =
    "\\[msgbox\\] icon=none title=New GST converted from 'GST 5% \\(18% above Rs 500\\)' to "
    "'GST 5% \\(18% above Rs 1000\\)' text=Done";

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

class StatementTraceTest : public ::testing::Test
{
protected:
    void SetUp() override { gst::msgbox_seam::clear(); }
    void TearDown() override { gst::Connection::setTraceHook(nullptr); }

    QString traceFile() const { return db.folder() + "/statements.txt"; }

    // In the child: the window opens as the login window opens it, the
    // operator picks `lob` from the list (none when the list is hidden), ticks
    // "I Agree", presses OK and answers Yes.
    void runWindowInChild(const char* lob)
    {
        connectShared(db, "talvex");
        auto file = std::make_shared<QFile>(traceFile());
        if (!file->open(QIODevice::WriteOnly))
            gst::endProgram(98);
        // One statement a line, percent-encoded so that CR LF inside survives;
        // flushed at once, since the program ends without closing files.
        gst::Connection::setTraceHook([file](const QString& sql) {
            file->write(sql.toUtf8().toPercentEncoding() + '\n');
            file->flush();
        });
        gst::msgbox_seam::queueAnswer(gst::MsgAnswer::Yes);

        Form1* window = Form1::openConversionWindow();
        if (lob) {
            QComboBox* list = window->ui()->Combo1;
            const int row = list->findText(lob);
            list->showPopup();
            QAbstractItemView* view = list->view();
            if (row < 0 || !waitUntil([&] { return view->isVisible(); }))
                gst::endProgram(97);
            const QPoint at = view->visualRect(view->model()->index(row, list->modelColumn())).center();
            sendMouse(view->viewport(), QEvent::MouseMove, at);
            sendMouse(view->viewport(), QEvent::MouseButtonPress, at);
            sendMouse(view->viewport(), QEvent::MouseButtonRelease, at);
            waitUntil([&] { return !view->isVisible(); });
        }
        window->ui()->Check1->click();
        window->ui()->Command1->click();
        gst::endProgram(99); // the conversion returned instead of ending
    }

    QStringList recorded() const
    {
        QFile file(traceFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList statements;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                statements << QString::fromUtf8(QByteArray::fromPercentEncoding(line));
        return statements;
    }

    TestDatabase db;
};

TEST_F(StatementTraceTest, WholeRunsSendExactlyTheirStatements)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    const QString singleLine =
        "insert into lobmaster values (7, 'Footwear', 0);"
        "insert into attributemaster values (3, 'Size');"
        "insert into lobattribute values (7, 3, 1);"
        "insert into vatmaster (VATID, VATName) values (5019, 'kept as it is');"
        "create table SizeMaster (Id integer primary key, Name varchar(100), lobid smallint,"
        " vatid smallint, VatPer decimal(18,2), GSTID smallint);"
        "insert into SizeMaster values (1, 'Small', 7, 5010, 5, 5010);"
        "insert into Products values (1, 'Sandal', 7, 5010, 12);";
    struct Case {
        const char* name;
        QString data;
        const char* lob; // picked from the list; none when the database has one line
        QStringList statements;
    };
    const Case cases[] = {
        {"product-wise, new slab record missing", standardRetailData(), "Grocery",
         kListLoadAndChoice +
             QStringList{"select productwisevat from lobmaster where lobid=1",
                         "Select ProductWiseVat From LobMaster Where LobId=1",
                         "select count(*) from vatmaster where vatid = 5019 ", kInsertNewSlab} +
             okStatements(1, "", {"COMMIT"})},
        {"attribute-wise, new slab record present",
         standardRetailData() + "insert into vatmaster (VATID, VATName) values (5019, 'kept as it is');",
         "Apparel",
         kListLoadAndChoice +
             QStringList{"select productwisevat from lobmaster where lobid=2", attributeLookup(2),
                         "Select ProductWiseVat From LobMaster Where LobId=2",
                         "select count(*) from vatmaster where vatid = 5019 "} +
             okStatements(2, "[FabricMaster]", {"COMMIT"})},
        {"the only line of business, attribute-wise", singleLine, nullptr,
         QStringList{"select count(*) from lobmaster ", "select lobid from lobmaster",
                     "select name from lobmaster", "select productwisevat from lobmaster where lobid=7",
                     attributeLookup(7), "Select ProductWiseVat From LobMaster Where LobId=7",
                     "select count(*) from vatmaster where vatid = 5019 "} +
             okStatements(7, "[SizeMaster]", {"COMMIT"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db.createDatabase("talvex", c.data);
        QFile::remove(traceFile());
        EXPECT_EXIT(runWindowInChild(c.lob), ExitedWithCode(gst::kExitDone), kDoneBox.toStdString());
        EXPECT_EQ(recorded(), c.statements);
    }
}

TEST_F(StatementTraceTest, RefusalStopsAfterTheCountThatFoundRowsOnTheNewSlab)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    db.createDatabase("talvex",
                      standardRetailData() + "insert into Products values (20, 'Pre', 1, 5019, 5);");
    EXPECT_EXIT(runWindowInChild("Grocery"), ExitedWithCode(gst::kExitRefused),
                "\\[msgbox\\] icon=critical title=Products text=This utility cannot run!");
    // The record is inserted before the test for rows on the new slab; no
    // transaction is begun and nothing is updated.
    const QStringList expected =
        kListLoadAndChoice +
        QStringList{"select productwisevat from lobmaster where lobid=1",
                    "Select ProductWiseVat From LobMaster Where LobId=1",
                    "select count(*) from vatmaster where vatid = 5019 ", kInsertNewSlab} +
        okStatements(1, "", {});
    EXPECT_EQ(recorded(), expected);
}

} // namespace
