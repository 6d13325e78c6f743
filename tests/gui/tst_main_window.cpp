#include "gui/circle.h"
#include "gui/fonts.h"
#include "gui/gui_settings.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "gui/style_sheets.h"
#include "support/log_capture.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>
#include <memory>

// This executable runs its main suite at 96 logical dots per inch (scale 1)
// and starts itself again as a child for the cases that need another screen
// resolution or that end the process.
namespace {

const char modeVariable[] = "MAIN_WINDOW_TEST_MODE";
const char settingsVariable[] = "MAIN_WINDOW_TEST_SETTINGS";

const QString titleText = QStringLiteral(
    "\r\n<span style=\"font-size:20pt\">\r\n<span style=\"color:#FFFFFF; font-weight:bold;\">Firmware "
    "upgrade</span>\n<br>\r\n<span style=\"font-weight:bold\">%1</span></span>");
const QString versionText = QStringLiteral("<span style=\"font-size:20pt\">\r\nFirmware version:\n<br>\r\n%1</span>");
const QString versionLogText = QStringLiteral(
    "\"<span style=\\\"font-size:20pt\\\">\\r\\nFirmware version:\\n<br>\\r\\n%1</span>\"");

GuiContext embeddedContext()
{
    GuiContext context;
    context.settings.load(QStringLiteral(":resources/settings_GUI.json"));
    context.desired.name = QStringLiteral("ARC31");
    context.desired.type = 4;
    context.desired.revision = QStringLiteral("2.0.7");
    return context;
}

GuiContext contextFromJson(const QString &json)
{
    GuiContext context;
    context.settings.appendFromText(json);
    context.desired.type = 4;
    context.desired.revision = QStringLiteral("2.0.7");
    return context;
}

const QString minimalStatus = QStringLiteral(R"({"id":"status_noDev","text":"No device"})");

GuiContext contextWithLabels(const QStringList &labels)
{
    return contextFromJson(QStringLiteral("{\"labels\": [%1]}").arg(labels.join(QLatin1Char(','))));
}

using WindowPointer = std::unique_ptr<MainWindow>;

WindowPointer createWindow(const GuiContext &context, bool simulator = false)
{
    return WindowPointer(createMainWindow(context, nullptr, simulator));
}

QLabel *labelOf(const MainWindow &window, const QString &id)
{
    return window.findChild<QLabel *>(QStringLiteral("label_") + id);
}

int fontLines(const QLabel &label)
{
    return label.text().count(QLatin1Char('\n')) + 1;
}

struct ChildRun {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    QByteArray output;
    QByteArray errors;
};

ChildRun runChild(const QByteArray &mode, const QByteArray &fontDpi, const QString &settings = QString())
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(modeVariable), QString::fromLatin1(mode));
    environment.insert(QStringLiteral("QT_FONT_DPI"), QString::fromLatin1(fontDpi));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    if (!settings.isNull())
        environment.insert(QString::fromLatin1(settingsVariable), settings);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    ChildRun run;
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
    }
    run.exitCode = child.exitCode();
    run.exitStatus = child.exitStatus();
    run.output = child.readAllStandardOutput();
    run.errors = child.readAllStandardError();
    return run;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void windowIsFixedAndCentredBelowTheMiddle();
    void embeddedLabels_data();
    void embeddedLabels();
    void textsWithoutLabelsGetNone_data();
    void textsWithoutLabelsGetNone();
    void simulatorLabelFollowsTheFlag_data();
    void simulatorLabelFollowsTheFlag();
    void headersGetProductAndRevision();
    void headerOfAProductWithoutRowIsEmpty();
    void labelsWithoutUsablePositionStayTopLeft_data();
    void labelsWithoutUsablePositionStayTopLeft();
    void blackLabelsGetTheBlackStyle();
    void buttonTextEntryThatIsCreatedGivesALabel();
    void installButtonSitsBelowTheProgressBar();
    void ringMarksTheHeadButton();
    void factoryLogsItsSteps();
    void styleSheetShowsThePicture();

    void modeSlots_data();
    void modeSlots();
    void bareWindowHasNoButtonToSwitch();
    void keys_data();
    void keys();
    void installClickLogsOnlyWhenEnabled();

    void scaledScreenGivesScaledGeometry();
    void missingStatusTextEndsTheProcess_data();
    void missingStatusTextEndsTheProcess();
};

