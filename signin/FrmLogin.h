#pragma once

#include "platform/Odbc.h"

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

namespace Ui
{
class FrmLogin;
}

class QFocusEvent;
class QLineEdit;

// The login window: user name, password, OK and Cancel.
class FrmLogin : public QDialog
{
    Q_OBJECT

public:
    // `handOver` opens what follows a sign-in (the conversion window).
    explicit FrmLogin(std::function<void()> handOver = {}, QWidget* parent = nullptr);
    ~FrmLogin() override;

    Ui::FrmLogin* ui() const;

    // Not drawn: a timer that is never started.
    QTimer Timer1;

    // Runs once, after construction and before the window is shown: opens the
    // agent connection, ignoring any failure.
    void Form_Load();

    // The connection on "msdb" that the agent picture uses (bcpCon); null
    // before the window has loaded.
    const gst::Connection* agentConnection() const { return bcpCon.get(); }

    // The focus colour of the entry fields.
    static QColor focusColour();

public slots:
    // Closing the window before a sign-in ends the program.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void connectHandlers();
    void Form_Activate();
    void Form_Unload();
    void cmdOk_Click();
    void cmdCancel_Click();
    void Image1_Click();
    void OpenAgentConnection();
    void HighlightField(QWidget* control);
    // The got-focus and lost-focus handlers of the two entry fields.
    void fieldGotFocus(QLineEdit* field);
    void fieldLostFocus(QLineEdit* field);
    // Runs those handlers for focus moves between the window's own controls only.
    void followFocus(QWidget* control, const QFocusEvent& event);
    // Key handlers of the two entry fields; true when the key is used up.
    bool fieldKeyDown(QLineEdit* field, int key);
    bool fieldKeyPress(QLineEdit* field, const QKeyEvent& key);

    std::unique_ptr<Ui::FrmLogin> m_ui;
    std::function<void()> m_handOver;
    std::unique_ptr<gst::Connection> bcpCon;
    // The field whose got-focus handler ran last without its lost-focus one.
    QLineEdit* m_focusedField = nullptr;
};
