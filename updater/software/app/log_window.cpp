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

QByteArray formatLine(const char *format, const QByteArray &message, const QMessageLogContext &context)
{
    // Measure first; messages have no length limit.
    const char *file = orNull(context.file);
    const char *function = orNull(context.function);
    const unsigned line = static_cast<unsigned>(context.line);
    const int length = std::snprintf(nullptr, 0, format, message.constData(), file, line, function);
    if (length < 0)
        return QByteArray();
    QByteArray text(length, Qt::Uninitialized);
    std::snprintf(text.data(), static_cast<size_t>(length) + 1, format, message.constData(), file, line,
                  function);
    return text;
}

} // namespace

QByteArray logWindowStandardErrorLine(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    const QByteArray local = msg.toLocal8Bit();
    switch (type) {
    case QtDebugMsg: return formatLine("Debug: %s (%s:%u, %s)\n", local, context);
    case QtWarningMsg: return formatLine("Warning: %s (%s:%u, %s)\n", local, context);
    case QtCriticalMsg: return formatLine("Critical: %s (%s:%u, %s)\n", local, context);
    case QtFatalMsg: return formatLine("Fatal: %s (%s:%u, %s)\n", local, context);
    case QtInfoMsg: return formatLine("Info: %s (%s:%u, %s)\n", local, context);
    }
    return QByteArray();
}

LogWindowDialog::LogWindowDialog(QWidget *parent)
    : QDialog(parent)
    , askSaveFileName(&QFileDialog::getSaveFileName /* placeholder replaced below */ ? nullptr : nullptr)
    , textBrowser(new QTextBrowser(this))
    , clearButton(new QPushButton(tr("clear"), this))
    , saveButton(new QPushButton(tr("save output"), this))
    , hideButton(new QPushButton(tr("hide log"), this))
{
}
