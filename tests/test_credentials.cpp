// The password transform and the check of a user name and password against usermaster.
#include "platform/Error.h"
#include "signin/Credentials.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using gst::AppError;
using gst::MsgIcon;

namespace
{

QString allPrintableAscii()
{
    QString s;
    for (char16_t c = 0x20; c <= 0x7E; ++c)
        s.append(QChar(c));
    return s;
}

// ---------------------------------------------------------------- transform

TEST(TransformPassword, EveryCodeMapsTo255MinusItselfAndBack)
{
    QString all;
    for (int code = 0; code <= 255; ++code) {
        SCOPED_TRACE(code);
        const QChar ch = gst::windows1252Char(code);
        ASSERT_EQ(gst::windows1252Code(ch), code);
        const QString once = TransformPassword(QString(ch));
        ASSERT_EQ(once.size(), 1);
        EXPECT_EQ(gst::windows1252Code(once.at(0)), 255 - code);
        EXPECT_EQ(once, storedPasswordForm(QString(ch))); // independent oracle
        all.append(ch);
    }
    EXPECT_EQ(TransformPassword(TransformPassword(all)), all);
    EXPECT_EQ(TransformPassword(QString()), QString());
}

TEST(TransformPassword, KeepsOrderAndUsesWindows1252)
{
    // "abc" is 97, 98, 99: 158 (z caron), 157 (undefined), 156 (oe), in that order.
    EXPECT_EQ(TransformPassword("abc"), QString::fromUtf16(u"\u017E\u009D\u0153"));
    // The five undefined codes are the stored form of b, o, p, r and ~.
    EXPECT_EQ(TransformPassword("bopr~"), QString::fromUtf16(u"\u009D\u0090\u008F\u008D\u0081"));
    // The euro sign is code 128, so it becomes 127.
    EXPECT_EQ(TransformPassword(QString::fromUtf16(u"\u20AC")), QString(QChar(0x7F)));
}

TEST(TransformPassword, CharacterWithoutACodeIsKeptAndNeverMatches)
{
    const QString omega = QString::fromUtf16(u"\u03A9");
    EXPECT_EQ(TransformPassword("a" + omega), QString::fromUtf16(u"\u017E\u03A9"));
    EXPECT_EQ(gst::windows1252Code(omega.at(0)), -1);
    // Were it transformed to itself, typing it would match.
    EXPECT_FALSE(gst::passwordMatches(omega, omega));
    EXPECT_FALSE(gst::passwordMatches(storedPasswordForm("pw") + omega, "pw" + omega));
    EXPECT_TRUE(gst::passwordMatches(storedPasswordForm("pw"), "pw"));
}

TEST(StoredPassword, SingleByteColumnIsReadFromItsBytes)
{
    // What a driver that loses the undefined codes gives as text, beside the
    // column's own bytes: the stored form of "bopr~".
    const QByteArray bytes("\x9D\x90\x8F\x8D\x81", 5);
    const gst::Value lossyText = gst::Value::text("?????");
    EXPECT_EQ(TransformPassword(gst::storedPassword(lossyText, true, &bytes)), "bopr~");

    QByteArray every;
    for (int b = 0; b <= 255; ++b)
        every.append(static_cast<char>(b));
    const QString decoded = gst::decodeWindows1252(every);
    ASSERT_EQ(decoded.size(), 256);
    for (int b = 0; b <= 255; ++b)
        EXPECT_EQ(gst::windows1252Code(decoded.at(b)), b) << b;

    // A Unicode column, or no bytes, is taken as the driver delivered it.
    const gst::Value text = gst::Value::text(storedPasswordForm("pw"));
    EXPECT_EQ(gst::storedPassword(text, false, &bytes), storedPasswordForm("pw"));
    EXPECT_EQ(gst::storedPassword(text, true, nullptr), storedPasswordForm("pw"));
    try {
        gst::storedPassword(gst::Value::null(), true, &bytes);
        FAIL() << "a NULL password must not pass";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kInvalidUseOfNull);
    }
}

// ---------------------------------------------------------------- the check

class CheckCredentialsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("talvex", standardRetailData());
        const DbRow users[] = {
            {"2", "cashier", storedPasswordForm("blocked1"), "Counter Cashier", "0", "0", "2"},
            {"3", "nopass", QString(""), "No Password", "1", "0", "3"},
            {"4", "twin", storedPasswordForm("first"), "Twin One", "1", "0", "4"},
            {"5", "twin", storedPasswordForm("second"), "Twin Two", "1", "0", "5"},
            {"6", "", storedPasswordForm("emptyname"), "Nameless", "1", "0", "6"},
            {"7", "everything", storedPasswordForm(allPrintableAscii()), "Every Key", "1", "0", "7"},
            {"8", "nullenabled", storedPasswordForm("pw"), "Null Enabled", std::nullopt, "0", "8"},
        };
        for (const DbRow& row : users)
            db.exec("talvex", "insert into usermaster values (?, ?, ?, ?, ?, ?, ?)", row);
        connectShared(db, "talvex");
        reset();
    }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        gConnection.reset();
    }

    void reset()
    {
        gSignedIn = false;
        gUserId = 0;
        gUserName.clear();
        gDefaultMenu = false;
        gProcessId = 0;
        gst::msgbox_seam::clear();
    }

    bool attempt(const QString& userName, const QString& password)
    {
        const bool result = CheckCredentials(userName, password);
        EXPECT_EQ(sharedOpenStatements(), 0);
        return result;
    }

    TestDatabase db;
    FrmLogin window;
};

TEST_F(CheckCredentialsTest, SuccessSetsTheSignedInUser)
{
    EXPECT_TRUE(attempt("admin", "admin123"));
    EXPECT_TRUE(gSignedIn);
    EXPECT_EQ(gUserId, 1);
    EXPECT_EQ(gUserName, "Administrator");
    EXPECT_TRUE(gDefaultMenu);
    EXPECT_EQ(gProcessId, 1);
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
}

struct Attempt {
    const char* what;
    QString userName;
    QString password;
    bool signsIn;
    const char* message; // nullptr: none
};

TEST_F(CheckCredentialsTest, OutcomesOfOneAttempt)
{
    const char* invalid = "Invalid Password - Try again!";
    const char* blocked = "Your Account Has Been Blocked !!";
    const Attempt attempts[] = {
        {"name typed with spaces around it", "  admin  ", "admin123", true, nullptr},
        {"password with a trailing space", "admin", "admin123 ", false, invalid},
        {"password with a leading space", "admin", " admin123", false, invalid},
        {"password in other letter case", "admin", "ADMIN123", false, invalid},
        {"unknown user", "nobody", "admin123", false, invalid},
        {"blocked account, right password", "cashier", "blocked1", false, blocked},
        {"blocked account, wrong password", "cashier", "wrong", false, invalid},
        {"Enabled NULL counts as blocked", "nullenabled", "pw", false, blocked},
        {"empty stored password, empty typed", "nopass", "", true, nullptr},
        {"empty stored password, something typed", "nopass", "x", false, invalid},
        {"empty user name finds the row with an empty name", "", "emptyname", true, nullptr},
        {"blank user name trims to empty", "   ", "emptyname", true, nullptr},
        {"two rows of one name: the first counts", "twin", "first", true, nullptr},
        {"two rows of one name: the second never", "twin", "second", false, invalid},
        {"every printable ASCII character", "everything", allPrintableAscii(), true, nullptr},
        {"every printable ASCII character but the last", "everything", allPrintableAscii().chopped(1), false,
         invalid},
        {"pasted hostile name with the first row's password", "x' OR '1'='1", "admin123", false, invalid},
        {"pasted hostile name that would forge a row",
         "x' union select 1, 'x', '" + storedPasswordForm("forged") + "', 'Intruder', 1, 1, 1 --", "forged",
         false, invalid},
        {"pasted name ending the literal", "admin'--", "admin123", false, invalid},
    };
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(a.what);
        reset();
        EXPECT_EQ(attempt(a.userName, a.password), a.signsIn);
        EXPECT_EQ(gSignedIn, a.signsIn);
        const auto& shown = gst::msgbox_seam::shown();
        if (!a.message) {
            EXPECT_TRUE(shown.empty());
            continue;
        }
        if (shown.size() != 1u) {
            ADD_FAILURE() << shown.size() << " boxes";
            continue;
        }
        EXPECT_EQ(shown[0].text, QString::fromLatin1(a.message));
        EXPECT_EQ(shown[0].icon, MsgIcon::Critical);
        EXPECT_EQ(shown[0].buttons, gst::MsgButtons::Ok);
        // The blocked message passes no title (the program's own); the other an empty one.
        EXPECT_EQ(shown[0].title, a.message == blocked ? QString::fromLatin1(gst::kAppTitle) : QString());
    }
}