void TestMainWindow::initTestCase()
{
    setDefaultFont();
    QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 96.0);
    QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 800, 600));
}

void TestMainWindow::windowIsFixedAndCentredBelowTheMiddle()
{
    const WindowPointer window = createWindow(embeddedContext());
    QCOMPARE(window->scaleFactor, 1.0);
    QCOMPARE(window->minimumSize(), QSize(665, 517));
    QCOMPARE(window->maximumSize(), QSize(665, 517));
    // Centred on the 800 x 600 screen at (400 - 332, 300 - 258), then 50 pixels down.
    QCOMPARE(window->geometry(), QRect(68, 92, 665, 517));
    QVERIFY(window->isVisible());
    QVERIFY(window->centralWidget());
    QCOMPARE(window->centralWidget()->parent(), window.get());
}

void TestMainWindow::embeddedLabels_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<int>("lines");

    QTest::newRow("the title is five font lines high") << "2" << QPoint(37, 32) << 5;
    QTest::newRow("the version header is four font lines high") << "4" << QPoint(400, 32) << 4;
    QTest::newRow("the introduction is two font lines high") << "5" << QPoint(37, 270) << 2;
    QTest::newRow("step 1") << "7a" << QPoint(37, 320) << 1;
    QTest::newRow("step 2") << "7b" << QPoint(37, 350) << 1;
    QTest::newRow("step 3 has two lines") << "7c" << QPoint(37, 380) << 2;
    QTest::newRow("step 4") << "9" << QPoint(37, 428) << 1;
    QTest::newRow("the status line sits on the white band") << "status_noDev" << QPoint(37, 463) << 3;
}

void TestMainWindow::embeddedLabels()
{
    QFETCH(QString, id);
    QFETCH(QPoint, position);
    QFETCH(int, lines);

    const WindowPointer window = createWindow(embeddedContext());
    QLabel *label = labelOf(*window, id);
    QVERIFY(label);
    QCOMPARE(label->parent(), window.get());
    QVERIFY(label->isVisible());
    QCOMPARE(label->pos(), position);
    QCOMPARE(fontLines(*label), lines);
    const QFontMetrics metrics(label->font());
    QCOMPARE(label->height(), lines * metrics.height());
    const int width = id == QLatin1String("4") ? 228 : metrics.horizontalAdvance(label->text());
    QCOMPARE(label->width(), width);
    QCOMPARE(label->styleSheet(), whiteLabelStyleSheet());
    QCOMPARE(label->font().family(), QStringLiteral("Cantarell"));

    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    if (id == QLatin1String("2"))
        alignment = Qt::AlignLeft | Qt::AlignTop;
    else if (id == QLatin1String("4"))
        alignment = Qt::AlignRight | Qt::AlignTop;
    QCOMPARE(label->alignment(), alignment);
    if (id == QLatin1String("status_noDev"))
        QCOMPARE(window->statusLabel, label);
}

void TestMainWindow::textsWithoutLabelsGetNone_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("the button text") << "8b2";
    QTest::newRow("the connected text") << "status_devConn";
    QTest::newRow("the revision text") << "status_devRev";
    QTest::newRow("the unknown-revision text") << "status_devRevUnknown";
    QTest::newRow("the application name") << "app_name";
    QTest::newRow("the debug note, even in simulator mode") << "debug_mode";
}

void TestMainWindow::textsWithoutLabelsGetNone()
{
    QFETCH(QString, id);
    const WindowPointer window = createWindow(embeddedContext(), true);
    QVERIFY(!labelOf(*window, id));
    QCOMPARE(window->findChildren<QLabel *>().size(), 9);
}

