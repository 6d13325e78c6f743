#pragma once

#include <QPushButton>

// The push button that starts the upgrade.
class InstallButton : public QPushButton
{
    Q_OBJECT

public:
    explicit InstallButton(QWidget *parent = nullptr);
};

// Look and click log line of the window's install button; text, enabled state
// and geometry are the window's business.
void setUpInstallButton(InstallButton &button);
