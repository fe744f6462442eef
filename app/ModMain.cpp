#include "app/ModMain.h"

#include "conversion/Form1.h"
#include "firms/FrmSelectFirm.h"
#include "platform/Error.h"
#include "platform/ProgramEnd.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"
#include "widgets/Display.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <cstdio>

using gst::AppError;
using gst::MsgIcon;

void ConnectDatabase()
{
    try {
        gLogin.reset();
        gLogin = std::make_unique<gst::LoginSettings>(gst::readLoginSettings());
        gServerName = gLogin->serverName;
        gDbPassword = gLogin->pwd;
        gDbUser = QStringLiteral("sa");

        // Replacing the connection releases, and so closes, the earlier one.
        gConnection.reset();
        gConnection = std::make_unique<gst::Connection>();
        gConnection->setProvider(QStringLiteral("SQLOLEDB"));
        gConnection->setDriver(gLogin->driver, gLogin->options);
        gConnection->setProperty(QStringLiteral("Data Source"), gServerName);
        gConnection->setProperty(QStringLiteral("Initial Catalog"), gDatabaseName);
        gConnection->setProperty(QStringLiteral("User ID"), gDbUser);
        gConnection->setProperty(QStringLiteral("Password"), gDbPassword);
        gConnection->open();

        // No row or a NULL bill date reads as 0, the zero date, far before the cut-off.
        gBillDate = GetScalar(QStringLiteral("select billdate from options")).toDateTime();

        if (runDateCutoff() > gBillDate) {
            gst::showMessage(QStringLiteral("This utility is to be run on or after 27th July 2018 only."),
                             QStringLiteral("Invalid Date"), MsgIcon::Critical);
            gst::endProgram(gst::kExitRefused);
        }
    } catch (const AppError& e) {
        if (e.number() == gst::err::kGenericFailure)
            gst::showMessage(QStringLiteral("Network is down Or Server may be Off!"), gMsgTitle,
                             MsgIcon::Critical);
        else
            gst::showMessage(e.description(), QString::number(e.number()), MsgIcon::Critical);
        gst::endProgram(gst::kExitError);
    } catch (const std::exception& e) {
        gst::showMessage(QString::fromLocal8Bit(e.what()), QString::number(gst::err::kGenericFailure),
                         MsgIcon::Critical);
        gst::endProgram(gst::kExitError);
    }
}

bool NeedsFirmSelection()
{
    // Both questions are always asked, in this order, before the decision.
    const gst::Value firms =
        GetScalar(QStringLiteral("SELECT COUNT(*) FROM FirmMaster WHERE Enabled=1 AND DBName<>''"));
    const gst::Value multiDb = GetScalar(QStringLiteral("SELECT Value FROM Options2 WHERE Name='MultiDB'"));
    const bool severalFirms = firms.greaterThan(1);
    const bool multiDbOn = multiDb.equalsTrue();
    return severalFirms && multiDbOn;
}

void Main()
{
    gDatabaseName = QStringLiteral("talvex");
    ConnectDatabase();
    if (NeedsFirmSelection()) {
        FrmSelectFirm firmWindow(&ConnectDatabase);
        firmWindow.Form_Load();
        firmWindow.exec();
    }
    FrmLogin loginWindow(&Form1::openConversionWindow);
    loginWindow.Form_Load();
    loginWindow.exec();
}

namespace gst
{

int runApplication(int& argc, char** argv)
{
    const QString noDisplay = missingDisplay();
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr,
                     "%s: %s.\nStart it from a desktop session or over ssh -X, under xvfb-run -a, or with "
                     "QT_QPA_PLATFORM=vnc (see README.md).\n",
                     kAppTitle, noDisplay.toLocal8Bit().constData());
        return kExitNoDisplay;
    }
    QApplication app(argc, argv);
    guarded(&Main);
    // After a sign-in the conversion window is the only window; closing it ends
    // the program without a conversion.
    bool anyWindow = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        anyWindow = anyWindow || w->isVisible();
    if (anyWindow)
        app.exec();
    return kExitCancelled;
}

} // namespace gst
