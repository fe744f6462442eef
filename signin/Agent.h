#pragma once

#include "platform/Odbc.h"

#include <QString>
#include <functional>
#include <memory>

namespace gst
{

// The request that asks the server to start its SQL Server Agent service.
extern const char* const kStartAgentStatement;

// Replaces `connection` with a new one and opens it on the server's "msdb"
// database as gDbUser, through the driver of the login settings. The new,
// unopened connection stays in `connection` when opening fails; the failure
// passes to the caller.
void openAgentConnection(std::unique_ptr<Connection>& connection);

// Runs the request on an agent connection. An unopened connection refuses it
// with its own error (not the server's), as ADO does.
void executeOnAgentConnection(Connection* connection, const QString& sql);

// Sends the request through `execute` and tells the operator the outcome:
// started, or (any error the server answers the statement with) already
// running. Returns true after either message, when the picture has done its
// job; any other failure shows nothing and returns false.
bool startSqlAgent(const std::function<void(const QString& sql)>& execute);

} // namespace gst
