#include "conversion/Form1.h"

#include "ui_Form1.h"
#include "widgets/WindowLook.h"

Form1::Form1(QWidget* parent) : QWidget(parent), m_ui(new Ui::Form1)
{
    gst::loadWindowResources();
    m_ui->setupUi(this);
    setWindowIcon(gst::windowIcon({":/icons/form1_32.png"}));
    // A window of its own even when given an owner; sizable, with minimise and maximise.
    setWindowFlags(Qt::Window);
    resize(837, 524);

    gst::setPointSizeF(m_ui->Command1, 13.5);

    for (QLabel* label : {m_ui->Label1, m_ui->lblWarning})
        label->setAccessibleName(label->text());
    m_ui->Combo1->setAccessibleName(m_ui->Combo1->currentText());
    m_ui->Command1->setAccessibleName(gst::withoutMnemonic(m_ui->Command1->text()));
    m_ui->Check1->setAccessibleName(gst::withoutMnemonic(m_ui->Check1->text()));

    connectHandlers();
}

Form1::~Form1() = default;

Ui::Form1* Form1::ui() const
{
    return m_ui.get();
}
