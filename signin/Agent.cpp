#include "signin/Agent.h"

#include "platform/Error.h"
#include "state/ConnectionState.h"
#include "widgets/MessageBox.h"

namespace gst
{

const char* const kStartAgentStatement = "exec master.dbo.xp_servicecontrol 'Start', 'SQLServerAgent' ";

void openAgentConnection(std::unique_ptr<Connection>& connection)
{
    connection = std::make_unique<Connection>();
    if (!gLogin)
        throw AppError(gst::err::kObjectNotSet,
                       QStringLiteral("Object variable or With block variable not set"));
    connection->setProvider(QStringLiteral("sqloledb"));
    connection->setDriver(gLogin->driver, gLogin->options);
    connection->setProperty(QStringLiteral("Data Source"), gServerName);
    connection->setProperty(QStringLiteral("Initial Catalog"), QStringLiteral("msdb"));
    connection->setProperty(QStringLiteral("User ID"), gDbUser);
    connection->setProperty(QStringLiteral("Password"), gDbPassword);
    connection->open();
}

void executeOnAgentConnection(Connection* connection, const QString& sql)
{
    // An unopened connection raises its own number, which the click shows nothing for.
    if (!connection)
        throw AppError(err::kConnectionClosed,
                       QStringLiteral("The connection cannot be used to perform this "
                                      "operation. It is either closed or invalid in this "
                                      "context."));
    connection->execute(sql);
}

bool startSqlAgent(const std::function<void(const QString& sql)>& execute)
{
    try {
        execute(QString::fromLatin1(kStartAgentStatement));
        showMessage(QStringLiteral("SQL Server Agent Started Successfully"), std::nullopt,
                    MsgIcon::Information);
        return true;
    } catch (const AppError& e) {
        // The server cannot tell a running Agent from its other refusals.
        if (e.number() != err::kCommandError)
            return false;
    } catch (const std::exception&) {
        return false;
    }
    try {
        showMessage(QStringLiteral("SQL Server Agent already Running..."), std::nullopt,
                    MsgIcon::Information);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

} // namespace gst
