// Damaged or unexpected shop data: NULLs in the columns the utility reads, ids
// beyond 16 bits, text in number and date columns, duplicate names, missing
// tables and columns, an empty vatmaster, a vatmaster that already holds 5019.
// Cases are drawn from a seed; each runs the whole program (start-up, firm
// picker, sign-in, conversion window, OK) in a child process. Every case must
// end with a message and an exit code from 0 to 3, never a crash or a
// sanitizer report, and nothing may change unless the run ended with "Done".
//
// Replay: GST_DAMAGE_SEED=<seed> (default 20180727), GST_DAMAGE_CASES=<count>
// (default 300), GST_DAMAGE_ONLY=<case number> to run a single case.
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "firms/FrmSelectFirm.h"
#include "platform/ProgramEnd.h"
#include "signin/Credentials.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/SignIn.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "ui_FrmLogin.h"
#include "ui_FrmSelectFirm.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>

using namespace reliability;

namespace
{

// What a run ends with: its exit code (-1: any of 0 to 3) and a regular
// expression the last message box must match (empty: no check).
struct Expect {
    int exit = -1;
    QString box;
};

struct Damage {
    QString name;
    QString sql;
    Expect grocery;          // when the operator picks Grocery (product-wise)
    Expect apparel;          // when the operator picks Apparel (GST per Fabric)
    bool firmCopies = false; // firm databases firm1, firm2 are copies of the damaged shop
};

const QString kDoneBox = "text=Done$";
const QString kInvalidDate =
    "icon=critical title=Invalid Date text=This utility is to be run on or after 27th July 2018 only\\.$";
const QString kNetworkDown = "icon=critical title= text=Network is down Or Server may be Off!$";
const QString kInvalidPassword = "icon=critical title= text=Invalid Password - Try again!$";
const QString kBlocked = "icon=critical title=gstconvert text=Your Account Has Been Blocked !!$";
const QString kTryAgain = "icon=critical title=Not Successful for '.*' text=Try Again$";
const QString kProductsOnNewSlab =
    "icon=critical title=Products text=This utility cannot run!\\\\nSome Products";
const QString kValuesOnNewSlab =
    "icon=critical title=Fabric text=This utility cannot run!\\\\nSome attributes";

QString runtimeError(long number)
{
    return QStringLiteral("icon=critical title=gstconvert text=Run-time error '%1':\\\\n\\\\n").arg(number);
}
QString connectError(long number)
{
    return QStringLiteral("^\\[msgbox\\] icon=critical title=%1 text=.").arg(number);
}
QString noTable(const QString& title)
{
    return QStringLiteral(
               "icon=critical title=%1 text=Unable to find Table Name entry for GST Attribute! Please "
               "contact Norvane\\.$")
        .arg(title);
}

Expect done()
{
    return {0, kDoneBox};
}
Expect ends(int code, const QString& box)
{
    return {code, box};
}

QString storedLiteral(const QString& clear)
{
    return TestDatabase::sqlQuote(storedPasswordForm(clear));
}

// Every kind of damage; a case applies one to three of them.
std::vector<Damage> catalogue()
{
    const long command = -2147217900;
    const QString mismatch = runtimeError(13);
    const QString overflow = runtimeError(6);
    const QString nullUse = runtimeError(94);
    const QString firms = "update Options2 set Value = 1;";
    std::vector<Damage> d = {
        // Start-up and the run-date gate.
        {"options missing", "drop table options;", ends(3, connectError(command)),
         ends(3, connectError(command))},
        {"options without billdate",
         "drop table options; create table options (other int); insert into options values (1);",
         ends(3, connectError(command)), ends(3, connectError(command))},
        {"billdate NULL", "update options set billdate = NULL;", ends(2, kInvalidDate),
         ends(2, kInvalidDate)},
        {"no options row", "delete from options;", ends(2, kInvalidDate), ends(2, kInvalidDate)},
        {"billdate text", "update options set billdate = 'not a date';", ends(3, connectError(13)),
         ends(3, connectError(13))},
        {"billdate a number", "update options set billdate = 43000;", {}, {}},
        {"billdate far ahead", "update options set billdate = '9999-12-31 23:59:59';", done(), done()},
        {"two options rows, the first too early",
         "delete from options; insert into options values ('2018-01-01'), ('2019-01-01');",
         ends(2, kInvalidDate), ends(2, kInvalidDate)},
        {"Options2 missing", "drop table Options2;", ends(3, runtimeError(command)),
         ends(3, runtimeError(command))},
        {"FirmMaster missing", "drop table FirmMaster;", ends(3, runtimeError(command)),
         ends(3, runtimeError(command))},
        {"MultiDB NULL", "update Options2 set Value = NULL;", done(), done()},
        {"MultiDB text", "update Options2 set Value = 'maybe';", done(), done()},
        {"MultiDB missing its Name", "update Options2 set Name = NULL;", done(), done()},
        {"two firms without databases",
         firms + "insert into FirmMaster values (1, 'North', 1, 'north_db'), (2, 'South', 1, 'south_db');",
         ends(3, kNetworkDown), ends(3, kNetworkDown)},
        {"two firms with NULL ids",
         firms + "insert into FirmMaster values (NULL, 'North', 1, 'firm1'), (NULL, 'South', 1, 'firm2');",
         ends(3, kNetworkDown), ends(3, kNetworkDown), true},
        {"two firms with ids beyond 32 bits",
         firms + "insert into FirmMaster values (1099511627776, 'North', 1, 'firm1'), "
                 "(1099511627777, 'South', 1, 'firm2');",
         ends(3, kNetworkDown), ends(3, kNetworkDown), true},
        {"two firms with NULL names",
         firms + "insert into FirmMaster values (1, NULL, 1, 'firm1'), (2, NULL, 1, 'firm2');", done(),
         done(), true},
        {"two firms whose databases are copies",
         firms + "insert into FirmMaster values (1, 'North', 1, 'firm1'), (2, 'South', 1, 'firm2');", done(),
         done(), true},
        {"two firms naming paths",
         firms + "insert into FirmMaster values (1, 'North', 1, '../talvex'), (2, 'South', 1, 'a/b');",
         ends(3, kNetworkDown), ends(3, kNetworkDown)},
        {"two firms with text in Enabled",
         firms + "insert into FirmMaster values (1, 'North', 'yes', 'firm1'), (2, 'South', 'yes', 'firm2');",
         done(), done(), true},
        {"two firms, DBName NULL",
         firms + "insert into FirmMaster values (1, 'North', 1, NULL), (2, 'South', 1, NULL);", done(),
         done()},
        {"billdate bytes", "update options set billdate = X'C328FFFE00';", ends(3, connectError(13)),
         ends(3, connectError(13))},
        // Sign-in.
        {"usermaster missing", "drop table usermaster;", ends(3, runtimeError(command)),
         ends(3, runtimeError(command))},
        {"usermaster without loginname", "alter table usermaster drop column loginname;",
         ends(3, runtimeError(command)), ends(3, runtimeError(command))},
        {"usermaster without Password", "alter table usermaster drop column Password;",
         ends(3, runtimeError(command)), ends(3, runtimeError(command))},
        {"usermaster without ProcessId", "alter table usermaster drop column ProcessId;",
         ends(3, runtimeError(command)), ends(3, runtimeError(command))},
        {"Password NULL", "update usermaster set Password = NULL;", ends(3, nullUse), ends(3, nullUse)},
        {"Enabled NULL", "update usermaster set Enabled = NULL;", ends(1, kBlocked), ends(1, kBlocked)},
        {"Enabled text", "update usermaster set Enabled = 'maybe';", ends(1, kBlocked), ends(1, kBlocked)},
        {"Enabled 0", "update usermaster set Enabled = 0;", ends(1, kBlocked), ends(1, kBlocked)},
        {"UserId beyond 16 bits", "update usermaster set UserId = 70000;", ends(3, overflow),
         ends(3, overflow)},
        {"UserId text", "update usermaster set UserId = 'abc';", ends(3, mismatch), ends(3, mismatch)},
        {"UserId NULL", "update usermaster set UserId = NULL;", ends(3, nullUse), ends(3, nullUse)},
        {"ProcessId beyond 16 bits", "update usermaster set ProcessId = -40000;", ends(3, overflow),
         ends(3, overflow)},
        {"ProcessId NULL", "update usermaster set ProcessId = NULL;", ends(3, nullUse), ends(3, nullUse)},
        {"Name NULL", "update usermaster set Name = NULL;", ends(3, nullUse), ends(3, nullUse)},
        {"Defaultmenu NULL", "update usermaster set Defaultmenu = NULL;", ends(3, nullUse), ends(3, nullUse)},
        {"Defaultmenu text", "update usermaster set Defaultmenu = 'sometimes';", ends(3, mismatch),
         ends(3, mismatch)},
        {"no users", "delete from usermaster;", ends(1, kInvalidPassword), ends(1, kInvalidPassword)},
        {"loginname NULL", "update usermaster set loginname = NULL;", ends(1, kInvalidPassword),
         ends(1, kInvalidPassword)},
        {"duplicate user, the first with another password",
         "update usermaster set Password = " + storedLiteral("other") +
             "; insert into usermaster values (2, 'admin', " + storedLiteral("admin123") +
             ", 'Second', 1, 1, 1);",
         ends(1, kInvalidPassword), ends(1, kInvalidPassword)},
        {"duplicate user, the second with another password",
         "insert into usermaster values (2, 'admin', " + storedLiteral("other") + ", 'Second', 1, 1, 1);",
         done(), done()},
        {"Password bytes", "update usermaster set Password = X'FF00FE9D81';", ends(1, kInvalidPassword),
         ends(1, kInvalidPassword)},
        {"loginname not valid UTF-8", "update usermaster set loginname = cast(X'61646D696EC3' as text);",
         ends(1, kInvalidPassword), ends(1, kInvalidPassword)},
        {"password stored in clear", "update usermaster set Password = 'admin123';",
         ends(1, kInvalidPassword), ends(1, kInvalidPassword)},
        // The conversion window.
        {"lobmaster missing", "drop table lobmaster;", ends(3, runtimeError(command)),
         ends(3, runtimeError(command))},
        {"lobmaster empty", "delete from lobmaster;", ends(1, ""), ends(1, "")},
        {"lobmaster without productwisevat", "alter table lobmaster drop column productwisevat;",
         ends(3, runtimeError(command)), ends(3, runtimeError(command))},
        {"Grocery's name NULL", "update lobmaster set name = NULL where lobid = 1;", done(), done()},
        {"Grocery's id beyond 16 bits", "update lobmaster set lobid = 40000 where lobid = 1;",
         ends(3, overflow), done()},
        {"Grocery's id text", "update lobmaster set lobid = 'abc' where lobid = 1;", ends(3, mismatch),
         done()},
        {"Grocery's id NULL", "update lobmaster set lobid = NULL where lobid = 1;", ends(2, noTable("0")),
         done()},
        {"productwisevat NULL", "update lobmaster set productwisevat = NULL;", ends(2, noTable("0")), done()},
        {"productwisevat text", "update lobmaster set productwisevat = 'maybe';", ends(3, mismatch),
         ends(3, mismatch)},
        {"single line of business", "delete from lobmaster where lobid = 2;", done(), done()},
        {"single line with an id beyond 16 bits",
         "delete from lobmaster where lobid = 2; update lobmaster set lobid = 40000;", ends(3, overflow),
         ends(3, overflow)},
        {"Grocery's name bytes", "update lobmaster set name = X'C328FFFE00' where lobid = 1;", {}, done()},
        {"Grocery's name not valid UTF-8",
         "update lobmaster set name = cast(X'47726FC3' as text) where lobid = 1;",
         {},
         done()},
        {"Grocery's name 5000 characters",
         "update lobmaster set name = printf('%.5000c', 'G') where lobid = 1;", done(), done()},
        {"attribute name 3000 characters", "update attributemaster set name = printf('%.3000c', 'F');",
         done(), ends(2, noTable("F{3000}"))},
        {"attribute name bytes", "update attributemaster set name = X'C328FFFE00';", done(), {}},
        {"duplicate line names", "insert into lobmaster values (3, 'Apparel', 1);", done(), done()},
        {"lobattribute missing", "drop table lobattribute;", done(), ends(3, runtimeError(command))},
        {"lobattribute without vatable", "alter table lobattribute drop column vatable;", done(),
         ends(3, runtimeError(command))},
        {"vatable NULL", "update lobattribute set vatable = NULL;", done(), ends(2, noTable("0"))},
        {"vatable text", "update lobattribute set vatable = 'yes';", done(), ends(2, noTable("0"))},
        {"attributemaster missing", "drop table attributemaster;", done(), ends(3, runtimeError(command))},
        {"attribute name NULL", "update attributemaster set name = NULL;", done(), ends(2, noTable("0"))},
        {"two taxable attributes", "update lobattribute set vatable = 1;", done(), done()},
        {"attribute ids beyond 32 bits",
         "update attributemaster set attributeid = 1099511627776 where attributeid = 1;"
         "update lobattribute set attributeid = 1099511627776 where attributeid = 1;",
         done(), done()},
        {"duplicate attribute names", "insert into attributemaster values (3, 'Fabric');", done(), done()},
        {"value table missing", "drop table FabricMaster;", done(), ends(2, noTable("Fabric"))},
        {"value table without GSTID", "alter table FabricMaster drop column GSTID;", done(),
         ends(1, kTryAgain)},
        {"value table without VatPer", "alter table FabricMaster drop column VatPer;", done(),
         ends(1, kTryAgain)},
        {"value table without vatid", "alter table FabricMaster drop column vatid;", done(),
         ends(3, runtimeError(command))},
        {"value table without lobid", "alter table FabricMaster drop column lobid;", done(),
         ends(3, runtimeError(command))},
        {"value already on 5019", "insert into FabricMaster values (9, 'Pre', 2, 5019, 5, 5019);", done(),
         ends(2, kValuesOnNewSlab)},
        {"value table NULLs",
         "insert into FabricMaster values (10, NULL, NULL, NULL, NULL, NULL), (11, 'N', 2, NULL, 5, 0);",
         done(), done()},
        {"value table text in vatid", "update FabricMaster set vatid = '5010x' where Id = 1;", done(),
         done()},
        {"value table lobid beyond 16 bits",
         "insert into FabricMaster values (12, 'Big', 70000, 5010, 5, 5010);", done(), done()},
        // Products.
        {"Products missing", "drop table Products;", ends(3, runtimeError(command)), ends(1, kTryAgain)},
        {"Products without vatid", "alter table Products drop column vatid;", ends(3, runtimeError(command)),
         ends(1, kTryAgain)},
        {"Products without VatPer", "alter table Products drop column VatPer;", ends(1, kTryAgain),
         ends(1, kTryAgain)},
        {"Products without LobId", "alter table Products drop column LobId;", ends(3, runtimeError(command)),
         ends(1, kTryAgain)},
        {"a Grocery product on 5019", "insert into Products values (30, 'Pre', 1, 5019, 5);",
         ends(2, kProductsOnNewSlab), done()},
        {"an Apparel product on 5019", "insert into Products values (31, 'Pre', 2, 5019, 5);", done(),
         done()},
        {"Products NULLs", "insert into Products values (32, NULL, NULL, NULL, NULL);", done(), done()},
        {"Products LobId beyond 16 bits", "insert into Products values (33, 'Big', 70000, 5010, 5);", done(),
         done()},
        {"Products vatid text", "update Products set vatid = 'abc' where ProductId = 3;", done(), done()},
        {"Products VatPer text", "update Products set VatPer = 'five' where ProductId = 4;", done(), done()},
        // vatmaster.
        {"vatmaster missing", "drop table vatmaster;", ends(3, runtimeError(command)),
         ends(3, runtimeError(command))},
        {"vatmaster empty", "delete from vatmaster;", done(), done()},
        {"vatmaster holds 5019 with other values",
         "insert into vatmaster (VATID, VATName, VATPer, SortIndex, SlabApplicable) values "
         "(5019, 'Something else', 18, 1, 0);",
         done(), done()},
        {"vatmaster without caption", "alter table vatmaster drop column caption;",
         ends(3, runtimeError(command)), ends(3, runtimeError(command))},
        {"vatmaster without SlabQuery", "alter table vatmaster drop column SlabQuery;",
         ends(3, runtimeError(command)), ends(3, runtimeError(command))},
        {"vatmaster VATID NULL", "insert into vatmaster (VATID, VATName) values (NULL, 'Nothing');", done(),
         done()},
        {"vatmaster VATID text", "insert into vatmaster (VATID, VATName) values ('5019x', 'Text id');",
         done(), done()},
        {"vatmaster VATID beyond 16 bits", "insert into vatmaster (VATID, VATName) values (70000, 'Big');",
         done(), done()},
    };
    return d;
}

struct DamageCase {
    int number = 0;
    std::vector<size_t> damages; // indexes into the catalogue
    QString lob;                 // the entry the operator picks
    QString describe(const std::vector<Damage>& all) const
    {
        QStringList names;
        for (size_t i : damages)
            names << all[i].name;
        return QStringLiteral("case %1 [%2] picking %3").arg(number).arg(names.join(" + "), lob);
    }
};

std::uint64_t envNumber(const char* name, std::uint64_t fallback)
{
    bool ok = false;
    const std::uint64_t v = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? v : fallback;
}

const std::uint64_t kSeed = envNumber("GST_DAMAGE_SEED", 20180727);
const int kCases = static_cast<int>(envNumber("GST_DAMAGE_CASES", 300));
constexpr int kShards = 6;

// Case n depends only on the seed and n: any one of them can be replayed.
DamageCase drawCase(std::uint64_t seed, int number, size_t catalogueSize)
{
    std::mt19937_64 rng(seed * 1000003u + static_cast<std::uint64_t>(number));
    DamageCase c;
    c.number = number;
    // Every kind appears alone in the first cases, once for each line; after that, mixtures.
    if (static_cast<size_t>(number) < 2 * catalogueSize) {
        c.damages.push_back(static_cast<size_t>(number) / 2);
        c.lob = number % 2 ? QStringLiteral("Apparel") : QStringLiteral("Grocery");
        return c;
    }
    const int count = 1 + static_cast<int>(rng() % 3);
    while (static_cast<int>(c.damages.size()) < count) {
        const size_t pick = rng() % catalogueSize;
        if (std::find(c.damages.begin(), c.damages.end(), pick) == c.damages.end())
            c.damages.push_back(pick);
    }
    c.lob = (rng() % 2) ? QStringLiteral("Apparel") : QStringLiteral("Grocery");
    return c;
}

class DamagedData : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override
    {
        gst::msgbox_seam::clear();
        db.createDatabase("template", standardRetailData());
    }

