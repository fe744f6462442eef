// The TDS peer itself, driven by the real FreeTDS driver through the product's
// gst::Connection: encryption modes, the login packet, typed answers, the
// request forms FreeTDS sends for bound values and transactions, faults.
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "support/QtPrinters.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"

#include <gtest/gtest.h>

namespace
{

const QString kSaPassword = QStringLiteral("Sa-Passw0rd");

std::unique_ptr<gst::Connection> openThrough(const TdsPeer& peer,
                                             const QString& catalog = QStringLiteral("talvex"),
                                             const QString& password = kSaPassword,
                                             const QString& options = QString())
{
    auto c = std::make_unique<gst::Connection>();
    c->setProvider(QStringLiteral("SQLOLEDB"));
    c->setDriver(QStringLiteral("FreeTDS"), options);
    c->setProperty(QStringLiteral("Data Source"), peer.serverName());
    c->setProperty(QStringLiteral("Initial Catalog"), catalog);
    c->setProperty(QStringLiteral("User ID"), QStringLiteral("sa"));
    c->setProperty(QStringLiteral("Password"), password);
    c->open();
    return c;
}

class PeerTest : public ::testing::Test
{
protected:
    void SetUp() override { db.createDatabase(QStringLiteral("talvex"), standardRetailData()); }
    TestDatabase db;
};

struct EncryptionCase {
    TdsPeer::Encryption server;
    QString options; // appended to the connection string
    bool loginEncrypted;
};

class PeerEncryption : public PeerTest, public ::testing::WithParamInterface<EncryptionCase>
{
};

TEST_P(PeerEncryption, LoginAndTypedRowsArriveThroughFreeTds)
{
    TdsPeer peer(db.folder());
    peer.setEncryption(GetParam().server);
    peer.setAcceptedLogin(QStringLiteral("sa"), kSaPassword);
    peer.start();
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

INSTANTIATE_TEST_SUITE_P(Modes, PeerEncryption,
                         ::testing::Values(EncryptionCase{TdsPeer::Encryption::On, QString(), true},
                                           EncryptionCase{TdsPeer::Encryption::Off, QString(), true},
                                           // Encryption is required unless the options opt out.
                                           EncryptionCase{TdsPeer::Encryption::NotSupported,
                                                          QStringLiteral("Encryption=request"), false}),
                         [](const ::testing::TestParamInfo<EncryptionCase>& info) {
                             switch (info.param.server) {
                             case TdsPeer::Encryption::On:
                                 return std::string("On");
                             case TdsPeer::Encryption::Off:
                                 return std::string("Off");
                             default:
                                 return std::string("NotSupported");
                             }
                         });

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

} // namespace
