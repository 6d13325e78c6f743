#include "app/log_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace {

const char *orNull(const char *text)
{
    return text ? text : "(null)";
}

// "<prefix><message> (<file>:<line>, <function>)\n", an absent file or function written "(null)".
QByteArray formatLine(const char *prefix, const QByteArray &message, const QMessageLogContext &context)
{
    return QByteArray(prefix) + message + " (" + orNull(context.file) + ':'
           + QByteArray::number(static_cast<unsigned>(context.line)) + ", " + orNull(context.function)
           + ")\n";
}

} // namespace

QByteArray logWindowStandardErrorLine(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    const QByteArray local = msg.toLocal8Bit();
    switch (type) {
    case QtDebugMsg: return formatLine("Debug: ", local, context);
    case QtWarningMsg: return formatLine("Warning: ", local, context);
    case QtCriticalMsg: return formatLine("Critical: ", local, context);
    case QtFatalMsg: return formatLine("Fatal: ", local, context);
    case QtInfoMsg: return formatLine("Info: ", local, context);
    }
    return QByteArray();
}

LogWindowDialog::LogWindowDialog(QWidget *parent)
    : QDialog(parent)
    , askSaveFileName([](QWidget *dialogParent, const QString &caption, const QString &proposed,
                         const QString &filter) {
        return QFileDialog::getSaveFileName(dialogParent, caption, proposed, filter);
    })
    , textBrowser(new QTextBrowser(this))
    , clearButton(new QPushButton(QStringLiteral("clear"), this))
    , saveButton(new QPushButton(QStringLiteral("save output"), this))
    , hideButton(new QPushButton(QStringLiteral("hide log"), this))
{
    textBrowser->setObjectName(QStringLiteral("textBrowser"));
    clearButton->setObjectName(QStringLiteral("clearButton"));
    saveButton->setObjectName(QStringLiteral("saveButton"));
    hideButton->setObjectName(QStringLiteral("hideButton"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(textBrowser);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    buttons->addStretch(10);
    buttons->addWidget(clearButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(hideButton);

    connect(clearButton, SIGNAL(clicked()), textBrowser, SLOT(clear()));
    connect(saveButton, SIGNAL(clicked()), this, SLOT(save()));
    connect(hideButton, &QPushButton::clicked, this, [this] { hide(); }, Qt::DirectConnection);

    resize(600, 400);
}

void LogWindowDialog::outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    QString paragraph;
    switch (type) {
    case QtDebugMsg: paragraph = tr("Debug: %1").arg(msg); break;
    case QtWarningMsg: paragraph = tr("Warning: %1").arg(msg); break;
    case QtCriticalMsg: paragraph = tr("CRITICAL: %1").arg(msg); break;
    case QtFatalMsg: paragraph = tr("FATAL: %1").arg(msg); break;
    case QtInfoMsg: paragraph = tr("%1").arg(msg); break;
    default: return;
    }
    textBrowser->append(paragraph);
    const QByteArray line = logWindowStandardErrorLine(type, context, msg);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

void LogWindowDialog::save()
{
    const QString filter = tr("Text Files (*.txt)") + QStringLiteral(";;") + tr("All Files (*)");
    const QString proposed = QStringLiteral("%1/logfile.txt").arg(QDir::homePath());
    const QString fileName = askSaveFileName(this, tr("Save Log Output"), proposed, filter);
    if (fileName.isEmpty())
        return;

    QFile file(fileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream stream(&file);
        stream << textBrowser->toPlainText();
        stream.flush();
        file.close();
        return;
    }
    QMessageBox::warning(this, tr("Error"),
                         tr("<nobr>File '%1'<br/>cannot be opened for writing.<br/><br/>"
                            "The log output could <b>not</b> be saved!</nobr>")
                             .arg(fileName),
                         QMessageBox::Ok);
}

void LogWindowDialog::keyPressEvent(QKeyEvent *event)
{
    // Escape would reject the dialog and Enter would press a default button.
    event->ignore();
}

void LogWindowDialog::closeEvent(QCloseEvent *event)
{
    event->accept();
}

LogWindow::LogWindow(QObject *parent)
    : QObject(parent)
    , logDialog(new LogWindowDialog(nullptr))
{
    connect(this, &LogWindow::sendMessage, logDialog, &LogWindowDialog::outputMessage);
}

LogWindow::~LogWindow()
{
    delete logDialog;
}

void LogWindow::outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    emit sendMessage(type, context, msg);
}

void LogWindow::deliver(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (QThread::currentThread() == thread()) {
        emit sendMessage(type, context, msg);
        return;
    }
    if (type == QtFatalMsg) {
        // The process ends before a queued message could be shown.
        const QByteArray line = logWindowStandardErrorLine(type, context, msg);
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
        std::abort();
    }
    const int typeValue = type;
    const QString text = msg;
    QMetaObject::invokeMethod(
        this,
        [this, typeValue, text] {
            const QMessageLogContext emptyContext;
            emit sendMessage(static_cast<QtMsgType>(typeValue), emptyContext, text);
        },
        Qt::QueuedConnection);
}

void LogWindow::toggle_visibility(QMainWindow *mainWindow)
{
    if (logDialog->isVisible()) {
        logDialog->hide();
        return;
    }
    logDialog->show();
    const QRect mainGeometry = mainWindow->geometry();
    logDialog->setGeometry(QRect(QPoint(mainGeometry.right(), mainGeometry.top()), logDialog->size()));
}

QPointer<LogWindow> &logWindow()
{
    static QPointer<LogWindow> window;
    return window;
}

void logWindowMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    LogWindow *window = logWindow().data();
    if (window)
        window->deliver(type, context, msg);
}