    // The databases of a case: the shop, and the firm databases when the case has them.
    QStringList databases() const
    {
        QStringList names;
        for (const QString& file : QDir(db.folder()).entryList({"*.db"}, QDir::Files)) {
            const QString name = file.chopped(3);
            if (name != "template")
                names << name;
        }
        return names;
    }

    // Applies the case's damages in order. One that no longer applies (its
    // table already dropped by an earlier one) is left out of the case, whole.
    void prepare(DamageCase& c, const std::vector<Damage>& all)
    {
        // A Windows child replaying earlier cases: the files are the parent's, as it left them.
        if (replaying())
            return;
        for (const QString& name : databases())
            QFile::remove(db.path(name));
        copyDatabase(db, "template", "talvex");
        bool firmCopies = false;
        std::vector<size_t> applied;
        for (size_t i : c.damages) {
            try {
                // An unfinished transaction is rolled back when the file is closed.
                db.exec("talvex", "begin;" + all[i].sql + "commit;");
            } catch (const std::runtime_error&) {
                continue;
            }
            applied.push_back(i);
            firmCopies = firmCopies || all[i].firmCopies;
        }
        c.damages = applied;
        if (firmCopies) {
            copyDatabase(db, "talvex", "firm1");
            copyDatabase(db, "talvex", "firm2");
        }
        db.writeLoginSettings(db.folder(), "demo");
        QDir(db.folder()).mkpath("oracle");
        for (const QString& name : databases()) {
            QFile::remove(oraclePath(name));
            QFile::copy(db.path(name), oraclePath(name));
        }
    }

