// The TDS peer itself, driven by the real FreeTDS driver through the product's
// gst::Connection: encryption modes, the login packet, typed answers, the
// request forms FreeTDS sends for bound values and transactions, faults.
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "support/QtPrinters.h"
#include "support/SharedConnection.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace
{

const QString kSaPassword = QStringLiteral("Sa-Passw0rd");

std::unique_ptr<gst::Connection> openThrough(const TdsPeer& peer,
                                             const QString& catalog = QStringLiteral("talvex"),
                                             const QString& password = kSaPassword,
                                             const QString& options = QString())
{
    return openThroughPeer(peer, catalog, password, options);
}

class PeerTest : public ::testing::Test
{
protected:
    void SetUp() override { db.createDatabase(QStringLiteral("talvex"), standardRetailData()); }
    TestDatabase db;
};

struct EncryptionCase {
    const char* name;
    TdsPeer::Encryption server;
    QString options; // appended to the connection string
    bool connects;
    bool loginEncrypted;
};

void PrintTo(const EncryptionCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeerEncryption : public PeerTest, public ::testing::WithParamInterface<EncryptionCase>
{
};

TEST_P(PeerEncryption, LoginAndTypedRowsArriveThroughFreeTds)
{
    TdsPeer peer(db.folder());
    peer.setEncryption(GetParam().server);
    peer.setAcceptedLogin(QStringLiteral("sa"), kSaPassword);
    peer.start();
    if (!GetParam().connects) {
        // FreeTDS gives up before sending the login: the password never leaves in clear.
        EXPECT_THROW(openThrough(peer, QStringLiteral("talvex"), kSaPassword, GetParam().options),
                     gst::AppError);
        EXPECT_TRUE(peer.logins().empty());
        return;
    }
    auto c = openThrough(peer, QStringLiteral("talvex"), kSaPassword, GetParam().options);

    auto rs =
        c->query(QStringLiteral("select ProductId, Name, LobId, VatPer from Products where ProductId = 3"));
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->value(0).kind(), gst::Value::Kind::Integer);
    EXPECT_EQ(rs->value(0).toInt32(), 3);
    EXPECT_EQ(rs->value(1).kind(), gst::Value::Kind::Text);
    EXPECT_EQ(rs->value(1).toText(), QStringLiteral("Gift Hamper"));
    EXPECT_EQ(rs->value(2).toInt16(), 1);
    EXPECT_EQ(rs->value(3).kind(), gst::Value::Kind::Decimal);
    EXPECT_EQ(rs->value(3).debugString(), QStringLiteral("Decimal(5.00)"));
    EXPECT_FALSE(rs->next());

    const auto logins = peer.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].userName, QStringLiteral("sa"));
    EXPECT_EQ(logins[0].password, kSaPassword);
    EXPECT_EQ(logins[0].database, QStringLiteral("talvex"));
    EXPECT_EQ(logins[0].tdsVersion, 0x74000004u);
    EXPECT_EQ(logins[0].encrypted, GetParam().loginEncrypted);
    EXPECT_TRUE(logins[0].accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PeerEncryption,
    ::testing::Values(EncryptionCase{"On", TdsPeer::Encryption::On, QString(), true, true},
                      EncryptionCase{"Off", TdsPeer::Encryption::Off, QString(), true, true},
                      // Encryption is required unless the options opt out.
                      EncryptionCase{"NotSupported", TdsPeer::Encryption::NotSupported,
                                     QStringLiteral("Encryption=request"), true, false},
                      EncryptionCase{"OnRequired", TdsPeer::Encryption::On,
                                     QStringLiteral("Encryption=require"), true, true},
                      EncryptionCase{"OffRequired", TdsPeer::Encryption::Off,
                                     QStringLiteral("Encryption=require"), true, true},
                      EncryptionCase{"NotSupportedRequired", TdsPeer::Encryption::NotSupported,
                                     QStringLiteral("Encryption=require"), false, false}),
    [](const ::testing::TestParamInfo<EncryptionCase>& info) { return std::string(info.param.name); });

