#include "app/log_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

Q_DECLARE_METATYPE(QtMsgType)

namespace {

const char modeVariable[] = "LOG_WINDOW_TEST_MODE";

// Standard error goes to a file while this exists.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QByteArray text() const
    {
        std::fflush(stderr);
        QFile file(m_file.fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// The log-window handler while this exists.
class HandlerInstalled
{
public:
    HandlerInstalled() : m_previous(qInstallMessageHandler(logWindowMessageHandler)) {}
    ~HandlerInstalled() { qInstallMessageHandler(m_previous); }
    HandlerInstalled(const HandlerInstalled &) = delete;
    HandlerInstalled &operator=(const HandlerInstalled &) = delete;

private:
    QtMessageHandler m_previous;
};

// Closes every message box that opens while this exists, remembering what it showed.
class MessageBoxWatcher
{
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QWidget *parent;
    };

    MessageBoxWatcher()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                         box->parentWidget()});
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        });
        m_timer.start();
    }

    QList<Seen> seen;

private:
    QTimer m_timer;
};

QByteArray contextLine(const char *level, const QByteArray &message)
{
    return QByteArray(level) + ": " + message + " ((null):0, (null))\n";
}

void logAt(QtMsgType type, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    switch (type) {
    case QtDebugMsg: qDebug("%s", bytes.constData()); break;
    case QtInfoMsg: qInfo("%s", bytes.constData()); break;
    case QtWarningMsg: qWarning("%s", bytes.constData()); break;
    case QtCriticalMsg: qCritical("%s", bytes.constData()); break;
    case QtFatalMsg: break;
    }
}

} // namespace

class TestLogWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogStartsHiddenAndEmpty();
    void messagesPerLevel_data();
    void messagesPerLevel();
    void contextIsPrintedWhenPresent();
    void unknownTypeShowsNothing();
    void messagesOfAnotherThreadArrive();
    void messagesAfterTheWindowIsGoneAreDropped();
    void fatalMessageIsShownPrintedThenAborts_data();
    void fatalMessageIsShownPrintedThenAborts();

    void saveWritesThePlainTextOverAnOldFile();
    void cancelledSaveWritesNothing();
    void unwritableFileShowsTheErrorBox();
    void clearEmptiesTheBrowser();

    void toggleShowsAtTheMainWindowsRightEdge();
    void hideButtonEscapeEnterAndClose();

private:
    QTextBrowser *browser() const { return window->dialog()->findChild<QTextBrowser *>(QStringLiteral("textBrowser")); }
    QPushButton *button(const char *name) const
    {
        return window->dialog()->findChild<QPushButton *>(QString::fromLatin1(name));
    }

    LogWindow *window = nullptr;
};

void TestLogWindow::init()
{
    window = new LogWindow;
    logWindow() = window;
}

void TestLogWindow::cleanup()
{
    delete window;
    window = nullptr;
    QVERIFY(logWindow().isNull());
}

void TestLogWindow::dialogStartsHiddenAndEmpty()
{
    LogWindowDialog *dialog = window->dialog();
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!dialog->parentWidget());
    QCOMPARE(dialog->size(), QSize(600, 400));
    QCOMPARE(dialog->windowTitle(), QString());
    QVERIFY(browser());
    QVERIFY(browser()->isReadOnly());
    QCOMPARE(browser()->toPlainText(), QString());
    QCOMPARE(button("clearButton")->text(), QStringLiteral("clear"));
    QCOMPARE(button("saveButton")->text(), QStringLiteral("save output"));
    QCOMPARE(button("hideButton")->text(), QStringLiteral("hide log"));

    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    // Buttons in a row at the right, below the browser.
    QVERIFY(button("clearButton")->x() > dialog->width() / 3);
    QVERIFY(button("clearButton")->x() < button("saveButton")->x());
    QVERIFY(button("saveButton")->x() < button("hideButton")->x());
    QVERIFY(button("hideButton")->y() > browser()->geometry().bottom());
}

void TestLogWindow::messagesPerLevel_data()
{
    QTest::addColumn<QtMsgType>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("paragraph");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("an info message stands alone")
        << QtInfoMsg << "Starting sm_A" << "Starting sm_A" << contextLine("Info", "Starting sm_A");
    QTest::newRow("a debug message is prefixed")
        << QtDebugMsg << "Scanning" << "Debug: Scanning" << contextLine("Debug", "Scanning");
    QTest::newRow("a warning is prefixed")
        << QtWarningMsg << "Oops, SM_A not dead yet" << "Warning: Oops, SM_A not dead yet"
        << contextLine("Warning", "Oops, SM_A not dead yet");
    QTest::newRow("a critical message is shouted in the browser only")
        << QtCriticalMsg << "disk full" << "CRITICAL: disk full" << contextLine("Critical", "disk full");
    QTest::newRow("markup is shown as rich text and printed as it stands")
        << QtInfoMsg << "<b>bold</b> and %1" << "bold and %1" << contextLine("Info", "<b>bold</b> and %1");
    QTest::newRow("quotes of the debug stream are kept")
        << QtInfoMsg << "Load/set default font: \"Cantarell\"" << "Load/set default font: \"Cantarell\""
        << contextLine("Info", "Load/set default font: \"Cantarell\"");
}

