// What the platform layer does only on Windows: the login component (the
// suite's own COM server, support/win/LoginComponentServer.cpp, registered for
// the test as "LoginDll.clsLogin"), SendInput, and the user's folders. Runs on
// the windows platform plugin (real windows), not offscreen.

#include "platform/Error.h"
#include "platform/LoginSettings.h"
#include "platform/QtRuntime.h"
#include "platform/RunLog.h"
#include "signin/FrmLogin.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"
#include "widgets/ButtonKeys.h"
#include "widgets/KeyInjection.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <shlobj.h>

namespace
{

// Through HKEY_CLASSES_ROOT, where wine (8.0) looks for classes; it does not
// merge in the user's own Software\Classes.
const std::wstring kClassKey = L"LoginDll.clsLogin";
const std::wstring kClassId = L"{6B1D3C57-2F0E-4F7A-9A61-3D528E0C7142}";
const std::wstring kIdKey = L"CLSID\\" + kClassId;

bool setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

struct Registration {
    explicit Registration(bool active)
    {
        const std::wstring dll =
            QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/gsttestcomponent.dll")
                .toStdWString();
        ok = !active || (setValue(kClassKey + L"\\CLSID", nullptr, kClassId) &&
                         setValue(kIdKey + L"\\InprocServer32", nullptr, dll) &&
                         setValue(kIdKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"));
    }
    ~Registration()
    {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kIdKey.c_str());
    }
    bool ok = false;
};

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// Counts key presses and those of them that came from the system's input
// queue (spontaneous), not from Qt's own event queue.
struct KeyWatcher : QObject {
    int presses = 0;
    int fromSystem = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            ++presses;
            fromSystem += e->spontaneous() ? 1 : 0;
        }
        return false;
    }
};

struct Row {
    const char* name;
    bool registered;
    const wchar_t* server;
    const wchar_t* pwd;
    const wchar_t* failing; // the property that fails
    const char* file;       // the settings file, or none
    const char* expectServer;
    const char* expectPwd;
    const char* expectDriver;
    const char* expectOptions;
    const char* error; // a part of the error's description
};

} // namespace

TEST(LoginComponent, GivesTheServerAndPasswordOrSaysWhatWasTried)
{
    const Row rows[] = {
        {"the component answers", true, L"SHOP\\SQLEXPRESS", L"p;w}d=1", nullptr, nullptr, "SHOP\\SQLEXPRESS",
         "p;w}d=1", "SQL Server", "", nullptr},
        {"the file adds the driver and options", true, L"shop", L"pw", nullptr,
         "ServerName=other\npwd=x\nDriver=SQLite3\nOptions=Timeout=5\n", "shop", "pw", "SQLite3", "Timeout=5",
         nullptr},
        {"not registered: the file", false, nullptr, nullptr, nullptr, "ServerName=fileserver\npwd=fp\n",
         "fileserver", "fp", "SQL Server", "", nullptr},
        {"not registered, no file", false, nullptr, nullptr, nullptr, nullptr, "", "", "", "",
         "The login component LoginDll.clsLogin is not registered on this computer. The login settings file"},
        {"a property fails", true, L"shop", L"pw", L"pwd", nullptr, "", "", "", "",
         "The login component LoginDll.clsLogin could not give pwd: Login database not found"},
        {"a control character", true, L"shop\x1b[2J", L"pw", nullptr, nullptr, "", "", "", "",
         "gave a ServerName holding a control character"},
        {"no server", true, L"", L"pw", nullptr, "ServerName=fileserver\npwd=fp\n", "", "", "", "",
         "The login component LoginDll.clsLogin gave no server name"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestDatabase db;
        const QString config = db.folder() + QStringLiteral("/config");
        if (row.file)
            db.writeLoginSettingsText(row.file, 0600);
        else
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        const Registration registration(row.registered);
        ASSERT_TRUE(registration.ok);
        SetEnvironmentVariableW(L"GST_TEST_COMPONENT_SERVER", row.server);
        SetEnvironmentVariableW(L"GST_TEST_COMPONENT_PWD", row.pwd);
        SetEnvironmentVariableW(L"GST_TEST_COMPONENT_FAIL", row.failing);
        try {
            const gst::LoginSettings s = gst::readLoginSettings();
            EXPECT_EQ(row.error, nullptr) << "no error was raised";
            EXPECT_EQ(s.serverName, QString::fromUtf8(row.expectServer));
            EXPECT_EQ(s.pwd, QString::fromUtf8(row.expectPwd));
            EXPECT_EQ(s.driver, QString::fromUtf8(row.expectDriver));
            EXPECT_EQ(s.options, QString::fromUtf8(row.expectOptions));
        } catch (const gst::AppError& e) {
            ASSERT_NE(row.error, nullptr) << e.description().toStdString();
            EXPECT_EQ(e.number(), gst::err::kLoginSettings);
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(row.error)))
                << e.description().toStdString();
        }
        qunsetenv("XDG_CONFIG_HOME");
    }
}