void TestMainWindow::simulatorLabelFollowsTheFlag_data()
{
    QTest::addColumn<bool>("simulator");
    QTest::newRow("simulator mode shows the note") << true;
    QTest::newRow("device mode does not") << false;
}

void TestMainWindow::simulatorLabelFollowsTheFlag()
{
    QFETCH(bool, simulator);
    const WindowPointer window = createWindow(embeddedContext(), simulator);
    QLabel *label = labelOf(*window, QStringLiteral("sim_mode"));
    QCOMPARE(label != nullptr, simulator);
    if (label) {
        QCOMPARE(label->text(), QStringLiteral("Simulator mode"));
        QCOMPARE(label->pos(), QPoint(480, 407));
        QVERIFY(label->isVisible());
    }
}

void TestMainWindow::headersGetProductAndRevision()
{
    const WindowPointer window = createWindow(embeddedContext());
    QString title = titleText;
    title.replace(QStringLiteral("%1"), QStringLiteral("Lumarex Arc-31"));
    QCOMPARE(labelOf(*window, QStringLiteral("2"))->text(), title);
    QString version = versionText;
    version.replace(QStringLiteral("%1"), QStringLiteral("2.0.7"));
    QCOMPARE(labelOf(*window, QStringLiteral("4"))->text(), version);
    QCOMPARE(labelOf(*window, QStringLiteral("5"))->text(),
             QStringLiteral("Follow the steps below\nto upgrade your product."));
}

void TestMainWindow::headerOfAProductWithoutRowIsEmpty()
{
    GuiContext context = contextWithLabels({minimalStatus, R"({"id":"2","text":"[%1]","position":{"x":5,"y":6}})"});
    context.desired.type = 77;
    const WindowPointer window = createWindow(context);
    QCOMPARE(labelOf(*window, QStringLiteral("2"))->text(), QStringLiteral("[]"));
}

void TestMainWindow::labelsWithoutUsablePositionStayTopLeft_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("no position") << R"({"id":"p","text":"P"})";
    QTest::newRow("x at 0") << R"({"id":"p","text":"P","position":{"x":0,"y":40}})";
    QTest::newRow("y negative") << R"({"id":"p","text":"P","position":{"x":40,"y":-3}})";
    QTest::newRow("only x given") << R"({"id":"p","text":"P","position":{"x":37}})";
}

void TestMainWindow::labelsWithoutUsablePositionStayTopLeft()
{
    QFETCH(QString, entry);
    const WindowPointer window = createWindow(contextWithLabels({minimalStatus, entry}));
    QLabel *label = labelOf(*window, QStringLiteral("p"));
    QVERIFY(label);
    QCOMPARE(label->pos(), QPoint(0, 0));
}

void TestMainWindow::blackLabelsGetTheBlackStyle()
{
    const WindowPointer window = createWindow(contextWithLabels(
        {minimalStatus, R"({"id":"b","text":"Black","white":false,"position":{"x":1,"y":1}})",
         R"({"id":"e","text":""})"}));
    QCOMPARE(labelOf(*window, QStringLiteral("b"))->styleSheet(), blackLabelStyleSheet());
    QVERIFY(!labelOf(*window, QStringLiteral("e")));
}