void TestLogWindow::messagesPerLevel()
{
    QFETCH(QtMsgType, type);
    QFETCH(QString, message);
    QFETCH(QString, paragraph);
    QFETCH(QByteArray, line);

    // The context cannot be queued or copied, so the signal is recorded by hand.
    QList<QPair<QtMsgType, QString>> sent;
    connect(window, &LogWindow::sendMessage, this,
            [&sent](QtMsgType sentType, const QMessageLogContext &, const QString &text) {
                sent.append({sentType, text});
            });
    const HandlerInstalled handler;
    const StderrCapture errors;
    logAt(type, message);
    // Written before the logging call returns.
    QCOMPARE(errors.text(), line);
    QCOMPARE(browser()->toPlainText(), paragraph);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().first, type);
    QCOMPARE(sent.first().second, message);

    logAt(type, message);
    QCOMPARE(errors.text(), line + line);
    QCOMPARE(browser()->toPlainText(), paragraph + QLatin1Char('\n') + paragraph);
}

void TestLogWindow::contextIsPrintedWhenPresent()
{
    const StderrCapture errors;
    const QMessageLogContext context("device.cpp", 42, "void poll()", "default");
    window->outputMessage(QtWarningMsg, context, QStringLiteral("late"));
    QCOMPARE(errors.text(), QByteArray("Warning: late (device.cpp:42, void poll())\n"));
    QCOMPARE(browser()->toPlainText(), QStringLiteral("Warning: late"));
}

void TestLogWindow::unknownTypeShowsNothing()
{
    const StderrCapture errors;
    // 7 names no message type yet lies within QtMsgType's range of values (0 to 7);
    // a value beyond that range would be undefined behaviour before the call.
    window->dialog()->outputMessage(static_cast<QtMsgType>(7), QMessageLogContext(), QStringLiteral("odd"));
    QCOMPARE(errors.text(), QByteArray());
    QCOMPARE(browser()->toPlainText(), QString());
}

void TestLogWindow::messagesOfAnotherThreadArrive()
{
    const HandlerInstalled handler;
    const StderrCapture errors;
    std::unique_ptr<QThread> worker(QThread::create([] {
        qWarning() << "from worker" << 3;
        qInfo() << QStringLiteral("second");
    }));
    worker->start();
    QVERIFY(worker->wait(30000));
    QTRY_COMPARE_WITH_TIMEOUT(browser()->toPlainText(), QStringLiteral("Warning: from worker 3\n\"second\""), 10000);
    QCOMPARE(errors.text(), contextLine("Warning", "from worker 3") + contextLine("Info", "\"second\""));
}

void TestLogWindow::messagesAfterTheWindowIsGoneAreDropped()
{
    const HandlerInstalled handler;
    const StderrCapture errors;
    delete window;
    window = nullptr;
    QVERIFY(logWindow().isNull());
    qWarning("nobody listens");
    QCOMPARE(errors.text(), QByteArray());
}

void TestLogWindow::fatalMessageIsShownPrintedThenAborts_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::newRow("in the window's thread") << QByteArray("fatal");
    QTest::newRow("in another thread") << QByteArray("fatal-thread");
}

void TestLogWindow::fatalMessageIsShownPrintedThenAborts()
{
    QFETCH(QByteArray, mode);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(modeVariable), QString::fromLatin1(mode));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QByteArray errors = child.readAllStandardError();
    QVERIFY2(errors.endsWith(contextLine("Fatal", "Bad value 7")), errors.constData());
    QCOMPARE(errors.count("Fatal:"), 1);
    if (mode == "fatal")
        QCOMPARE(child.readAllStandardOutput(), QByteArray("browser: FATAL: Bad value 7\n"));
}

void TestLogWindow::saveWritesThePlainTextOverAnOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("saved.txt"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older and much longer content that must disappear entirely\n");
    old.close();

    struct Asked {
        QWidget *parent;
        QString caption, proposed, filter;
    };
    QList<Asked> asked;
    window->dialog()->askSaveFileName = [&](QWidget *parent, const QString &caption, const QString &proposed,
                                            const QString &filter) {
        asked.append({parent, caption, proposed, filter});
        return path;
    };
    {
        const HandlerInstalled handler;
        const StderrCapture errors;
        qDebug("one");
        qWarning("two");
        qInfo("<i>three</i>");
    }
    const MessageBoxWatcher boxes;
    QTest::mouseClick(button("saveButton"), Qt::LeftButton);

    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().parent, window->dialog());
    QCOMPARE(asked.first().caption, QStringLiteral("Save Log Output"));
    QCOMPARE(asked.first().proposed, QDir::homePath() + QStringLiteral("/logfile.txt"));
    QCOMPARE(asked.first().filter, QStringLiteral("Text Files (*.txt);;All Files (*)"));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("Debug: one\nWarning: two\nthree"));
    QCOMPARE(boxes.seen.size(), 0);
}

