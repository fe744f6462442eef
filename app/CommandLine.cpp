#include "app/CommandLine.h"

#include "platform/LoginSettings.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"

#include <QCommandLineParser>
#include <QStringList>

#ifndef GST_PROGRAM_VERSION
#error "GST_PROGRAM_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace gst
{

namespace
{

const char kProgramName[] = "gstconvert";

QString helpText()
{
    return QStringLiteral("Usage: %1 [--help | --version]\n"
                          "\n"
                          "Moves one line of business of the retail database on SQL Server from the\n"
                          "GST slab \"GST 5% (18% above Rs 500)\" (tax record 5010) to \"GST 5% (18% above\n"
                          "Rs 1000)\" (tax record 5019) in one transaction, after the operator has signed\n"
                          "in with a user of the retail application. Without options it opens its windows.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     show this help and exit\n"
                          "  -v, --version  show the name and version and exit\n"
                          "\n"
                          "Login settings (the server name and the password of the database login sa):\n"
                          "%2\n"
                          "\n"
                          "Exit codes:\n"
                          "  0   the conversion ended with \"Done\"\n"
                          "  1   the operator cancelled or closed a window without converting\n"
                          "  2   ended after a refusal (run date, rows already on the new slab, the new\n"
                          "      slab record or the GST attribute's table missing)\n"
                          "  3   ended after an error report (connection, login settings, any other error)\n"
                          "  4   no display to show the windows on\n"
                          "  64  the command line was not understood\n"
                          "\n"
                          "See gstconvert(1).\n")
        .arg(QLatin1String(kProgramName), loginSettingsHelp());
}

} // namespace

std::optional<int> handleCommandLine(int argc, char** argv)
{
    if (argc <= 1)
        return std::nullopt;

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // Single-dash long names ("-platform") are read as one unknown option, not
    // as a row of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);

    QString error;
    if (!parser.parse(arguments))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
    if (!error.isEmpty()) {
        writeText(
            stderr,
            QStringLiteral("%1: %2 See '%1 --help'.\n").arg(QLatin1String(kProgramName), printable(error)));
        return kExitUsage;
    }

    if (parser.isSet(help)) {
        writeText(stdout, helpText());
        return kExitDone;
    }
    if (parser.isSet(version)) {
        writeText(stdout, QStringLiteral("%1 %2\n").arg(QLatin1String(kProgramName),
                                                        QLatin1String(GST_PROGRAM_VERSION)));
        return kExitDone;
    }
    // A lone "--" ends the options and leaves none: the windows, as without arguments.
    return std::nullopt;
}

} // namespace gst
