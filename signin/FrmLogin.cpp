#include "signin/FrmLogin.h"

#include "platform/Error.h"
#include "platform/ProgramEnd.h"
#include "signin/Agent.h"
#include "signin/Credentials.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"
#include "ui_FrmLogin.h"
#include "widgets/ButtonKeys.h"
#include "widgets/Handler.h"
#include "widgets/WindowLook.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <climits>

namespace
{

const QColor kGrey(128, 128, 128);
const QColor kCaptionColour(255, 255, 192);
const QColor kOffLineColour(255, 0, 0);
// The client area's top-left on the screen, and its size.
const QPoint kClientPosition(261, 227);
const QSize kClientSize(256, 149);

class StarMaskStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* starMaskStyle()
{
    // One instance for the program's life, owned by the application.
    static QPointer<QStyle> style;
    if (!style) {
        style = new StarMaskStyle;
        style->setParent(qApp);
    }
    return style;
}

void setUpEntryField(QLineEdit* field)
{
    gst::fillBackground(field, gst::infoBackground());
    // The mask character is a star whatever the style would choose. A proxy
    // style does it without the cost of a style sheet at start-up.
    field->setStyle(starMaskStyle());
    field->setMaxLength(INT_MAX);
    field->setAttribute(Qt::WA_InputMethodEnabled, false);
}

} // namespace

FrmLogin::FrmLogin(std::function<void()> handOver, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::FrmLogin), m_handOver(std::move(handOver))
{
    gst::loadWindowResources();
    m_ui->setupUi(this);

    setWindowIcon(gst::windowIcon({":/icons/login_32.png", ":/icons/login_16.png"}));
    m_ui->Image1->setPixmap(gst::picture(QStringLiteral(":/images/image1.png")));

    gst::makeFixedDialog(this, kClientSize);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    setGeometry(QRect(origin + kClientPosition, kClientSize));

    QPalette grey = palette();
    grey.setColor(QPalette::Window, kGrey);
    setPalette(grey);
    setAutoFillBackground(true);

    const QColor info = gst::infoBackground();
    for (QLabel* caption : {m_ui->lblLabels_0, m_ui->lblLabels_1})
        gst::setTextColour(caption, kCaptionColour);
    for (QLineEdit* field : {m_ui->txtUserName, m_ui->txtPassword})
        setUpEntryField(field);
    for (QPushButton* button : {m_ui->cmdOk, m_ui->cmdCancel}) {
        gst::setPointSizeF(button, 9.75);
        gst::fillBackground(button, info);
    }
    for (QCheckBox* box : {m_ui->chkBioCap, m_ui->chkMifare}) {
        gst::setPointSizeF(box, 8.25);
        gst::fillBackground(box, kGrey);
        gst::setTextColour(box, info);
    }
    gst::setPointSizeF(m_ui->lblOffLine, 11.25);
    gst::fillBackground(m_ui->lblOffLine, kGrey);
    gst::setTextColour(m_ui->lblOffLine, kOffLineColour);
    gst::setTextColour(m_ui->Line1, info);

    for (QLabel* label : {m_ui->lblLabels_0, m_ui->lblLabels_1, m_ui->lblOffLine})
        label->setAccessibleName(gst::withoutMnemonic(label->text()));
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{m_ui->cmdOk, m_ui->cmdCancel,
                                                                           m_ui->chkBioCap, m_ui->chkMifare})
        button->setAccessibleName(gst::withoutMnemonic(button->text()));
    // An entry field is named after its caption, without the colon.
    for (QLabel* caption : {m_ui->lblLabels_0, m_ui->lblLabels_1}) {
        QString name = gst::withoutMnemonic(caption->text());
        if (name.endsWith(u':'))
            name.chop(1);
        caption->buddy()->setAccessibleName(name);
    }
    m_ui->Image1->setAccessibleName(m_ui->Image1->toolTip());

    Timer1.setInterval(0);

    connectHandlers();
}

FrmLogin::~FrmLogin() = default;

void FrmLogin::keyPressEvent(QKeyEvent* event)
{
    // Esc takes the Cancel path from the user name only (its key handler);
    // QDialog would otherwise close the window on Esc from any field.
    if (event->matches(QKeySequence::Cancel)) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

Ui::FrmLogin* FrmLogin::ui() const
{
    return m_ui.get();
}

// ---------------------------------------------------------------- behaviour

namespace
{

// The window's outer height once active, title bar and borders included:
// the band of hidden check boxes at the bottom is cut off.
constexpr int kActiveOuterHeight = 137; // 2050 twips

} // namespace

QColor FrmLogin::focusColour()
{
    return QColor(237, 227, 253);
}

void FrmLogin::connectHandlers()
{
    // Every control that can take the focus, so that the window knows where the
    // focus is when it becomes active again.
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_ui->txtUserName, m_ui->txtPassword, m_ui->cmdOk, m_ui->cmdCancel,
                                         m_ui->chkBioCap, m_ui->chkMifare})
        control->installEventFilter(this);
    for (QPushButton* button : {m_ui->cmdOk, m_ui->cmdCancel})
        gst::pressOnEnter(button);
    connect(m_ui->cmdOk, &QPushButton::clicked, this, [this] { gst::guarded([this] { cmdOk_Click(); }); });
    connect(m_ui->cmdCancel, &QPushButton::clicked, this,
            [this] { gst::guarded([this] { cmdCancel_Click(); }); });
    connect(m_ui->Image1, &gst::ClickableLabel::clicked, this,
            [this] { gst::guarded([this] { Image1_Click(); }); });
}

