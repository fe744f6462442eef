// Renders the three windows to PNG files from the demo databases, as the
// operator meets them: the firm picker on "talvex", the login window, and the
// conversion window on the first firm with a line of business chosen.
//
//   XDG_CONFIG_HOME=<build>/demo/config gst_screenshots <output folder>
//
// The login settings point at the demo databases; scripts/screenshots.sh sets
// this up. Message boxes are scripted, so nothing can wait for an answer.
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "firms/FrmSelectFirm.h"
#include "platform/ProgramEnd.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "ui_Form1.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>

#include <cstdio>

namespace
{

// Lets the window be shown, activated and painted before it is drawn to a file.
void settle(QWidget* window)
{
    window->show();
    QApplication::setActiveWindow(window);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(QWidget* window, const QString& path)
{
    settle(window);
    if (!window->grab().save(path, "PNG")) {
        std::fprintf(stderr, "gst_screenshots: cannot write %s\n", qPrintable(path));
        gst::endProgram(1);
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), window->width(), window->height());
    window->hide();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: gst_screenshots <output folder>\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    gst::msgbox_seam::setScripted(true);

    // The application's own database lists the firms.
    gDatabaseName = QStringLiteral("talvex");
    ConnectDatabase();
    auto* firms = new FrmSelectFirm(&ConnectDatabase);
    firms->Form_Load();
    save(firms, out + QStringLiteral("/firm-selection.png"));

    auto* login = new FrmLogin(&Form1::openConversionWindow);
    login->Form_Load();
    save(login, out + QStringLiteral("/login.png"));

    // The first firm's database, as after choosing it and signing in.
    gDatabaseName = QStringLiteral("firm_sunrise");
    ConnectDatabase();
    Form1* conversion = Form1::openConversionWindow();
    QComboBox* list = conversion->ui()->Combo1;
    const int apparel = list->findText(QStringLiteral("Apparel"));
    if (apparel < 0) {
        std::fprintf(stderr, "gst_screenshots: the demo firm has no line of business \"Apparel\"\n");
        gst::endProgram(1);
    }
    list->setCurrentIndex(apparel);
    emit list->activated(apparel);
    save(conversion, out + QStringLiteral("/conversion.png"));

    // The windows end the program when closed; nothing more to do.
    gst::endProgram(0);
}
