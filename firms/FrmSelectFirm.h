#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui
{
class FrmSelectFirm;
}

// The firm picker shown before login when several firms can be used.
class FrmSelectFirm : public QDialog
{
    Q_OBJECT

public:
    // `reconnect` connects to the chosen firm's database (gDatabaseName).
    explicit FrmSelectFirm(std::function<void()> reconnect = {}, QWidget* parent = nullptr);
    ~FrmSelectFirm() override;

    Ui::FrmSelectFirm* ui() const;

    // Runs once, after construction and before the window is shown: lists the
    // usable firms and selects the first.
    void Form_Load();

public slots:
    // Closing the window without choosing ends the program.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void connectHandlers();
    void cmbFirm_Click();
    void cmdOk_Click();
    void cmdCancel_Click();
    void Form_QueryUnload();

    std::unique_ptr<Ui::FrmSelectFirm> m_ui;
    std::function<void()> m_reconnect;
};