// What FreeTDS 1.3 sends, as the peer received it: a bound value goes as
// sp_executesql with a positional NVARCHAR value; autocommit off, commit and
// autocommit on are transaction-manager requests, not SQL text.
TEST_F(PeerTest, BoundValuesAndTransactionsReachTheServerInFreeTdsForm)
{
    TdsPeer peer(db.folder());
    peer.start();
    auto c = openThrough(peer);

    auto rs =
        c->query(QStringLiteral("select Name from usermaster where loginname =?"), {QStringLiteral("admin")});
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->value(0).toText(), QStringLiteral("Administrator"));
    EXPECT_FALSE(rs->next());

    c->beginTrans();
    c->execute(QStringLiteral("update products set vatid=5019 ,VatPer=5 where lobid=1 and vatid=5010"));
    c->commitTrans();
    c->beginTrans();
    c->execute(QStringLiteral("update products set vatid=5003 where lobid=2"));
    c->rollbackTrans();

    const QStringList expected = {
        QStringLiteral("select Name from usermaster where loginname =@P1"),
        QStringLiteral("BEGIN TRANSACTION"),
        QStringLiteral("update products set vatid=5019 ,VatPer=5 where lobid=1 and vatid=5010"),
        QStringLiteral("COMMIT TRANSACTION + BEGIN TRANSACTION"),
        QStringLiteral("ROLLBACK TRANSACTION"), // autocommit back on
        QStringLiteral("BEGIN TRANSACTION"),
        QStringLiteral("update products set vatid=5003 where lobid=2"),
        QStringLiteral("ROLLBACK TRANSACTION + BEGIN TRANSACTION"),
        QStringLiteral("ROLLBACK TRANSACTION"),
    };
    EXPECT_EQ(peer.statements(), expected);

    const auto requests = peer.requests();
    ASSERT_FALSE(requests.empty());
    const TdsPeer::Request& lookup = requests.front();
    EXPECT_EQ(lookup.kind, TdsPeer::Request::Kind::Rpc);
    EXPECT_EQ(lookup.procedure, QStringLiteral("sp_executesql"));
    ASSERT_EQ(lookup.params.size(), 3u);
    EXPECT_EQ(lookup.params[1].value, QStringLiteral("@P1 NVARCHAR(5)"));
    const auto bound = lookup.boundValues();
    ASSERT_EQ(bound.size(), 1u);
    EXPECT_EQ(bound[0].type, QStringLiteral("nvarchar(5)"));
    EXPECT_EQ(bound[0].value, QStringLiteral("admin"));
    EXPECT_EQ(requests[2].kind, TdsPeer::Request::Kind::Batch);
    EXPECT_EQ(peer.roundTrips(1), 9); // one per request: the lookup was read to its end
    EXPECT_EQ(requests[3].kind, TdsPeer::Request::Kind::Transaction);

    // The committed update is in the database behind the peer; the rolled back one is not.
    EXPECT_EQ(db.queryRows(QStringLiteral("talvex"),
                           QStringLiteral("select ProductId, vatid from Products order by 1")),
              (DbRows{{QStringLiteral("1"), QStringLiteral("5003")},
                      {QStringLiteral("2"), QStringLiteral("5005")},
                      {QStringLiteral("3"), QStringLiteral("5019")},
                      {QStringLiteral("4"), QStringLiteral("5019")},
                      {QStringLiteral("5"), QStringLiteral("5010")},
                      {QStringLiteral("6"), QStringLiteral("5005")}}));
}

// The agent statement on msdb (no file behind it: an empty system database)
// gets the answer the test set.
TEST_F(PeerTest, TheAgentStatementGetsTheConfiguredAnswer)
{
    TdsPeer peer(db.folder());
    peer.start();
    auto c = openThrough(peer, QStringLiteral("msdb"));
    const QString start = QStringLiteral("exec master.dbo.xp_servicecontrol 'Start', 'SQLServerAgent' ");
    EXPECT_NO_THROW(c->execute(start));
    TdsPeer::AgentAnswer running;
    running.succeed = false;
    peer.setAgentAnswer(running);
    try {
        c->execute(start);
        ADD_FAILURE() << "no error";
    } catch (const gst::AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kCommandError);
        EXPECT_TRUE(e.description().contains(running.message)) << e.description().toStdString();
    }
    EXPECT_EQ(peer.statements(), (QStringList{start, start}));
    EXPECT_EQ(peer.requests()[0].database, QStringLiteral("msdb"));
}

// The translation takes the listed T-SQL forms and refuses the rest with
// SQL Server's syntax error instead of guessing.
TEST_F(PeerTest, BracketsTranslateAndUnlistedFormsAreSyntaxErrors)
{
    TdsPeer peer(db.folder());
    peer.start();
    auto c = openThrough(peer);
    auto rs = c->query(QStringLiteral("select [name] from [lobmaster] where [lobid] = 2"));
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->value(0).toText(), QStringLiteral("Apparel"));
    EXPECT_FALSE(rs->next());
    for (const char* sql : {"select top 1 name from lobmaster", "select isnull(name, '') from lobmaster",
                            "select N'x' from lobmaster", "select @@trancount"}) {
        SCOPED_TRACE(sql);
        try {
            c->execute(QString::fromLatin1(sql));
            ADD_FAILURE() << "accepted";
        } catch (const gst::AppError& e) {
            EXPECT_EQ(e.number(), gst::err::kCommandError);
            EXPECT_TRUE(e.description().contains(QLatin1String("Incorrect syntax near")))
                << e.description().toStdString();
        }
    }
}