void TestMainWindow::buttonTextEntryThatIsCreatedGivesALabel()
{
    const WindowPointer window = createWindow(
        contextWithLabels({minimalStatus, R"({"id":"8b2","text":"Press me","position":{"x":10,"y":10}})"}));
    QLabel *label = labelOf(*window, QStringLiteral("8b2"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Press me"));
    QCOMPARE(window->installButton->text(), QString());
}

void TestMainWindow::installButtonSitsBelowTheProgressBar()
{
    const WindowPointer window = createWindow(embeddedContext());
    auto *button = window->findChild<InstallButton *>(QStringLiteral("GUI_8"));
    QVERIFY(button);
    QCOMPARE(window->installButton, button);
    QCOMPARE(button->parent(), window.get());
    QCOMPARE(button->text(), QStringLiteral("5. Click to start upgrade"));
    QCOMPARE(button->geometry(), QRect(207, 417, 250, 40));
    QVERIFY(!button->isFlat());
    QCOMPARE(button->minimumHeight(), 30);
    QVERIFY(!button->isEnabled());
    QVERIFY(button->isVisible());
    QCOMPARE(button->styleSheet(), QString());

    auto *bar = window->findChild<ProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QCOMPARE(window->progressBar, bar);
    QCOMPARE(bar->geometry(), QRect(207, 417, 250, 40));
    QVERIFY(!bar->isVisible());

    // Later children are drawn above earlier ones.
    const QObjectList children = window->children();
    const int buttonIndex = children.indexOf(button);
    QVERIFY(buttonIndex < children.indexOf(labelOf(*window, QStringLiteral("2"))));
    QVERIFY(children.indexOf(window->statusLabel) < children.indexOf(bar));
    QVERIFY(children.indexOf(bar) < children.indexOf(window->findChild<Circle *>()));
}

void TestMainWindow::ringMarksTheHeadButton()
{
    const WindowPointer window = createWindow(embeddedContext());
    const QList<Circle *> circles = window->findChildren<Circle *>();
    QCOMPARE(circles.size(), 1);
    const Circle *circle = circles.first();
    QCOMPARE(circle->parent(), window.get());
    QVERIFY(circle->isVisible());
    QCOMPARE(circle->geometry(), QRect(275, 267, 40, 40));
    QCOMPARE(circle->penWidth, 5);
    QCOMPARE(circle->color.rgba(), 0x60FF4040u);
    QCOMPARE(circle->ringRect(), QRect(QPoint(2, 2), QPoint(37, 37)));
}

void TestMainWindow::factoryLogsItsSteps()
{
    const LogCapture log;
    const WindowPointer window = createWindow(embeddedContext());
    QCOMPARE(log.texts(), (QStringList{QStringLiteral("Overriding width to  228 for text: ") + versionLogText,
                                       QStringLiteral("MainWindow downloadMode: setEnabled false"),
                                       QStringLiteral("Download  disabled")}));
    for (const LogCapture::Entry &entry : log.entries())
        QCOMPARE(entry.type, QtInfoMsg);
}

void TestMainWindow::styleSheetShowsThePicture()
{
    const WindowPointer window = createWindow(embeddedContext());
    QCOMPARE(window->styleSheet(),
             QStringLiteral("QMainWindow { border-image:url(\"://resources/background.jpg\") 0 0 0 0 stretch "
                            "stretch; }"));
    QVERIFY(QFile::exists(QStringLiteral("://resources/background.jpg")));
}

void TestMainWindow::modeSlots_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<bool>("mode");
    QTest::addColumn<QStringList>("log");

    const QString onLine = QStringLiteral("MainWindow downloadMode: setEnabled true");
    const QString offLine = QStringLiteral("MainWindow downloadMode: setEnabled false");
    const QString enabled = QStringLiteral("Download  enabled");
    const QString disabled = QStringLiteral("Download  disabled");

    QTest::newRow("enable twice emits twice and stays enabled")
        << QStringList{"enable", "enable"} << true << QStringList{onLine, enabled, onLine, enabled};
    QTest::newRow("disable on a disabled window still reports")
        << QStringList{"disable"} << false << QStringList{offLine, disabled};
    QTest::newRow("toggle twice comes back") << QStringList{"toggle", "toggle"} << false
                                             << QStringList{onLine, enabled, offLine, disabled};
    QTest::newRow("enable then disable") << QStringList{"enable", "disable"} << false
                                         << QStringList{onLine, enabled, offLine, disabled};
    QTest::newRow("key A on a fresh window enables the button")
        << QStringList{"keyA"} << true << QStringList{onLine, enabled};
}

void TestMainWindow::modeSlots()
{
    QFETCH(QStringList, actions);
    QFETCH(bool, mode);
    QFETCH(QStringList, log);

    const WindowPointer window = createWindow(embeddedContext());
    QSignalSpy changed(window.get(), &MainWindow::downloadModeChanged);
    const LogCapture capture;
    for (const QString &action : qAsConst(actions)) {
        if (action == QLatin1String("enable"))
            window->enableDownload();
        else if (action == QLatin1String("disable"))
            window->disableDownload();
        else if (action == QLatin1String("toggle"))
            window->toggleDownload();
        else
            QTest::keyClick(window.get(), Qt::Key_A);
    }
    QCOMPARE(changed.count(), actions.size());
    QCOMPARE(window->downloadMode, mode);
    QCOMPARE(window->installButton->isEnabled(), mode);
    QCOMPARE(capture.texts(), log);
}

void TestMainWindow::bareWindowHasNoButtonToSwitch()
{
    const LogCapture capture;
    MainWindow window(embeddedContext());
    QVERIFY(!window.installButton);
    QVERIFY(!window.progressBar);
    QVERIFY(!window.statusLabel);
    QVERIFY(!window.downloadMode);
    QVERIFY(window.findChildren<QLabel *>().isEmpty());
    QCOMPARE(capture.texts(), QStringList());
    window.enableDownload();
    QCOMPARE(capture.texts(), QStringList{QStringLiteral("Download  enabled")});
}

void TestMainWindow::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("finished");
    QTest::addColumn<bool>("mode");

    QTest::newRow("Q asks to finish") << int(Qt::Key_Q) << int(Qt::NoModifier) << 1 << false;
    QTest::newRow("Escape asks to finish") << int(Qt::Key_Escape) << int(Qt::NoModifier) << 1 << false;
    QTest::newRow("shift and Q still finish") << int(Qt::Key_Q) << int(Qt::ShiftModifier) << 1 << false;
    QTest::newRow("control and A still toggle") << int(Qt::Key_A) << int(Qt::ControlModifier) << 0 << true;
    QTest::newRow("another key does nothing") << int(Qt::Key_B) << int(Qt::NoModifier) << 0 << false;
    QTest::newRow("Enter does nothing") << int(Qt::Key_Return) << int(Qt::NoModifier) << 0 << false;
}

