// Connection security on the FreeTDS path: what the driver and the driver
// manager may write to files while the utility connects.

#include "platform/Error.h"
#include "platform/Odbc.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using gst::AppError;
using gst::Connection;

namespace
{

// The sa password of these tests: "}", ";", "{" and "=" in it, so that a
// trace that masks only up to the first ";" still shows the rest.
const QString kSaPassword = QStringLiteral("Zq7sa;Pw}={x}42");

// A loopback port that was just free: bound, then closed without listening.
int closedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(addr);
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// Every file under `folder` that holds `needle` (as UTF-8 or as UTF-16LE).
QStringList filesHolding(const QString& folder, const QString& needle)
{
    QStringList found;
    const QByteArray utf8 = needle.toUtf8();
    const QByteArray utf16(reinterpret_cast<const char*>(needle.utf16()), needle.size() * 2);
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = f.readAll();
        if (content.contains(utf8) || content.contains(utf16))
            found << f.fileName();
    }
    return found;
}

// Two connection attempts, as a run makes (the shop's database and msdb), with
// FreeTDS's dump and unixODBC's trace both asked for through the environment.
reliability::ChildOutcome connectWithTracesAskedFor(const QString& folder, const QByteArray& odbcSection,
                                                    int port)
{
    QFile ini(QDir(folder).filePath("odbcinst.ini"));
    if (ini.open(QIODevice::WriteOnly)) {
        ini.write("[ODBC]\n" + odbcSection + "TraceFile=" + QFile::encodeName(folder) +
                  "/odbc-trace.log\n\n[FreeTDS]\nDriver=libtdsodbc.so\n");
        ini.close();
    }
    return reliability::runChild(
        [&] {
            // unixODBC reads odbcinst.ini from ODBCSYSINI; set before this child's first ODBC call.
            qputenv("ODBCSYSINI", QFile::encodeName(folder));
            qputenv("TDSDUMP", QFile::encodeName(folder) + "/tdsdump.log");
            qputenv("TDSDUMPCONFIG", QFile::encodeName(folder) + "/tdsdumpconfig.log");
            for (const char* catalog : {"talvex", "msdb"}) {
                Connection c;
                c.setProvider("SQLOLEDB");
                c.setDriver("FreeTDS", QString());
                c.setProperty("Data Source", QStringLiteral("127.0.0.1,%1").arg(port));
                c.setProperty("Initial Catalog", catalog);
                c.setProperty("User ID", "sa");
                c.setProperty("Password", kSaPassword);
                try {
                    c.open();
                    reliability::report(catalog, "connected");
                } catch (const AppError& e) {
                    reliability::report(catalog, QString::number(e.number()));
                }
            }
        },
        60000);
}

TEST(SqlServerTraces, NoTraceFileHoldsTheSaPassword)
{
    const int port = closedLoopbackPort();
    ASSERT_GT(port, 0);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const reliability::ChildOutcome outcome = connectWithTracesAskedFor(dir.path(), "Trace=Yes\n", port);
    ASSERT_TRUE(outcome.exited) << outcome.describe().toStdString();
    // The attempts were made: the closed port answered both.
    EXPECT_EQ(outcome.result("talvex"), QString::number(gst::err::kGenericFailure));
    EXPECT_EQ(outcome.result("msdb"), QString::number(gst::err::kGenericFailure));
    // unixODBC masks only up to the first ";": look for the whole and for the rest.
    EXPECT_EQ(filesHolding(dir.path(), kSaPassword), QStringList());
    EXPECT_EQ(filesHolding(dir.path(), kSaPassword.mid(kSaPassword.indexOf(';') + 1)), QStringList());
}

TEST(SqlServerTraces, ForcedOdbcTracingIsRefusedBeforeConnecting)
{
    const int port = closedLoopbackPort();
    ASSERT_GT(port, 0);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const reliability::ChildOutcome outcome =
        connectWithTracesAskedFor(dir.path(), "Trace=Yes\nForceTrace=Yes\n", port);
    ASSERT_TRUE(outcome.exited) << outcome.describe().toStdString();
    EXPECT_EQ(outcome.result("talvex"), QString::number(gst::err::kInvalidArgument));
    EXPECT_EQ(filesHolding(dir.path(), kSaPassword.mid(kSaPassword.indexOf(';') + 1)), QStringList());
}

} // namespace