    QString oraclePath(const QString& name) const { return db.folder() + "/oracle/" + name + ".db"; }

    // The operator's whole run, in the child: start, firm, sign in, pick, agree, OK, close.
    static void operatorRun(const QString& lob)
    {
        gDatabaseName = "talvex";
        ConnectDatabase();
        bool firmPicker = false;
        gst::guarded([&] { firmPicker = NeedsFirmSelection(); });
        if (firmPicker) {
            report("stage", "firm picker");
            auto* firms = new FrmSelectFirm(&ConnectDatabase);
            firms->Form_Load();
            firms->show();
            firms->ui()->cmdOk->click();
        }
        report("database", gDatabaseName);
        signInThroughLoginWindow();
        if (!gSignedIn) {
            report("stage", "sign-in refused");
            gst::endProgram(gst::kExitCancelled);
        }
        Form1* form = shownConversionWindow();
        if (!form) {
            report("stage", "no conversion window");
            gst::endProgram(gst::kExitCancelled);
        }
        QComboBox* list = form->ui()->Combo1;
        if (list->isVisible()) {
            int index = list->findText(lob);
            if (index < 0 && list->count() > 0)
                index = 0;
            if (index >= 0) {
                list->setCurrentIndex(index);
                emit list->activated(index);
            }
        }
        if (!form->ui()->Command1->isEnabled()) {
            report("stage", "nothing to convert");
            gst::endProgram(gst::kExitCancelled);
        }
        report("lobId", QString::number(form->lobId()));
        report("attribute", form->productWise() ? QString() : form->gstAttribute());
        form->ui()->Check1->setChecked(true);
        form->ui()->Command1->click();
        report("stage", "not converted");
        gst::endProgram(gst::kExitCancelled);
    }

