// The utility's own start-up (Main, ConnectDatabase, NeedsFirmSelection, the
// login window), built with the benchmark's probe: it reports when the login
// window is on screen and ends there. On the way it notes when the application
// object exists, when the first and the last statement before the login window
// are sent, and when the login window starts to be built and is shown.
#include "ShownProbe.h"

#include "app/ModMain.h"
#include "platform/Odbc.h"

#include <QCoreApplication>
#include <QEvent>

namespace
{

class StageFilter : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched->inherits("FrmLogin")) {
            // The first child arrives while setupUi runs in the constructor.
            if (event->type() == QEvent::ChildAdded)
                bench::markStage("login window construction");
            else if (event->type() == QEvent::Show)
                bench::markStage("login window show");
        }
        return false;
    }
};

void startProbe()
{
    bench::markStage("application object");
    gst::Connection::setTraceHook([](const QString&) {
        bench::markStage("first statement");
        bench::markStage("last statement", true);
    });
    QCoreApplication::instance()->installEventFilter(new StageFilter);
    bench::installShownProbe("FrmLogin");
}

} // namespace
Q_COREAPP_STARTUP_FUNCTION(startProbe)

int main(int argc, char** argv)
{
    bench::markMainEntry();
    return gst::runApplication(argc, argv);
}