TEST(KeyInjection, KeysReachTheFocusedWindowThroughTheInputQueue)
{
    QWidget window;
    auto* first = new QLineEdit(&window);
    auto* second = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(first);
    layout->addWidget(second);
    KeyWatcher watcher;
    first->installEventFilter(&watcher);
    second->installEventFilter(&watcher);
    window.show();
    window.activateWindow();
    first->setFocus();
    ASSERT_TRUE(waitFor([&] { return window.isActiveWindow() && first->hasFocus(); }));

    struct Step {
        int virtualKey;
        QLineEdit* field; // where the text then stands
        const char* text;
    };
    const Step steps[] = {
        {'G', first, "g"},
        {'7', first, "g7"},
        {9, second, ""}, // Tab moves on
        {'S', second, "s"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.virtualKey);
        gst::injectKey(step.virtualKey, true);
        gst::injectKey(step.virtualKey, false);
        EXPECT_TRUE(waitFor([&] { return step.field->hasFocus() && step.field->text() == step.text; }))
            << "first: " << first->text().toStdString() << ", second: " << second->text().toStdString();
    }
    EXPECT_EQ(watcher.presses, 4);
    EXPECT_EQ(watcher.fromSystem, watcher.presses) << "keys posted inside Qt, not sent through the system";
}

// A sign-in as the operator makes it, by keys through the system, in the
// program's order: the login window runs modally and is gone once it returns.
// Enter in the user name leaves no key held down. Enter in the password signs
// in on its key-down, and its key-up reaches no window of the program (the
// login window is gone, the next one not yet active), as when the key is
// released after the window closed; the next Enter on the button that then
// has the focus presses it the first time.
TEST(KeyInjection, EnterAfterSignInPressesTheFocusedButtonOnce)
{
    TestDatabase db;
    db.createDatabase("talvex", TestDatabase::standardRetailData());
    connectShared(db, "talvex");
    const auto stroke = [](int virtualKey) {
        gst::injectKey(virtualKey, true);
        gst::injectKey(virtualKey, false);
    };
    auto login = std::make_unique<FrmLogin>();
    bool tabHeld = true;
    QTimer::singleShot(0, login.get(), [&] {
        login->activateWindow();
        login->ui()->txtUserName->setText("admin");
        login->ui()->txtUserName->setFocus();
        if (!waitFor([&] { return login->isActiveWindow() && login->ui()->txtUserName->hasFocus(); }))
            return login->done(QDialog::Rejected);
        stroke(13);
        if (!waitFor([&] { return login->ui()->txtPassword->hasFocus(); }))
            return login->done(QDialog::Rejected);
        tabHeld = (GetAsyncKeyState(VK_TAB) & 0x8000) != 0;
        login->ui()->txtPassword->setText("admin123");
        gst::injectKey(13, true);
    });
    ASSERT_EQ(login->exec(), QDialog::Accepted);
    login.reset();
    EXPECT_FALSE(tabHeld) << "Tab is held down after Enter in the user name";
    gst::injectKey(13, false);
    waitFor([] { return false; }, 500);

    QWidget next;
    auto* ok = new QPushButton(QStringLiteral("OK"), &next);
    gst::pressOnEnter(ok);
    int clicks = 0;
    QObject::connect(ok, &QPushButton::clicked, [&] { ++clicks; });
    next.show();
    next.activateWindow();
    ok->setFocus();
    ASSERT_TRUE(waitFor([&] { return next.isActiveWindow() && ok->hasFocus(); }));
    stroke(13);
    EXPECT_TRUE(waitFor([&] { return clicks == 1; })) << "clicks: " << clicks;
    QApplication::processEvents();
    EXPECT_EQ(clicks, 1);
}

TEST(UserFolders, WithoutXdgTheLogIsInLocalAppDataAsTheShellKnowsIt)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_HOME");
    qputenv("LOCALAPPDATA", "C:\\elsewhere"); // the variable is not trusted
    wchar_t* folder = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder), S_OK);
    const QString expected =
        QDir::fromNativeSeparators(QString::fromWCharArray(folder)) + "/talvex/gstconvert.log";
    CoTaskMemFree(folder);
    const QString path = gst::runLogPath();
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(path.toLower(), expected.toLower());
}

// Real windows, whatever the environment says: wine hands this program the
// environment it started with, which names the offscreen platform.
int main(int argc, char** argv)
{
    gst::configureQtRuntime();
    std::vector<char*> arguments(argv, argv + argc);
    char platform[] = "-platform";
    char windows[] = "windows";
    arguments.insert(arguments.begin() + 1, {platform, windows});
    int count = static_cast<int>(arguments.size());
    QApplication app(count, arguments.data());
    gst::msgbox_seam::setScripted(true);
    ::testing::InitGoogleTest(&count, arguments.data());
    if (QApplication::platformName() != QStringLiteral("windows")) {
        std::fprintf(stderr, "the windows platform plugin did not load\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
