// The yardstick of the start-up benchmark: a Qt program that shows one empty
// dialog. With "--with-text" the dialog holds one label, so that the font
// set-up every window with text needs is part of the run as well.
#include "ShownProbe.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <cstring>

namespace
{
void startProbe()
{
    bench::markStage("application object");
    bench::installShownProbe("QDialog");
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(startProbe)

int main(int argc, char** argv)
{
    bench::markMainEntry();
    const bool withText = argc > 1 && std::strcmp(argv[1], "--with-text") == 0;
    QApplication app(argc, argv);
    QDialog dialog;
    if (withText)
        new QLabel(QStringLiteral("User Name"), &dialog);
    return dialog.exec();
}
