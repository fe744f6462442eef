#include "support/SharedConnection.h"

#include "state/ConnectionState.h"
#include "support/TestDatabase.h"

void connectShared(const TestDatabase& db, const QString& catalog)
{
    gConnection.reset();
    auto c = std::make_unique<gst::Connection>();
    c->setProvider(QStringLiteral("SQLOLEDB"));
    c->setDriver(QStringLiteral("SQLite3"), QString());
    c->setProperty(QStringLiteral("Data Source"), db.folder());
    c->setProperty(QStringLiteral("Initial Catalog"), catalog);
    c->setProperty(QStringLiteral("User ID"), QStringLiteral("sa"));
    c->setProperty(QStringLiteral("Password"), QStringLiteral("demo"));
    c->open();
    gConnection = std::move(c);
    gServerName = db.folder();
    gDatabaseName = catalog;
}

int sharedOpenStatements()
{
    return gConnection ? gConnection->openStatementCount() : 0;
}