TEST_F(CheckCredentialsTest, UserNameIsBoundNeverPasted)
{
    QStringList sent;
    gst::Connection::setTraceHook([&](const QString& sql) { sent << sql; });
    attempt("x' OR '1'='1", "admin123");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0], "select * from usermaster where loginname =?");
}

TEST_F(CheckCredentialsTest, FailureEmptiesAndFocusesThePassword)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.ui()->txtUserName->setFocus();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        window.ui()->txtUserName->setText("admin");
        window.ui()->txtPassword->setText("wrong");
        window.ui()->cmdOk->click();
        EXPECT_FALSE(gSignedIn);
        EXPECT_TRUE(window.ui()->txtPassword->hasFocus());
        EXPECT_EQ(window.ui()->txtPassword->text(), QString());
        EXPECT_EQ(window.ui()->txtUserName->text(), "admin");
        window.ui()->txtUserName->setFocus();
    }
    EXPECT_EQ(gst::msgbox_seam::shown().size(), 3u);
    EXPECT_TRUE(attempt("admin", "admin123"));
}

TEST_F(CheckCredentialsTest, EnabledMustBeTrueNotMerelyNonZero)
{
    // In a numeric column true is -1; 1 is not true.
    db.exec("talvex", "drop table usermaster;"
                      "create table usermaster (UserId smallint, loginname varchar(50), Password varchar(50),"
                      " Name varchar(100), Enabled int, Defaultmenu int, ProcessId smallint);");
    db.exec("talvex", "insert into usermaster values (1, 'minus', ?, 'Minus One', -1, 5, 1)",
            {storedPasswordForm("pw")});
    db.exec("talvex", "insert into usermaster values (2, 'plus', ?, 'Plus One', 1, 0, 2)",
            {storedPasswordForm("pw")});
    EXPECT_TRUE(attempt("minus", "pw"));
    EXPECT_TRUE(gDefaultMenu); // non-zero is true
    reset();
    EXPECT_FALSE(attempt("plus", "pw"));
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 1u);
    EXPECT_EQ(gst::msgbox_seam::shown()[0].text, "Your Account Has Been Blocked !!");
}

TEST_F(CheckCredentialsTest, UnconvertibleValuesPassToTheCaller)
{
    struct Case {
        const char* what;
        const char* change;
        long number;
    };
    const Case cases[] = {
        {"UserId beyond 16 bits", "update usermaster set UserId = 40000", gst::err::kOverflow},
        {"ProcessId below 16 bits", "update usermaster set ProcessId = -32769", gst::err::kOverflow},
        {"NULL Name", "update usermaster set Name = NULL", gst::err::kInvalidUseOfNull},
        {"NULL Defaultmenu", "update usermaster set Defaultmenu = NULL", gst::err::kInvalidUseOfNull},
        {"NULL Password", "update usermaster set Password = NULL", gst::err::kInvalidUseOfNull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db.createDatabase("talvex", standardRetailData());
        db.exec("talvex", c.change);
        connectShared(db, "talvex");
        reset();
        try {
            attempt("admin", "admin123");
            ADD_FAILURE() << "no error";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), c.number);
        }
        EXPECT_EQ(sharedOpenStatements(), 0);
        EXPECT_TRUE(gst::msgbox_seam::shown().empty());
    }
    // 32767 and -32768 still fit.
    db.createDatabase("talvex", standardRetailData());
    db.exec("talvex", "update usermaster set UserId = 32767, ProcessId = -32768");
    connectShared(db, "talvex");
    reset();
    EXPECT_TRUE(attempt("admin", "admin123"));
    EXPECT_EQ(gUserId, 32767);
    EXPECT_EQ(gProcessId, -32768);
}

TEST_F(CheckCredentialsTest, MissingUserTableIsACommandError)
{
    db.exec("talvex", "drop table usermaster");
    try {
        attempt("admin", "admin123");
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kCommandError);
    }
}

} // namespace
