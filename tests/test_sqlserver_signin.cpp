// Sign-in against SQL Server through FreeTDS and the TDS peer: the stored
// password's bytes as a varchar (code page 1252) or nvarchar column delivers
// them, the statement and user name the server receives.
#include "signin/Credentials.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/SharedConnection.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"
#include "widgets/MessageBox.h"

#include <QLineEdit>
#include <gtest/gtest.h>

namespace
{

const QString kSaPassword = QStringLiteral("Sa-Pw-2019");

// Every code of Windows-1252 from 1 to 255, the five undefined ones included.
QString everyCode()
{
    QString s;
    for (int code = 1; code <= 255; ++code)
        s.append(gst::windows1252Char(code));
    return s;
}

// A SQLite expression for a text holding exactly these characters (NUL too).
QString sqliteText(const QString& text)
{
    QStringList chunks;
    for (int i = 0; i < text.size(); i += 50) {
        QStringList codes;
        for (const QChar ch : text.mid(i, 50))
            codes << QString::number(ch.unicode());
        chunks << QStringLiteral("char(%1)").arg(codes.join(QLatin1Char(',')));
    }
    return chunks.isEmpty() ? QStringLiteral("''") : chunks.join(QLatin1String("||"));
}

struct User {
    const char* login;
    QString clear; // the password the operator types
};

// Users whose stored passwords fall on the five codes Windows-1252 leaves
// undefined (the stored form of b, o, p, r and ~), one holding every code.
std::vector<User> users()
{
    return {{"b", QStringLiteral("b")},
            {"o", QStringLiteral("o")},
            {"p", QStringLiteral("p")},
            {"r", QStringLiteral("r")},
            {"tilde", QStringLiteral("~")},
            {"mixed", QStringLiteral("Porto~Bar.bopr")},
            {"plain", QStringLiteral("admin123")},
            {"every", everyCode()},
            {"nul", QString(QChar(0)) + QStringLiteral("p~")}}; // stored as 0xFF 0x8F 0x81
}

class SqlServerSignIn : public ::testing::TestWithParam<QString> // the Password column's SQL Server type
{
protected:
    void SetUp() override
    {
        db.createDatabase(QStringLiteral("talvex"), standardRetailData());
        short id = 10;
        for (const User& u : users()) {
            db.exec(QStringLiteral("talvex"),
                    QStringLiteral("insert into usermaster values (%1, %2, %3, 'User %1', 1, 0, %1)")
                        .arg(id++)
                        .arg(TestDatabase::sqlQuote(QString::fromLatin1(u.login)),
                             sqliteText(storedPasswordForm(u.clear))));
        }
        peer.setAcceptedLogin(QStringLiteral("sa"), kSaPassword);
        peer.setColumnType(QStringLiteral("usermaster"), QStringLiteral("Password"), GetParam());
        peer.start();
        connectSharedThroughPeer(peer, QStringLiteral("talvex"), kSaPassword);
    }
    void TearDown() override
    {
        gConnection.reset();
        peer.stop();
        EXPECT_EQ(peer.openConnectionCount(), 0);
    }

    bool attempt(const QString& userName, const QString& password)
    {
        gSignedIn = false;
        gst::msgbox_seam::clear();
        const bool ok = CheckCredentials(userName, password);
        EXPECT_EQ(sharedOpenStatements(), 0);
        EXPECT_EQ(ok, gSignedIn);
        EXPECT_EQ(gst::msgbox_seam::shown().size(), ok ? 0u : 1u);
        return ok;
    }

    TestDatabase db;
    TdsPeer peer{db.folder()};
    FrmLogin window;
};

TEST_P(SqlServerSignIn, UndefinedCodesSignInWithTheRightPasswordOnly)
{
    // What FreeTDS gives for the stored form of "p" read as text: a varchar
    // column loses the undefined code 0x8F to "?", an nvarchar one keeps it.
    {
        auto rs = gConnection->query(QStringLiteral("select Password from usermaster where loginname = 'p'"));
        ASSERT_TRUE(rs->next());
        const bool narrow = GetParam().startsWith(QLatin1String("varchar"));
        EXPECT_EQ(rs->value(0).toText(), narrow ? QStringLiteral("?") : QString(QChar(0x8F)));
        EXPECT_FALSE(rs->next());
    }

    for (const User& u : users()) {
        const QString login = QString::fromLatin1(u.login);
        SCOPED_TRACE(login.toStdString());
        EXPECT_TRUE(attempt(login, u.clear));
        // A stored byte read as "?" would make the clear character U+00C0.
        QString lossy = u.clear;
        for (QChar& ch : lossy) {
            if (QStringLiteral("bopr~").contains(ch))
                ch = QChar(0xC0);
        }
        if (lossy != u.clear) {
            EXPECT_FALSE(attempt(login, lossy));
        }
        EXPECT_FALSE(attempt(login, u.clear + QLatin1Char(' ')));
        const QString otherCase = u.clear.toUpper() != u.clear ? u.clear.toUpper() : u.clear.toLower();
        if (otherCase != u.clear) {
            EXPECT_FALSE(attempt(login, otherCase));
        }
        EXPECT_FALSE(attempt(login, u.clear.left(u.clear.size() - 1)));
    }
}

TEST_P(SqlServerSignIn, TheServerReceivesTheLookupWithTheNameBound)
{
    const QString name = QStringLiteral("O'Brien; drop table usermaster --");
    EXPECT_FALSE(attempt(QStringLiteral("  ") + name + QStringLiteral(" "), QStringLiteral("x")));
    EXPECT_TRUE(attempt(QStringLiteral("mixed"), QStringLiteral("Porto~Bar.bopr")));

    // Exactly the two lookups: no cancel (ATTENTION) follows either, so each
    // sign-in attempt costs one round trip.
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    const QString lookup = QStringLiteral("select *, cast(Password as varbinary(max)) as gst_password_bytes "
                                          "from usermaster where loginname =@P1");
    const QStringList names = {name, QStringLiteral("mixed")};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].kind, TdsPeer::Request::Kind::Rpc);
        EXPECT_EQ(requests[i].procedure, QStringLiteral("sp_executesql"));
        EXPECT_EQ(requests[i].text, lookup);
        const auto bound = requests[i].boundValues();
        ASSERT_EQ(bound.size(), 1u);
        EXPECT_EQ(bound[0].value, names[int(i)]); // trimmed, unescaped, bound
    }
    // The user table is still there.
    EXPECT_EQ(db.scalar(QStringLiteral("talvex"), QStringLiteral("select count(*) from usermaster")),
              DbValue(QString::number(users().size() + 1)));
}

INSTANTIATE_TEST_SUITE_P(PasswordColumn, SqlServerSignIn,
                         ::testing::Values(QStringLiteral("varchar(300)"), QStringLiteral("nvarchar(300)")),
                         [](const ::testing::TestParamInfo<QString>& info) {
                             return info.param.startsWith(QLatin1Char('n')) ? std::string("nvarchar")
                                                                            : std::string("varchar");
                         });

} // namespace
