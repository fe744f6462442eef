// The built program asked for --help, --version or something it does not know,
// with no display: it must answer and end before any window or connection.
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

struct Outcome {
    int exitCode = -1; // -1: crashed or did not finish
    QString out;
    QString err;
};

Outcome runProgram(const QStringList& arguments, const QString& configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(GST_PROGRAM), arguments);
    Outcome run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class CommandLine : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_config.isValid()); }
    Outcome run(const QStringList& arguments) const { return runProgram(arguments, m_config.path()); }
    QTemporaryDir m_config;
};

TEST_F(CommandLine, VersionAnswersWithTheProjectVersion)
{
    for (const QString& option : {QStringLiteral("--version"), QStringLiteral("-v")}) {
        const Outcome r = run({option});
        EXPECT_EQ(r.exitCode, 0) << option.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.out, QStringLiteral("gstconvert " GST_EXPECTED_VERSION "\n")) << option.toStdString();
        EXPECT_EQ(r.err, QString()) << option.toStdString();
    }
}

TEST_F(CommandLine, HelpTellsTheSettingsFileAndTheExitCodes)
{
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const Outcome r = run({option});
        EXPECT_EQ(r.exitCode, 0) << option.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.err, QString()) << option.toStdString();
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: gstconvert"))) << r.out.toStdString();
        // The file this environment would really read, not only the rule.
        EXPECT_TRUE(r.out.contains(
            QDir::toNativeSeparators(QDir(m_config.path()).filePath(QStringLiteral("talvex/login.ini")))))
            << r.out.toStdString();
        for (const char* line : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  64 "})
            EXPECT_TRUE(r.out.contains(QLatin1String(line))) << "no exit code line" << line;
    }
}

// The configuration folder comes from the environment and is echoed: escape
// sequences and line breaks in it must not reach the terminal.
TEST_F(CommandLine, HelpShowsAHostileSettingsFolderHarmlessly)
{
    const Outcome r =
        runProgram({QStringLiteral("--help")}, m_config.path() + QStringLiteral("/a\x1b]2;owned\x07\nb"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QDir::toNativeSeparators(QStringLiteral("/a?]2;owned??b/talvex/login.ini."))))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QChar(0x1b)));
}

// Anything else is refused on one line of the error output with code 64,
// including text that would otherwise break the line or drive the terminal.
TEST_F(CommandLine, RefusesAnythingElseOnOneLine)
{
    const struct {
        QStringList arguments;
        const char* shown;
    } cases[] = {
        {{QStringLiteral("--bogus")}, "Unknown option 'bogus'"},
        {{QStringLiteral("-platform"), QStringLiteral("offscreen")}, "Unknown option 'platform'"},
        {{QStringLiteral("--help=all")}, "--help"},
        {{QStringLiteral("talvex")}, "Unexpected argument 'talvex'"},
        {{QStringLiteral("--version"), QStringLiteral("extra")}, "Unexpected argument 'extra'"},
        {{QStringLiteral("--a\x1b]0;owned\x07\nb\u202Ec")}, "Unknown option 'a?]0;owned??b?c'"},
    };
    for (const auto& c : cases) {
        const std::string label = c.arguments.join(QLatin1Char(' ')).toStdString();
        const Outcome r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 64) << label << ": " << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out, QString()) << label;
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << label << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith(QLatin1Char('\n'))) << label;
        EXPECT_TRUE(r.err.contains(QLatin1String(c.shown))) << label << ": " << r.err.toStdString();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
