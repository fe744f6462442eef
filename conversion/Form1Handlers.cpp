// What the conversion window does: the disclaimer, the choice of a line of
// business, and the OK button that runs the conversion.
#include "conversion/Conversion.h"
#include "conversion/Form1.h"
#include "conversion/NewGstSlab.h"
#include "conversion/RunRecord.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "state/ModBase.h"
#include "ui_Form1.h"
#include "widgets/ButtonKeys.h"
#include "widgets/Handler.h"
#include "widgets/WindowLook.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalBlocker>
#include <climits>

using gst::number;

namespace
{

const QString kCrLf = QStringLiteral("\r\n");

QString readableName(QString caption)
{
    return caption.replace(kCrLf, QLatin1String("\n"));
}

void setLabelCaption(QLabel* label, const QString& caption)
{
    gst::setLabelCaption(label, caption);
    label->setAccessibleName(readableName(caption));
}

} // namespace

void Form1::connectHandlers()
{
    QComboBox* combo = m_ui->Combo1;
    // Only an entry chosen from the list (mouse, arrow keys, the list's popup)
    // selects a line of business. Typed text, even a listed name followed by
    // Enter or a change of focus, must select nothing: the list's own
    // completion and its matching of typed text are taken away.
    combo->setCompleter(nullptr);
    if (QLineEdit* edit = combo->lineEdit()) {
        // The text box must hold any name the list holds, or the lookup of a
        // chosen name would find a shortened one.
        edit->setMaxLength(INT_MAX);
        QObject::disconnect(edit, &QLineEdit::returnPressed, combo, nullptr);
        QObject::disconnect(edit, &QLineEdit::editingFinished, combo, nullptr);
    }
    connect(combo, qOverload<int>(&QComboBox::activated), this,
            [this](int) { gst::guarded([this] { Combo1_Click(); }); });
    gst::pressOnEnter(m_ui->Command1);
    connect(m_ui->Command1, &QPushButton::clicked, this,
            [this] { gst::guarded([this] { Command1_Click(); }); });
}

Form1* Form1::openConversionWindow()
{
    auto window = std::make_unique<Form1>();
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Form_Load();
    Form1* shown = window.release();
    shown->show();
    // The keyboard goes to the new window even where no window manager gives it.
    shown->activateWindow();
    return shown;
}

void Form1::Form_Load()
{
    const QString okCaption = QStringLiteral("OK") + kCrLf +
                              QStringLiteral("Please convert all values from 'GST 5% (18% above Rs 500)' to "
                                             "'GST 5% (18% above Rs 1000)'");
    gst::setWrappedCaption(m_ui->Command1, okCaption);
    m_ui->Command1->setAccessibleName(readableName(okCaption));

    setLabelCaption(
        m_ui->lblWarning,
        QStringLiteral("Disclaimer: This utility is being distributed for FREE. ") + kCrLf +
            QStringLiteral("You would be well advised to consult your GST consultant ") + kCrLf +
            QStringLiteral("before proceeding. You are doing this out of your own free will ") + kCrLf +
            QStringLiteral("and because you choose to do so. Norvane Lumetra Pvt. Ltd.") + kCrLf +
            QStringLiteral("will not be responsible for the outcome and consequences of this utility."));

    QComboBox* combo = m_ui->Combo1;
    if (GetScalar(QStringLiteral("select count(*) from lobmaster ")).equalsNumber(1)) {
        // The only line of business is taken at once; its name stands in the
        // hidden list so that a failure box names it.
        combo->hide();
        m_lobId = GetScalar(QStringLiteral("select lobid from lobmaster")).toInt16();
        combo->setEditText(TrimSpaces(GetScalar(QStringLiteral("select name from lobmaster")).toText()));
        m_lobName = combo->currentText();
        FoundLOB();
    } else {
        // Filling the list is not the operator's choice: OK waits for one.
        FillCombo(combo, QStringLiteral("select name from lobmaster order by lobid"));
        // The first name is shown but not chosen, so that the first Down
        // chooses it; an empty list shows no text, not its design caption.
        {
            const QSignalBlocker blocker(combo);
            const QString shown = combo->count() > 0 ? combo->itemText(0) : QString();
            combo->setCurrentIndex(-1);
            combo->setEditText(shown);
        }
        setLabelCaption(m_ui->Label1, QString());
        m_ui->Command1->setEnabled(false);
        combo->show();
    }
}