void TestMainWindow::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, finished);
    QFETCH(bool, mode);

    const WindowPointer window = createWindow(embeddedContext());
    QSignalSpy finishedSpy(window.get(), &MainWindow::finished);
    QTest::keyClick(window.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(finishedSpy.count(), finished);
    QCOMPARE(window->downloadMode, mode);
    QVERIFY(window->isVisible());
}

void TestMainWindow::installClickLogsOnlyWhenEnabled()
{
    const WindowPointer window = createWindow(embeddedContext());
    QSignalSpy clicked(window->installButton, &QPushButton::clicked);
    LogCapture capture;
    QTest::mouseClick(window->installButton, Qt::LeftButton);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(capture.texts(), QStringList());

    window->enableDownload();
    capture.clear();
    QTest::mouseClick(window->installButton, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(capture.texts(), QStringList{QStringLiteral("Install clicked")});
}

void TestMainWindow::scaledScreenGivesScaledGeometry()
{
    const ChildRun run = runChild("scaled", "120");
    const QByteArray report = run.output + run.errors;
    QVERIFY2(run.exitStatus == QProcess::NormalExit && run.exitCode == 0, report.constData());
    QVERIFY2(report.contains("Totals: 7 passed, 0 failed"), report.constData());
}

void TestMainWindow::missingStatusTextEndsTheProcess_data()
{
    QTest::addColumn<QString>("labels");
    QTest::addColumn<QStringList>("lines");

    const QString fatal = QStringLiteral("fatal: No message with id 'status_noDev' found, aborting; windows: 0");
    QTest::newRow("no status entry warns, then stops")
        << R"({"id":"5","text":"x"})"
        << QStringList{QStringLiteral("warning: No matching label with id \"status_noDev\" found"), fatal};
    QTest::newRow("an empty status text stops without a warning")
        << R"({"id":"status_noDev","text":""})" << QStringList{fatal};
}

void TestMainWindow::missingStatusTextEndsTheProcess()
{
    QFETCH(QString, labels);
    QFETCH(QStringList, lines);

    const ChildRun run = runChild("factory", "96", QStringLiteral("{\"labels\": [%1]}").arg(labels));
    QCOMPARE(run.exitStatus, QProcess::CrashExit);
    QCOMPARE(QString::fromUtf8(run.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts), lines);
}

// Runs in the child at 120 logical dots per inch.
class TestScaledMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setDefaultFont();
        QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 120.0);
    }

    void windowIsScaledCentredAndMovedDown()
    {
        const WindowPointer window = createWindow(embeddedContext());
        QCOMPARE(window->scaleFactor, 1.25);
        QCOMPARE(window->minimumSize(), QSize(831, 646));
        QCOMPARE(window->maximumSize(), QSize(831, 646));
        // Centred on the 800 x 600 screen at (400 - 415, 300 - 323), then 63 pixels down.
        QCOMPARE(window->geometry(), QRect(-15, 40, 831, 646));
    }

    void buttonAndBarAreScaled()
    {
        const WindowPointer window = createWindow(embeddedContext());
        QCOMPARE(window->installButton->geometry(), QRect(258, 521, 312, 50));
        QCOMPARE(window->progressBar->geometry(), QRect(258, 521, 312, 50));
        QVERIFY(!window->progressBar->isVisible());
    }

    void labelsMoveRounded()
    {
        const WindowPointer window = createWindow(embeddedContext());
        QCOMPARE(labelOf(*window, QStringLiteral("5"))->pos(), QPoint(46, 338));
        QCOMPARE(labelOf(*window, QStringLiteral("2"))->pos(), QPoint(46, 40));
        QCOMPARE(labelOf(*window, QStringLiteral("status_noDev"))->pos(), QPoint(46, 579));
        QLabel *version = labelOf(*window, QStringLiteral("4"));
        QCOMPARE(version->pos(), QPoint(500, 40));
        QCOMPARE(version->width(), 285);
    }

    void headerWidthIsLogged()
    {
        const LogCapture log;
        const WindowPointer window = createWindow(embeddedContext());
        QVERIFY(log.texts().contains(QStringLiteral("Overriding width to  285 for text: ") + versionLogText));
    }

    void ringIsScaled()
    {
        const WindowPointer window = createWindow(embeddedContext());
        const Circle *circle = window->findChild<Circle *>();
        QVERIFY(circle);
        QCOMPARE(circle->centerX, 369);
        QCOMPARE(circle->centerY, 359);
        QCOMPARE(circle->radius, 25);
        QCOMPARE(circle->penWidth, 6);
        QCOMPARE(circle->geometry(), QRect(344, 334, 50, 50));
    }
};

namespace {

// Prints every message with its level on standard output, so that the parent
// sees the last messages before the process ends.
void printMessage(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    const char *level = type == QtWarningMsg ? "warning" : type == QtFatalMsg ? "fatal" : "other";
    QByteArray line = QByteArray(level) + ": " + msg.toUtf8();
    if (type == QtFatalMsg)
        line += "; windows: " + QByteArray::number(QApplication::topLevelWidgets().size());
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}

int runFactoryChild()
{
    qInstallMessageHandler(printMessage);
    const GuiContext context = contextFromJson(qEnvironmentVariable(settingsVariable));
    delete createMainWindow(context, nullptr, false);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = qgetenv(modeVariable);
    if (mode.isEmpty())
        qputenv("QT_FONT_DPI", "96");
    QApplication application(argc, argv);
    if (mode == "factory")
        return runFactoryChild();
    if (mode == "scaled") {
        TestScaledMainWindow scaled;
        return QTest::qExec(&scaled, argc, argv);
    }
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_main_window.moc"
