#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What a fixture object (a test folder, a TDS peer) shares with the children
// of its test. On Windows a child is the test program run again up to the same
// runChild: every object alive in the parent then is handed down, and the
// child's object of the same kind and order takes the parent's over instead of
// setting up its own, so the child works on the parent's databases, login
// settings, run log and peer. A forked child shares them anyway; there
// nothing is handed down and inherited() is always empty.
class FixtureShare
{
public:
    explicit FixtureShare(const char* kind);
    ~FixtureShare();
    FixtureShare(const FixtureShare&) = delete;
    FixtureShare& operator=(const FixtureShare&) = delete;

    // In a child: what the parent's object of this kind and order holds.
    const std::optional<QString>& inherited() const { return m_inherited; }
    // Whether set-up on it is skipped: the parent did it. So in a runChild
    // child until its body starts; a gtest death-test child runs its statement
    // amid the test's steps, so there it is done again, on the parent's files.
    bool skipsSetUp() const { return m_inherited && s_replaying; }
    // In a runChild child: the body starts, and what it writes is its own.
    static void bodyStarts() { s_replaying = false; }
    static bool replaying() { return s_replaying; }
    // In the parent: what this object hands down to children started from now on.
    void offer(const QString& value);

    // The variable a child is started with, and its value now.
    static const char* variable();
    static QByteArray handedDown();
    // Where children are new processes (Windows), keeps the variable in this
    // process's environment up to date, so that every child started from now
    // on (runChild's, gtest's death tests') gets it; a no-op where they fork.
    static void publish();

private:
    static bool s_replaying;
    QByteArray m_key;
    std::optional<QString> m_inherited;
};
