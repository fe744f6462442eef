#pragma once

#include "support/QtPrinters.h"
#include <QString>
#include <memory>

class TestDatabase;

// Opens gConnection on database `catalog` of the test folder through the
// SQLite3 ODBC driver, the way ConnectDatabase does, without the login
// settings or the run-date gate.
void connectShared(const TestDatabase& db, const QString& catalog);

// Statements currently open on gConnection.
int sharedOpenStatements();
