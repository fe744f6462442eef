#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

namespace Ui
{
class Form1;
}

// The conversion window: the operator confirms the move to the new GST slab.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    Ui::Form1* ui() const;

    // Creates the window (deleted when closed), runs Form_Load and shows it
    // without making it modal. Errors of Form_Load pass to the caller.
    static Form1* openConversionWindow();

    // Handlers; each is entered through gst::guarded when an event runs it.
    void Form_Load();
    void Combo1_Click();
    void FoundLOB();
    void Command1_Click();

    // The chosen line of business, as the conversion reads it.
    std::int16_t lobId() const { return m_lobId; }
    bool productWise() const { return m_productWise; }
    const QString& gstAttribute() const { return m_gstAttribute; }

private:
    // Wires the controls' events to the handlers; the constructor's last step.
    void connectHandlers();

    std::unique_ptr<Ui::Form1> m_ui;
    std::int16_t m_lobId = 0;
    bool m_productWise = false;
    QString m_gstAttribute;
    QString m_lobName; // the name whose lookup chose m_lobId, for the run record
};