    // What "Done" must have changed: the chosen line's rows on 5010, in the database the run used.
    void applyExpectedConversion(const QString& database, const QString& lobId, const QString& attribute)
    {
        const QString path = oraclePath(database);
        if (!attribute.isEmpty())
            TestDatabase::execFile(path,
                                   QStringLiteral("update %1 set vatid=5019, VatPer=5, GSTID=5019 where "
                                                  "lobid=%2 and vatid=5010")
                                       .arg(sqliteIdentifier(attribute + "Master"), lobId));
        TestDatabase::execFile(
            path, QStringLiteral("update Products set vatid=5019, VatPer=5 where LobId=%1 and vatid=5010")
                      .arg(lobId));
    }

    void runCase(DamageCase c, const std::vector<Damage>& all)
    {
        prepare(c, all);
        SCOPED_TRACE(QStringLiteral("seed %1, %2").arg(kSeed).arg(c.describe(all)).toStdString());
        const ChildOutcome run = runChild([&] { operatorRun(c.lob); });
        if (replaying())
            return;

        const QString last = run.lastBox();
        const QString stage = run.result("stage");
        if (qEnvironmentVariableIsSet("GST_DAMAGE_VERBOSE"))
            std::printf("%s -> exit %d, stage '%s', %s\n", qPrintable(c.describe(all)), run.exitCode,
                        qPrintable(stage), qPrintable(last));
        ASSERT_TRUE(run.endedCleanly()) << run.describe().toStdString();
        switch (run.exitCode) {
        case gst::kExitDone:
            EXPECT_TRUE(last.contains(QRegularExpression(kDoneBox))) << last.toStdString();
            break;
        case gst::kExitCancelled:
            // The operator closed a window that was waiting: after a refused
            // sign-in, a failed conversion, or with nothing to convert.
            if (stage == "sign-in refused")
                EXPECT_TRUE(last.contains(QRegularExpression(kInvalidPassword + "|" + kBlocked)))
                    << last.toStdString();
            else if (stage == "not converted")
                EXPECT_TRUE(last.contains(QRegularExpression(kTryAgain))) << last.toStdString();
            else
                EXPECT_EQ(stage, "nothing to convert") << run.describe().toStdString();
            break;
        case gst::kExitRefused:
            EXPECT_TRUE(last.contains(QRegularExpression(kInvalidDate + "|cannot run|Unable to find")))
                << last.toStdString();
            break;
        case gst::kExitError:
            EXPECT_TRUE(last.startsWith("[msgbox] icon=critical ")) << last.toStdString();
            break;
        }

        if (c.damages.size() == 1) {
            const Damage& d = all[c.damages.front()];
            const Expect& e = c.lob == "Grocery" ? d.grocery : d.apparel;
            if (e.exit >= 0) {
                EXPECT_EQ(run.exitCode, e.exit) << run.describe().toStdString();
            }
            if (!e.box.isEmpty()) {
                EXPECT_TRUE(last.contains(QRegularExpression(e.box)))
                    << last.toStdString() << "\nexpected " << e.box.toStdString();
            }
            if (e.exit == gst::kExitCancelled && e.box.isEmpty()) {
                EXPECT_EQ(stage, "nothing to convert");
            }
        }

        QString database = run.result("database");
        if (database.isEmpty())
            database = "talvex";
        if (run.exitCode == gst::kExitDone)
            applyExpectedConversion(database, run.result("lobId"), run.result("attribute"));
        for (const QString& name : databases()) {
            EXPECT_EQ(unexpectedChanges(snapshotFile(oraclePath(name)), snapshotAll(db, name), true),
                      QStringList())
                << name.toStdString() << (run.exitCode == gst::kExitDone ? " after Done" : " without Done");
        }
    }