// A delay before every answer simulates a slow link; each exchange pays it once.
TEST_F(PeerTest, AnswerDelayIsPaidOncePerRoundTrip)
{
    TdsPeer peer(db.folder());
    peer.setAnswerDelayMs(50);
    peer.start();
    auto c = openThrough(peer);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 4; ++i)
        c->execute(QStringLiteral("update options set billdate = billdate"));
    EXPECT_GE(timer.elapsed(), 4 * 50);
    EXPECT_EQ(peer.roundTrips(1), 4);
}

// Faults the peer injects, as the product's connection meets them: the
// number it raises, and what the database behind the peer keeps.
struct FaultCase {
    const char* name;
    TdsPeer::Fault fault;
    long number;        // the AppError the transaction meets
    const char* text;   // part of its description
    bool changesLanded; // both products moved to 5019
    bool rollbackSent;  // a transaction was open and the link alive: the rollback must reach the server
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeerFaults : public PeerTest, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(PeerFaults, TheProductMeetsTheFaultAndTheDatabaseKeepsWhatTheServerDid)
{
    TdsPeer peer(db.folder());
    peer.addFault(GetParam().fault);
    peer.start();
    auto c = openThrough(peer);

    long number = 0;
    QString description;
    try {
        c->beginTrans();
        c->execute(QStringLiteral("update products set vatid=5019 where ProductId=3"));
        c->execute(QStringLiteral("update products set vatid=5019 where ProductId=4"));
        c->commitTrans();
    } catch (const gst::AppError& e) {
        number = e.number();
        description = e.description();
        try {
            if (c->inTransaction())
                c->rollbackTrans();
        } catch (const gst::AppError& e) {
            EXPECT_FALSE(GetParam().rollbackSent) << e.description().toStdString();
        }
    }
    // Ending the connection would roll back too: what was sent is what counts.
    const QStringList sent = peer.statements(1);
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(sent.last().startsWith(QLatin1String("ROLLBACK TRANSACTION")), GetParam().rollbackSent)
        << sent.join(QLatin1Char('\n')).toStdString();
    c.reset();
    EXPECT_NE(number, 0);
    if (GetParam().number != 0) {
        EXPECT_EQ(number, GetParam().number) << description.toStdString();
    }
    EXPECT_TRUE(description.contains(QLatin1String(GetParam().text))) << description.toStdString();
    ASSERT_TRUE(peer.waitForNoOpenConnections(5000));
    const QString expected = GetParam().changesLanded ? QStringLiteral("5019") : QStringLiteral("5010");
    EXPECT_EQ(db.queryRows(QStringLiteral("talvex"),
                           QStringLiteral("select vatid from Products where ProductId in (3, 4) order by 1")),
              (DbRows{{expected}, {expected}}));
}

TdsPeer::Fault holdFor(TdsPeer::Fault f, int ms)
{
    f.holdMs = ms;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Injected, PeerFaults,
    ::testing::Values(
        FaultCase{"Deadlock", TdsPeer::Fault::error(1205, QStringLiteral("^update products"), 2),
                  gst::err::kCommandError, "deadlocked on lock resources", false, true},
        FaultCase{"Constraint", TdsPeer::Fault::error(547, QStringLiteral("ProductId=4")),
                  gst::err::kCommandError, "FOREIGN KEY", false, true},
        FaultCase{"LockTimeout", TdsPeer::Fault::error(1222), gst::err::kCommandError,
                  "Lock request time out", false, false},
        FaultCase{"DroppedOnSecondUpdate", TdsPeer::Fault::close(QStringLiteral("^update products"), 2), 0,
                  "Unexpected EOF from the server", false, false},
        FaultCase{"DroppedOnCommitBeforeIt", TdsPeer::Fault::close(QStringLiteral("^COMMIT")), 0,
                  "Unexpected EOF from the server", false, false},
        FaultCase{"DroppedOnCommitAfterIt", TdsPeer::Fault::close(QStringLiteral("^COMMIT"), 1, true), 0,
                  "Unexpected EOF from the server", true, false},
        FaultCase{"SilentThenDropped",
                  holdFor(TdsPeer::Fault::stopAnswering(QStringLiteral("ProductId=4")), 1500), 0,
                  "Unexpected EOF from the server", false, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

} // namespace
