#include "state/ConnectionState.h"

std::unique_ptr<gst::LoginSettings> gLogin;
QString gServerName;
QString gDbPassword;
QString gDatabaseName;
QString gDbUser;
std::unique_ptr<gst::Connection> gConnection;
QDateTime gBillDate;
const QString gMsgTitle;
QString gLoginName;

QDateTime runDateCutoff()
{
    return QDateTime(QDate(2018, 7, 27), QTime(0, 0), Qt::UTC);
}