void TestLogWindow::cancelledSaveWritesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir::setCurrent(dir.path());
    int asked = 0;
    window->dialog()->askSaveFileName = [&](QWidget *, const QString &, const QString &, const QString &) {
        ++asked;
        return QString();
    };
    const MessageBoxWatcher boxes;
    QTest::mouseClick(button("saveButton"), Qt::LeftButton);
    QCOMPARE(asked, 1);
    QCOMPARE(boxes.seen.size(), 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TestLogWindow::unwritableFileShowsTheErrorBox()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("missing-dir/log.txt"));
    window->dialog()->askSaveFileName = [&](QWidget *, const QString &, const QString &, const QString &) {
        return path;
    };
    window->dialog()->outputMessage(QtInfoMsg, QMessageLogContext(), QStringLiteral("kept"));
    window->dialog()->show();

    const MessageBoxWatcher boxes;
    QTest::mouseClick(button("saveButton"), Qt::LeftButton);
    QCOMPARE(boxes.seen.size(), 1);
    const MessageBoxWatcher::Seen box = boxes.seen.first();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("<nobr>File '%1'<br/>cannot be opened for writing.<br/><br/>The log output "
                                      "could <b>not</b> be saved!</nobr>")
                           .arg(path));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, window->dialog());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(browser()->toPlainText(), QStringLiteral("kept"));
    QVERIFY(window->dialog()->isVisible());
}

void TestLogWindow::clearEmptiesTheBrowser()
{
    window->dialog()->outputMessage(QtInfoMsg, QMessageLogContext(), QStringLiteral("gone soon"));
    QCOMPARE(browser()->toPlainText(), QStringLiteral("gone soon"));
    QTest::mouseClick(button("clearButton"), Qt::LeftButton);
    QCOMPARE(browser()->toPlainText(), QString());
}

void TestLogWindow::toggleShowsAtTheMainWindowsRightEdge()
{
    QMainWindow mainWindow;
    mainWindow.setGeometry(100, 120, 300, 200);
    mainWindow.show();
    LogWindowDialog *dialog = window->dialog();

    window->toggle_visibility(&mainWindow);
    QVERIFY(dialog->isVisible());
    // The right coordinate of (100, 120, 300 x 200) is 100 + 300 - 1.
    QCOMPARE(dialog->geometry(), QRect(399, 120, 600, 400));
    QCOMPARE(browser()->toPlainText(), QString());

    window->toggle_visibility(&mainWindow);
    QVERIFY(!dialog->isVisible());

    mainWindow.setGeometry(10, 30, 200, 100);
    dialog->resize(320, 240);
    window->toggle_visibility(&mainWindow);
    QCOMPARE(dialog->geometry(), QRect(209, 30, 320, 240));
}

void TestLogWindow::hideButtonEscapeEnterAndClose()
{
    QMainWindow mainWindow;
    mainWindow.setGeometry(50, 60, 200, 100);
    mainWindow.show();
    QPointer<LogWindowDialog> dialog = window->dialog();
    int asked = 0;
    dialog->askSaveFileName = [&](QWidget *, const QString &, const QString &, const QString &) {
        ++asked;
        return QString();
    };

    window->toggle_visibility(&mainWindow);
    QTest::mouseClick(button("hideButton"), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());

    window->toggle_visibility(&mainWindow);
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(dialog, Qt::Key_Return);
    QTest::keyClick(dialog, Qt::Key_Enter);
    QVERIFY(dialog->isVisible());
    QCOMPARE(asked, 0);

    QVERIFY(dialog->close());
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    window->toggle_visibility(&mainWindow);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->geometry().topLeft(), QPoint(249, 60));
}

namespace {

// Child process: logs a fatal message through the log window and must abort.
int runFatalChild(bool inAnotherThread)
{
    auto *window = new LogWindow;
    logWindow() = window;
    // The browser changes before the line is printed and the process aborts.
    auto *browser = window->dialog()->findChild<QTextBrowser *>();
    QObject::connect(browser, &QTextBrowser::textChanged, browser, [browser] {
        std::fprintf(stdout, "browser: %s\n", qPrintable(browser->toPlainText()));
        std::fflush(stdout);
    });
    qInstallMessageHandler(logWindowMessageHandler);
    auto fail = [] { qFatal("Bad value %d", 7); };
    if (inAnotherThread) {
        std::unique_ptr<QThread> worker(QThread::create(fail));
        worker->start();
        worker->wait();
    } else {
        fail();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QByteArray mode = qgetenv(modeVariable);
    if (mode == "fatal" || mode == "fatal-thread")
        return runFatalChild(mode == "fatal-thread");
    TestLogWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_log_window.moc"
