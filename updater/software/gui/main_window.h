#pragma once

#include <QMainWindow>

class InstallButton;
class ProgressBar;
class QLabel;
struct GuiContext;

// The application's only main window: picture, instructions, install button,
// progress bar, ring marker and status line, all placed with absolute
// coordinates in design pixels times scaleFactor.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The bare window, without button, labels, bar or circles.
    MainWindow(const GuiContext &context, QWidget *parent = nullptr);

    void createLabels(const GuiContext &context, bool simulatorFlag);
    void applyGeometry();

    QWidget *centralArea = nullptr;
    QLabel *statusLabel = nullptr;
    bool downloadMode = false;
    double scaleFactor = 1.0;
    InstallButton *installButton = nullptr;
    ProgressBar *progressBar = nullptr;

signals:
    void finished();
    void downloadModeChanged();

public slots:
    void enableDownload();
    void disableDownload();
    void toggleDownload();
    void updateDownloadMode();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// The finished window; stops the process with a fatal message when the
// settings have no text for "status_noDev".
MainWindow *createMainWindow(const GuiContext &context, QWidget *parent, bool simulatorFlag);

// Nearest integer, halves going up.
int roundedDesignValue(double value);
