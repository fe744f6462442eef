#include "platform/LoginSettings.h"

#include "platform/ConnectionString.h"
#include "platform/Error.h"
#include "platform/LoginComponent.h"
#include "platform/Text.h"
#include "platform/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <utility>

namespace gst
{

AppError settingsFileError(SettingsFileFault fault, const QString& shown, const QString& detail)
{
    switch (fault) {
    case SettingsFileFault::Missing:
        return AppError(err::kLoginSettings,
                        QStringLiteral("The login settings file %1 was not found. Create it with the lines "
                                       "ServerName=<server> and pwd=<password of sa>, readable only by you.")
                            .arg(shown));
    case SettingsFileFault::NotRegular:
        return AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 is not a regular file. Replace it with a "
                           "plain text file holding ServerName=<server> and pwd=<password of sa>.")
                .arg(shown));
    case SettingsFileFault::TooLarge:
        return AppError(err::kLoginSettings,
                        QStringLiteral("The login settings file %1 is larger than %2 bytes; it should hold a "
                                       "few lines only.")
                            .arg(shown, QString::number(kLongestSettingsFile)));
    case SettingsFileFault::Unreadable:
        break;
    }
    return AppError(err::kLoginSettings,
                    QStringLiteral("The login settings file %1 cannot be read: %2").arg(shown, detail));
}

QString loginSettingsPath()
{
    return talvexFolder(UserFolder::Config) + QStringLiteral("/login.ini");
}

LoginSettings parseLoginSettings(const QByteArray& content)
{
    LoginSettings s;
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3); // a byte order mark from Notepad
    QList<QByteArray> lines = bytes.split('\n');
    wipe(bytes);
    struct Wiper {
        QList<QByteArray>& lines;
        ~Wiper()
        {
            for (QByteArray& line : lines)
                wipe(line);
        }
    } wiper{lines};
    int number = 0;
    for (QByteArray& raw : lines) {
        ++number;
        if (raw.endsWith('\r'))
            raw.chop(1);
        // Every line is checked as a whole: a value that is not UTF-8, or holds a
        // control character, would reach the server as other text than written.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = decoder.decode(raw);
        const int eq = static_cast<int>(line.indexOf(QLatin1Char('=')));
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        const bool control = hasControlCharacter(line);
        if (decoder.hasError() || control) {
            wipe(line);
            // Named by its number, and by its key only where that is one the
            // utility knows: the rest of the line may be the password.
            QString known;
            for (const char* name : {"ServerName", "pwd", "Driver", "Options"}) {
                if (eq >= 0 && key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                    known = QStringLiteral(" (%1)").arg(QLatin1String(name));
            }
            throw AppError(
                err::kLoginSettings,
                QStringLiteral("The login settings file holds %1 in line %2%3. Save it as UTF-8 text, "
                               "one key=value to a line, with no control characters.")
                    .arg(decoder.hasError() ? QStringLiteral("text that is not UTF-8")
                                            : QStringLiteral("a control character"),
                         QString::number(number), known));
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) ||
            trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1Char('[')) || eq < 0) {
            wipe(line);
            continue; // a comment, [General], or no value
        }
        // The value is taken exactly as written: a server "SHOP\SQLEXPRESS" keeps its backslash.
        const QString value = line.mid(eq + 1);
        if (key.compare(QLatin1String("ServerName"), Qt::CaseInsensitive) == 0)
            s.serverName = value;
        else if (key.compare(QLatin1String("pwd"), Qt::CaseInsensitive) == 0)
            s.pwd = value;
        else if (key.compare(QLatin1String("Driver"), Qt::CaseInsensitive) == 0)
            s.driver = value.trimmed();
        else if (key.compare(QLatin1String("Options"), Qt::CaseInsensitive) == 0)
            s.options = value;
        wipe(line);
    }
    return s;
}

LoginSettings readLoginSettingsFrom(const QString& path, bool serverRequired)
{
    const QString shown = QDir::toNativeSeparators(path);
    QByteArray content = readSettingsFile(path, shown);
    LoginSettings s = parseLoginSettings(content);
    wipe(content);
    if (serverRequired && s.serverName.trimmed().isEmpty())
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 does not name a server (ServerName=...).").arg(shown));
    if (s.driver.isEmpty())
        s.driver = defaultOdbcDriver();
    return s;
}

LoginSettings readLoginSettings()
{
    const QString path = loginSettingsPath();
    const QString component = QLatin1String(kLoginComponentClass);
    LoginComponentAnswer answer = readLoginComponent();
    if (answer.outcome != LoginComponentAnswer::Outcome::Answered) {
        try {
            return readLoginSettingsFrom(path);
        } catch (const AppError& e) {
            if (answer.outcome == LoginComponentAnswer::Outcome::NoComponents)
                throw;
            throw AppError(e.number(),
                           QStringLiteral("The login component %1 is not registered on this computer. %2")
                               .arg(component, e.description()));
        }
    }
    LoginSettings s = std::move(answer.settings);
    // The component's values are checked as the file's are.
    for (const QString* value : {&s.serverName, &s.pwd}) {
        if (hasControlCharacter(*value)) {
            wipe(s.pwd);
            throw AppError(
                err::kLoginSettings,
                QStringLiteral("The login component %1 gave a %2 holding a control character.")
                    .arg(component, value == &s.pwd ? QStringLiteral("pwd") : QStringLiteral("ServerName")));
        }
    }
    if (s.serverName.trimmed().isEmpty()) {
        wipe(s.pwd);
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login component %1 gave no server name (ServerName).").arg(component));
    }
    // The component knows no driver or options: the file, when there is one,
    // still gives them (its own ServerName and pwd are not used).
    s.driver = defaultOdbcDriver();
    if (QFileInfo::exists(path)) {
        LoginSettings file = readLoginSettingsFrom(path, false);
        wipe(file.pwd);
        s.driver = file.driver;
        s.options = file.options;
    }
    return s;
}

} // namespace gst
