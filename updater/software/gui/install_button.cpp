#include "gui/install_button.h"

#include <QDebug>

InstallButton::InstallButton(QWidget *parent)
    : QPushButton(parent)
{
}

void setUpInstallButton(InstallButton &button)
{
    button.setFlat(false);
    button.setEnabled(true);
    button.setMinimumHeight(30);
    button.setObjectName(QStringLiteral("GUI_8"));
    QObject::connect(
        &button, &QPushButton::clicked, &button, [] { qInfo() << "Install clicked"; },
        Qt::DirectConnection);
}
