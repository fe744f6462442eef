#pragma once

#include "support/QtPrinters.h"
#include <QString>
#include <memory>

class TestDatabase;

// Opens gConnection on database `catalog` of the test folder through the
// SQLite3 ODBC driver, the way ConnectDatabase does, without the login
// settings or the run-date gate.
void connectShared(const TestDatabase& db, const QString& catalog);

// A connection to database `catalog` through the FreeTDS driver to a running
// TdsPeer, as user "sa" with `password`, opened the way ConnectDatabase opens one.
class TdsPeer;
namespace gst
{
class Connection;
}
std::unique_ptr<gst::Connection> openThroughPeer(const TdsPeer& peer, const QString& catalog,
                                                 const QString& password, const QString& options = QString());
// The same, made gConnection.
void connectSharedThroughPeer(const TdsPeer& peer, const QString& catalog, const QString& password,
                              const QString& options = QString());

// Statements currently open on gConnection.
int sharedOpenStatements();