void FrmLogin::Form_Load()
{
    gst::guarded([this] {
        // The picture is an extra: the window opens whether or not the server
        // lets us reach msdb, and the operator is not told.
        try {
            OpenAgentConnection();
        } catch (const std::exception&) {
        }
    });
}

void FrmLogin::OpenAgentConnection()
{
    gst::openAgentConnection(bcpCon);
}

void FrmLogin::Image1_Click()
{
    const bool done =
        gst::startSqlAgent([this](const QString& sql) { gst::executeOnAgentConnection(bcpCon.get(), sql); });
    if (done)
        m_ui->Image1->hide();
}

bool FrmLogin::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        gst::guarded([this] { Form_Activate(); });
    return QDialog::event(event);
}

void FrmLogin::Form_Activate()
{
    const int frameExtra = frameGeometry().height() - geometry().height();
    setFixedHeight(kActiveOuterHeight - frameExtra);
    // The bill date in the workstation's language, e.g. 27-Jul-2018.
    setWindowTitle(QLocale::system().toString(gBillDate.date(), QStringLiteral("dd-MMM-yyyy")));
}

void FrmLogin::HighlightField(QWidget* control)
{
    if (auto* field = qobject_cast<QLineEdit*>(control))
        field->selectAll();
    else if (auto* list = qobject_cast<QComboBox*>(control); list && list->lineEdit())
        list->lineEdit()->selectAll();
    else
        return;
    // Drawn while the window is active; an inactive window shows the resting colour.
    gst::fillBackground(control, gst::infoBackground());
    QPalette palette = control->palette();
    palette.setColor(QPalette::Active, control->backgroundRole(), focusColour());
    control->setPalette(palette);
}

void FrmLogin::fieldGotFocus(QLineEdit* field)
{
    HighlightField(field);
    m_focusedField = field;
}

void FrmLogin::fieldLostFocus(QLineEdit* field)
{
    gst::fillBackground(field, gst::infoBackground());
    if (m_focusedField == field)
        m_focusedField = nullptr;
}

void FrmLogin::followFocus(QWidget* control, const QFocusEvent& event)
{
    auto* field = qobject_cast<QLineEdit*>(control);
    const Qt::FocusReason reason = event.reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
        // Tab, Up, a click, an access key, the program's own move.
        if (field)
            gst::guarded([&] { event.gotFocus() ? fieldGotFocus(field) : fieldLostFocus(field); });
        return;
    }
    // The window itself lost or regained the focus: another program, a message
    // box, a menu. Coming back to the control that had the focus is no move; a
    // move the program made while the window was inactive arrives only now.
    if (!event.gotFocus() || control == m_focusedField)
        return;
    gst::guarded([&] {
        if (m_focusedField)
            fieldLostFocus(m_focusedField);
        if (field)
            fieldGotFocus(field);
    });
}

bool FrmLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        followFocus(static_cast<QWidget*>(watched), *static_cast<QFocusEvent*>(event));

    auto* field = qobject_cast<QLineEdit*>(watched);
    if (!field || (field != m_ui->txtUserName && field != m_ui->txtPassword))
        return QDialog::eventFilter(watched, event);

    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        bool used = false;
        gst::guarded([&] { used = fieldKeyDown(field, key->key()) || fieldKeyPress(field, *key); });
        return used;
    }
    return false;
}

bool FrmLogin::fieldKeyDown(QLineEdit* field, int key)
{
    if (field == m_ui->txtUserName && key == Qt::Key_Escape) {
        cmdCancel_Click();
        return true;
    }
    if (field == m_ui->txtPassword && key == Qt::Key_Up) {
        m_ui->txtUserName->setFocus();
        return true;
    }
    return false;
}

bool FrmLogin::fieldKeyPress(QLineEdit* field, const QKeyEvent& key)
{
    // An apostrophe never enters either field.
    if (key.text() == QLatin1String("'"))
        return true;
    const bool enter =
        key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter || key.text() == QLatin1String("\r");
    if (!enter)
        return false;
    if (field == m_ui->txtUserName) {
        // On to the password, through the input queue: a whole key stroke, so
        // that Windows does not count Tab as held down afterwards.
        SendKeyEvent(kVkTab, true);
        SendKeyEvent(kVkTab, false);
    } else
        cmdOk_Click();
    return true;
}

void FrmLogin::cmdOk_Click()
{
    if (!CheckCredentials(m_ui->txtUserName->text(), m_ui->txtPassword->text())) {
        m_ui->txtPassword->setText(QString());
        m_ui->txtPassword->setFocus();
        return;
    }
    Form_Unload();
    done(QDialog::Accepted);
    if (m_handOver)
        m_handOver();
}

void FrmLogin::cmdCancel_Click()
{
    gst::endProgram(gst::kExitCancelled);
}

void FrmLogin::Form_Unload()
{
    if (!gSignedIn)
        gst::endProgram(gst::kExitCancelled);
}

void FrmLogin::closeEvent(QCloseEvent* event)
{
    gst::guarded([this] { Form_Unload(); });
    QDialog::closeEvent(event);
}

void FrmLogin::reject()
{
    gst::guarded([this] { Form_Unload(); });
    QDialog::reject();
}
