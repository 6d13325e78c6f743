#include "gui/main_window.h"

#include "app/workdir.h"
#include "device/product_info.h"
#include "gui/circle.h"
#include "gui/fonts.h"
#include "gui/gui_settings.h"
#include "gui/install_button.h"
#include "gui/progress_bar.h"
#include "gui/style_sheets.h"

#include <QDebug>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStyle>

#include <cmath>

namespace {

const int designWidth = 665;
const int designHeight = 517;
const int designDropDown = 50;
const QRect designButtonRect(207, 417, 250, 40);
const int designHeaderWidth = 228;

const QString statusLabelId = QStringLiteral("status_noDev");

int truncated(double value)
{
    return static_cast<int>(value);
}

double screenScaleFactor()
{
    // macOS reports its own logical resolution; the picture is drawn unscaled there.
    if (buildPlatform() == 1)
        return 1.0;
    const QScreen *screen = QGuiApplication::primaryScreen();
    // Whole dots per inch, as the desktop and the font sizes use them: X servers
    // without an Xft.dpi setting derive a fractional value (119.97 for 120) from
    // the screen's size in millimetres, which would make every truncated size one
    // pixel short.
    return screen ? qRound(screen->logicalDotsPerInchX()) / 96.0 : 1.0;
}

QString productNameOf(const DesiredFirmware &desired)
{
    ProductInfo product;
    product.type = desired.type;
    product.rawType = desired.type;
    product.subtype = {{0xFF, 0xFF, 0xFF}};
    return productDisplayName(product);
}

bool isLeftTopHeader(const QString &id)
{
    return id == QLatin1String("2") || id == QLatin1String("3");
}

bool isRightTopHeader(const QString &id)
{
    return id == QLatin1String("4") || id == QLatin1String("4_hdr");
}

} // namespace

int roundedDesignValue(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}

MainWindow::MainWindow(const GuiContext &, QWidget *parent)
    : QMainWindow(parent)
    , centralArea(new QWidget(this))
{
    setStyleSheet(mainWindowStyleSheet());
    scaleFactor = screenScaleFactor();
    setCentralWidget(centralArea);
    applyGeometry();
    downloadMode = false;
    emit downloadModeChanged();
    connect(this, &MainWindow::downloadModeChanged, this, &MainWindow::updateDownloadMode);
}

void MainWindow::applyGeometry()
{
    const double s = scaleFactor;
    setFixedSize(truncated(designWidth * s), truncated(designHeight * s));

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->geometry() : QRect();
    const QSize size(roundedDesignValue(designWidth * s), roundedDesignValue(designHeight * s));
    QRect placed = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, available);
    placed.translate(0, roundedDesignValue(designDropDown * s));
    setGeometry(placed);

    const QRect buttonRect(truncated(designButtonRect.x() * s), truncated(designButtonRect.y() * s),
                           truncated(designButtonRect.width() * s),
                           truncated(designButtonRect.height() * s));
    if (installButton)
        installButton->setGeometry(buttonRect);
    if (progressBar) {
        progressBar->setGeometry(buttonRect);
        progressBar->hide();
    }
}

void MainWindow::createLabels(const GuiContext &context, bool simulatorFlag)
{
    const double s = scaleFactor;
    show();
    for (const LabelSetting &entry : context.settings.labels) {
        if (!entry.create) {
            if (entry.id == QLatin1String("8b2") && installButton) {
                installButton->setText(entry.text);
                continue;
            }
            if (!(entry.id == QLatin1String("sim_mode") && simulatorFlag))
                continue;
        }
        if (entry.text.isEmpty())
            continue;

        auto *label = new QLabel(entry.text, this);
        label->setObjectName(QStringLiteral("label_") + entry.id);
        if (entry.id == QLatin1String("2"))
            label->setText(entry.text.arg(productNameOf(context.desired)));
        else if (entry.id == QLatin1String("4"))
            label->setText(entry.text.arg(context.desired.revision));

        if (isLeftTopHeader(entry.id))
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        else if (isRightTopHeader(entry.id))
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);

        if (entry.id == statusLabelId)
            statusLabel = label;

        applyLabelFont(*label, entry);

        const QFontMetrics metrics(label->font());
        int width = metrics.horizontalAdvance(label->text());
        const int height = (label->text().count(QLatin1Char('\n')) + 1) * metrics.height();
        if (isRightTopHeader(entry.id)) {
            width = truncated(designHeaderWidth * s);
            qInfo() << "Overriding width to " << width << "for text:" << entry.text;
        }
        label->resize(width, height);

        label->setStyleSheet(entry.white ? whiteLabelStyleSheet() : blackLabelStyleSheet());
        if (entry.x > 0 && entry.y > 0)
            label->move(roundedDesignValue(entry.x * s), roundedDesignValue(entry.y * s));
        label->show();
    }
}

void MainWindow::enableDownload()
{
    downloadMode = true;
    emit downloadModeChanged();
}

void MainWindow::disableDownload()
{
    downloadMode = false;
    emit downloadModeChanged();
}

void MainWindow::toggleDownload()
{
    downloadMode = !downloadMode;
    emit downloadModeChanged();
}

void MainWindow::updateDownloadMode()
{
    if (installButton) {
        qInfo() << "MainWindow downloadMode: setEnabled" << downloadMode;
        installButton->setEnabled(downloadMode);
    }
    qInfo() << "Download " << (downloadMode ? "enabled" : "disabled");
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Modifiers are not looked at, and other keys are not passed on.
    switch (event->key()) {
    case Qt::Key_A:
        toggleDownload();
        break;
    case Qt::Key_Q:
    case Qt::Key_Escape:
        emit finished();
        break;
    default:
        break;
    }
}

MainWindow *createMainWindow(const GuiContext &context, QWidget *parent, bool simulatorFlag)
{
    if (context.settings.labelText(statusLabelId).isEmpty())
        qFatal("No message with id '%s' found, aborting", statusLabelId.toLocal8Bit().constData());

    auto *window = new MainWindow(context, parent);

    window->installButton = new InstallButton(window);
    setUpInstallButton(*window->installButton);

    window->createLabels(context, simulatorFlag);
    window->updateDownloadMode();

    window->progressBar = new ProgressBar(window);
    window->progressBar->setObjectName(QStringLiteral("progressBar"));
    window->applyGeometry();

    const double s = window->scaleFactor;
    for (const CircleSetting &setting : context.settings.circles) {
        auto *circle = new Circle(roundedDesignValue(setting.x * s), roundedDesignValue(setting.y * s),
                                  static_cast<int>(setting.radius * s),
                                  static_cast<int>(setting.penWidth * s), setting.color, window);
        circle->setObjectName(QStringLiteral("circle_") + setting.name);
        circle->show();
    }
    return window;
}
