#pragma once

// The operator's way through the login window, for tests that run the program's
// windows in order (usually in a child process).

#include "conversion/Form1.h"
#include "signin/FrmLogin.h"
#include "ui_FrmLogin.h"

#include <QApplication>

// Opens the login window and signs in as the operator would. The window is left
// to the program, which closes it on a sign-in.
inline void signInThroughLoginWindow(const QString& user = QStringLiteral("admin"),
                                     const QString& password = QStringLiteral("admin123"))
{
    auto* login = new FrmLogin(&Form1::openConversionWindow);
    login->Form_Load();
    login->show();
    login->ui()->txtUserName->setText(user);
    login->ui()->txtPassword->setText(password);
    login->ui()->cmdOk->click();
}

// The conversion window the sign-in opened, or null.
inline Form1* shownConversionWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<Form1*>(w); form && form->isVisible())
            return form;
    }
    return nullptr;
}
