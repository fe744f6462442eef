#pragma once

#include "platform/LoginSettings.h"
#include "platform/Odbc.h"

#include <QDateTime>
#include <QString>
#include <memory>

// Program-wide connection state, created empty at start and living until the
// program ends. ConnectDatabase fills it; connecting again (to the chosen
// firm's database) replaces gConnection, which closes the earlier connection.
// gst::endProgram closes nothing; a return from main releases it with the globals.
extern std::unique_ptr<gst::LoginSettings> gLogin;
extern QString gServerName;
extern QString gDbPassword;
extern QString gDatabaseName;
extern QString gDbUser;
extern std::unique_ptr<gst::Connection> gConnection;
extern QDateTime gBillDate;
extern const QString gMsgTitle; // always empty
// The login name that signed in, as typed (trimmed); the run log names it.
extern QString gLoginName;

// The run-date gate's cut-off: 27 July 2018, 00:00.
QDateTime runDateCutoff();
