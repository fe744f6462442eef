#include "firms/FrmSelectFirm.h"

#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"
#include "ui_FrmSelectFirm.h"
#include "widgets/ButtonKeys.h"
#include "widgets/Handler.h"
#include "widgets/WindowLook.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace
{

const QColor kGrey(128, 128, 128);
const QSize kClientSize(287, 109);

} // namespace

FrmSelectFirm::FrmSelectFirm(std::function<void()> reconnect, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::FrmSelectFirm), m_reconnect(std::move(reconnect))
{
    gst::loadWindowResources();
    m_ui->setupUi(this);

    setWindowIcon(gst::windowIcon({":/icons/selectfirm_32.png", ":/icons/selectfirm_16.png"}));

    gst::makeFixedDialog(this, kClientSize);
    // Centred on the screen, not on whichever window happens to be active.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect client(QPoint(), kClientSize);
        client.moveCenter(screen->geometry().center());
        setGeometry(client);
    }

    QPalette grey = palette();
    grey.setColor(QPalette::Window, kGrey);
    setPalette(grey);
    setAutoFillBackground(true);

    const QColor info = gst::infoBackground();
    gst::setPointSizeF(m_ui->cmbFirm, 9.75);
    gst::fillBackground(m_ui->cmbFirm, info);
    // The closed box is drawn as a button face, the list on the base colour.
    QPalette listPalette = m_ui->cmbFirm->palette();
    listPalette.setColor(QPalette::Base, info);
    listPalette.setColor(QPalette::Button, info);
    m_ui->cmbFirm->setPalette(listPalette);
    for (QPushButton* button : {m_ui->cmdOk, m_ui->cmdCancel}) {
        gst::setPointSizeF(button, 9.75);
        gst::fillBackground(button, info);
        button->setAccessibleName(gst::withoutMnemonic(button->text()));
    }
    gst::setTextColour(m_ui->Line1, info);

    m_ui->cmbFirm->setAccessibleName(QStringLiteral("Firm"));

    connectHandlers();
}

FrmSelectFirm::~FrmSelectFirm() = default;

void FrmSelectFirm::keyPressEvent(QKeyEvent* event)
{
    // Esc is no button's key here (Cancel ends the program only when pressed),
    // so it must not close the window.
    if (event->matches(QKeySequence::Cancel)) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

Ui::FrmSelectFirm* FrmSelectFirm::ui() const
{
    return m_ui.get();
}

// ---------------------------------------------------------------- behaviour

void FrmSelectFirm::connectHandlers()
{
    m_ui->cmbFirm->installEventFilter(this);
    for (QPushButton* button : {m_ui->cmdOk, m_ui->cmdCancel})
        gst::pressOnEnter(button);
    // Any change of the selected firm: mouse, arrow keys, or the list being filled.
    connect(m_ui->cmbFirm, &QComboBox::currentIndexChanged, this,
            [this] { gst::guarded([this] { cmbFirm_Click(); }); });
    connect(m_ui->cmdOk, &QPushButton::clicked, this, [this] { gst::guarded([this] { cmdOk_Click(); }); });
    connect(m_ui->cmdCancel, &QPushButton::clicked, this,
            [this] { gst::guarded([this] { cmdCancel_Click(); }); });
}

void FrmSelectFirm::Form_Load()
{
    gst::guarded([this] {
        FillCombo(m_ui->cmbFirm,
                  QStringLiteral("Select Name, FirmId From FirmMaster Where Enabled = 1 AND DBName<>''"));
    });
}

void FrmSelectFirm::cmbFirm_Click()
{
    const int index = m_ui->cmbFirm->currentIndex();
    if (index < 0)
        return; // the list was emptied: no firm is selected
    const std::int32_t firmId = comboItemNumber(m_ui->cmbFirm, index);
    // A firm gone from the register reads as 0, and OK then fails to open "0".
    gDatabaseName =
        GetScalar(QStringLiteral("Select DBName From FirmMaster Where FirmID = ") + QString::number(firmId))
            .toText();
}

bool FrmSelectFirm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->cmbFirm && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Enter only moves on to OK; the key itself goes on unused, so a
        // second Enter, on the button, is what confirms.
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            gst::guarded([this] { m_ui->cmdOk->setFocus(); });
    }
    return QDialog::eventFilter(watched, event);
}

void FrmSelectFirm::cmdOk_Click()
{
    if (m_reconnect)
        m_reconnect(); // ends the program itself on any failure
    done(QDialog::Accepted);
}

void FrmSelectFirm::cmdCancel_Click()
{
    gst::endProgram(gst::kExitCancelled);
}

void FrmSelectFirm::Form_QueryUnload()
{
    // Only the operator's close command reaches here; OK closes through done().
    gst::endProgram(gst::kExitCancelled);
}

void FrmSelectFirm::closeEvent(QCloseEvent* event)
{
    gst::guarded([this] { Form_QueryUnload(); });
    QDialog::closeEvent(event);
}

void FrmSelectFirm::reject()
{
    gst::guarded([this] { Form_QueryUnload(); });
    QDialog::reject();
}