void Form1::Combo1_Click()
{
    // The name is bound, so names with apostrophes are found like any other.
    m_lobName = m_ui->Combo1->currentText();
    m_lobId = GetScalar(QStringLiteral("select lobid from lobmaster where name=?"), {m_lobName}).toInt16();
    FoundLOB();
}

void Form1::FoundLOB()
{
    m_productWise =
        GetScalar(QStringLiteral("select productwisevat from lobmaster where lobid=") + number(m_lobId))
            .isNonZero();
    QString caption;
    if (!m_productWise) {
        m_gstAttribute =
            GetScalar(QStringLiteral("select name from lobattribute la, attributemaster am where "
                                     "la.attributeid=am.attributeid and la.vatable=1 and lobid=") +
                      number(m_lobId))
                .toText();
        caption = QStringLiteral("You are currently having GST on ") + m_gstAttribute + QStringLiteral(".") +
                  kCrLf + QStringLiteral("Would you like to convert all values under the head ") +
                  m_gstAttribute + kCrLf +
                  QStringLiteral(" from GST 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'?") +
                  kCrLf + QStringLiteral("If yes, click on 'OK' below.");
    } else {
        m_gstAttribute.clear(); // an earlier choice's attribute is not this line's
        caption = QStringLiteral("You are currently having Product Wise GST.") + kCrLf +
                  QStringLiteral("Would you like to convert all values of Products GST ") + kCrLf +
                  QStringLiteral(" from 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'?") +
                  kCrLf + QStringLiteral("If yes, click on 'OK' below.");
    }
    setLabelCaption(m_ui->Label1, caption);
    m_ui->Command1->setEnabled(true);
}

void Form1::Command1_Click()
{
    if (!m_ui->Check1->isChecked()) {
        conversion::showAgreementReminder();
        return;
    }
    if (!conversion::confirmConversion())
        return;

    // From the Yes on, the run is recorded whatever its outcome: here, once.
    conversion::RunRecord run(m_lobId, m_lobName);
    bool moved = false;
    try {
        // Database errors from here to the refusal tests pass to the handler's
        // guard: they are reported and end the program.
        m_productWise = conversion::readProductWise(m_lobId);
        run.setArrangement(m_productWise, m_gstAttribute);
        EnsureNewGstSlab();
        const std::int16_t newSlabId = conversion::readNewSlabIdOrRefuse(run);
        conversion::refuseIfAlreadyOnNewSlab(m_lobId, m_productWise, m_gstAttribute, newSlabId, run);

        m_ui->Command1->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const struct CursorBack {
            ~CursorBack() { QApplication::restoreOverrideCursor(); }
        } cursorBack; // also when an error is reported and ends the program
        moved = conversion::moveRowsToNewSlab(m_lobId, m_productWise, m_gstAttribute, newSlabId, run);
    } catch (...) {
        run.writeEndedBy(std::current_exception());
        throw;
    }
    if (!moved) {
        run.writeFailed();
        // The window stays, OK disabled, until the operator chooses a line
        // again; with the list hidden there is nothing to choose, and the one
        // line stays chosen, so OK is enabled again.
        conversion::showTryAgain(m_ui->Combo1->currentText());
        if (m_ui->Combo1->isHidden())
            m_ui->Command1->setEnabled(true);
        return;
    }
    run.writeDone();
    conversion::showDone();
    gst::endProgram(gst::kExitDone);
}