    TestDatabase db;
};

TEST_P(DamagedData, EndsWithAMessageACleanExitAndNothingChangedUnlessDone)
{
    const std::vector<Damage> all = catalogue();
    const int shard = GetParam();
    if (shard == 0)
        std::printf(
            "damaged data: seed %llu, %d cases (GST_DAMAGE_SEED, GST_DAMAGE_CASES, GST_DAMAGE_ONLY)\n",
            static_cast<unsigned long long>(kSeed), kCases);
    const int only = static_cast<int>(envNumber("GST_DAMAGE_ONLY", static_cast<std::uint64_t>(-1)));
    int ran = 0;
    for (int n = shard; n < kCases; n += kShards) {
        if (only >= 0 && n != only)
            continue;
        runCase(drawCase(kSeed, n, all.size()), all);
        if (HasFatalFailure())
            return;
        ++ran;
    }
    std::printf("damaged data: shard %d ran %d cases\n", shard, ran);
}

INSTANTIATE_TEST_SUITE_P(Shards, DamagedData, ::testing::Range(0, kShards));

// The catalogue is what the cases draw from: it must cover every kind of damage.
TEST(DamageCatalogue, CoversEveryKindOfDamage)
{
    const std::vector<Damage> all = catalogue();
    QStringList names;
    for (const Damage& d : all)
        names << d.name;
    const QString joined = names.join('\n');
    for (const char* kind : {"NULL", "beyond 16 bits", "beyond 32 bits", "text", "duplicate", "missing",
                             "without", "vatmaster empty", "vatmaster holds 5019"})
        EXPECT_TRUE(joined.contains(kind)) << kind;
    std::printf("damage catalogue: %d kinds\n", static_cast<int>(all.size()));
    EXPECT_GE(static_cast<int>(all.size()), 80);
    // Each kind runs alone, once for each line, and mixtures follow.
    EXPECT_LT(2 * static_cast<int>(all.size()), kCases);
}

// The check every case relies on: a child that crashes or trips a sanitizer
// has not ended cleanly, whatever its exit code.
TEST(ChildChecks, ACrashOrASanitizerReportIsNeverACleanEnd)
{
    const ChildOutcome crashed = runChild([] { std::abort(); });
    EXPECT_FALSE(crashed.endedCleanly());
    EXPECT_EQ(crashed.signal, SIGABRT);
#if defined(__SANITIZE_ADDRESS__)
    const ChildOutcome overflow = runChild([] {
        volatile int index = 4;
        char* bytes = new char[4];
        bytes[index] = 1;
        delete[] bytes;
        gst::endProgram(gst::kExitDone);
    });
    EXPECT_TRUE(overflow.sanitizerReport()) << overflow.describe().toStdString();
    EXPECT_FALSE(overflow.endedCleanly());
#endif
}

} // namespace
