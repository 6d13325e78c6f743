#include "app/application_wiring.h"

#include "app/log_window.h"
#include "app/workdir.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "device/product_info.h"
#include "dfu/dfu_runner.h"
#include "dfu/simulator.h"
#include "gui/gui_settings.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QDialog>
#include <QDebug>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <QTimer>

QPointer<MainWindow> mainWindow;
SM_A *smA = nullptr;
SM_B *smB = nullptr;

namespace {

constexpr unsigned long deviceThreadGraceMs = 1000;
// After the grace period the running dfu-util is killed; the loop then ends
// on its own at its next stop check.
constexpr unsigned long abortedThreadWaitMs = 5000;

const GuiSettings &settings()
{
    return guiContext().settings;
}

QString connectedModel()
{
    return productModel(smB->deviceInfoSnapshot.otp.product);
}

void setStatusText(const QString &text)
{
    if (mainWindow && mainWindow->statusLabel)
        mainWindow->statusLabel->setText(text);
}

void showNoDeviceText()
{
    setStatusText(settings().labelText(QStringLiteral("status_noDev")));
}

void showConnectedText()
{
    setStatusText(settings().labelText(QStringLiteral("status_devConn")).arg(connectedModel()));
}

void showRevisionText()
{
    const QString revision = smB->deviceInfoSnapshot.fwRevision;
    if (revision.length() > 0)
        setStatusText(settings().labelText(QStringLiteral("status_devRev")).arg(connectedModel()).arg(revision));
    else
        setStatusText(settings().labelText(QStringLiteral("status_devRevUnknown")).arg(connectedModel()));
}

void resetMessageHandler()
{
    qInstallMessageHandler(nullptr);
    qInfo() << "Msg-handler reset";
}

void stopStateMachine()
{
    smB->stop();
}

// Ends SM_A's thread for good: kill a hung dfu-util so the loop can see the stop,
// and only as the very last resort terminate the thread.
void endDeviceThread()
{
    abortDfuRuns();
    if (!smA->wait(abortedThreadWaitMs)) {
        smA->terminate();
        smA->wait();
    }
}

void hideProgressBar(const QString &format)
{
    ProgressBar *bar = mainWindow->progressBar;
    bar->setFormat(format);
    bar->hide();
}

void showVerificationMatches()
{
    ProgressBar *bar = mainWindow->progressBar;
    bar->timer->stop();
    bar->setValue(bar->maximum());
    bar->setFormat(QStringLiteral("Done. Disconnect USB cable."));
    showRevisionText();
}

void showVerificationDiffers()
{
    showRevisionText();
    ProgressBar *bar = mainWindow->progressBar;
    bar->timer->stop();
    bar->setValue(bar->minimum());
    hideProgressBar(QStringLiteral("FW differs"));
}

void toggleLogWindow()
{
    if (logWindow())
        logWindow()->toggle_visibility(mainWindow);
}

} // namespace

void stopDeviceThread()
{
    qInfo() << "Trying to stop sm_A";
    smA->requestStop();
    if (!smA->wait(deviceThreadGraceMs)) {
        qWarning() << "Oops, SM_A not dead yet";
        endDeviceThread();
    }
}

void ensureDeviceThreadEnded()
{
    smA->requestStop();
    if (!smA->wait(deviceThreadGraceMs))
        endDeviceThread();
}

void connectApplication(QApplication &application)
{
    MainWindow *window = mainWindow;
    QObject::connect(window, &MainWindow::finished, window, resetMessageHandler, Qt::DirectConnection);
    QObject::connect(window, &MainWindow::finished, smB, stopStateMachine);
    QObject::connect(window, &MainWindow::finished, window, stopDeviceThread, Qt::DirectConnection);
    QObject::connect(smB, &QStateMachine::finished, &application, &QCoreApplication::quit);
    QObject::connect(smB, &SM_B::sig_UpgradeImpossible, window, &MainWindow::disableDownload);
    QObject::connect(smB, &SM_B::sig_UpgradePossible, window, &MainWindow::enableDownload);
    QObject::connect(smB, &SM_B::sig_DeviceConnected, smB, showConnectedText, Qt::DirectConnection);
    QObject::connect(smB, &SM_B::sig_DifferingRevision, smB, showRevisionText, Qt::DirectConnection);
    QObject::connect(smB, &SM_B::sig_UpgradeImpossible, window, [] {
        showNoDeviceText();
        hideProgressBar(QStringLiteral("This text should not be visible!"));
    });
    QObject::connect(window->installButton, &QPushButton::clicked, smB, &SM_B::do_download);
    QObject::connect(smB, &SM_B::sig_DoDownload, smB, [] {
        mainWindow->progressBar->startAutoProgress(QStringLiteral("Upgrading firmware"), 60.0);
    }, Qt::DirectConnection);
    QObject::connect(smB, &SM_B::sig_UploadingVerifying, smB, [] {
        mainWindow->progressBar->startAutoProgress(QStringLiteral("Uploading & verifying"), 0.5);
    }, Qt::DirectConnection);
    QObject::connect(smB, &SM_B::sig_FwMatches, smB, showVerificationMatches, Qt::DirectConnection);
    QObject::connect(smB, &SM_B::sig_FwDiffers, smB, showVerificationDiffers, Qt::DirectConnection);

    auto *mainShortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), window);
    QObject::connect(mainShortcut, &QShortcut::activated, mainShortcut, toggleLogWindow, Qt::DirectConnection);
    if (logWindow()) {
        QDialog *dialog = logWindow()->dialog();
        auto *dialogShortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), dialog);
        QObject::connect(dialogShortcut, &QShortcut::activated, dialogShortcut, toggleLogWindow,
                         Qt::DirectConnection);
        // The log window is a window of its own: it must neither keep the tool
        // running once the main window is closed nor outlive it on screen.
        dialog->setAttribute(Qt::WA_QuitOnClose, false);
        QObject::connect(&application, &QGuiApplication::lastWindowClosed, dialog, &QWidget::hide);
    }

    // Q and Escape end the tool: once the machines have stopped, closing the
    // window ends the event loop, so the teardown runs and the working files go.
    QObject::connect(window, &MainWindow::finished, window, &QWidget::close, Qt::QueuedConnection);
}

void createControlObjects()
{
    GuiContext &context = guiContext();
    mainWindow = createMainWindow(context, nullptr, simulator::use);
    mainWindow->setWindowTitle(QStringLiteral("Lumarex Firmware Upgrade Tool"));

    smA = new SM_A(workFilePath(WorkFile::FirmwareDfu), workFilePath(WorkFile::FirmwareBin),
                   workFilePath(WorkFile::UploadedFw), nullptr);
    smA->devConnSleepMs = 1000;
    smA->noDevConnSleepMs = 500;
    smA->addDebugConnections();

    smB = new SM_B(smA, context.desired.type, context.desired.revision);
    smB->addDebugConnections();

    connectApplication(*qApp);
    QObject::connect(smB, &QStateMachine::started, smB, [] {
        qInfo() << "Starting sm_A";
        smA->start();
    }, Qt::DirectConnection);
    smB->start();
    mainWindow->show();
}
