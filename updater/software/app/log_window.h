#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>

#include <functional>

class QMainWindow;
class QPushButton;
class QTextBrowser;

// The log window itself: every message as one paragraph, with buttons to
// clear, save and hide. Closing or Escape never destroys it.
class LogWindowDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogWindowDialog(QWidget *parent = nullptr);

    // Asks for the file to save to: parent, caption, proposed file, filter.
    // The toolkit's save-file dialog unless a test puts its own answer here.
    std::function<QString(QWidget *, const QString &, const QString &, const QString &)> askSaveFileName;

public slots:
    void outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg);

protected slots:
    void save();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QTextBrowser *textBrowser;
    QPushButton *clearButton;
    QPushButton *saveButton;
    QPushButton *hideButton;
};

// Controller of the log window; one per process.
class LogWindow : public QObject
{
    Q_OBJECT

public:
    explicit LogWindow(QObject *parent = nullptr);
    ~LogWindow() override;

    LogWindowDialog *dialog() const { return logDialog; }

    // Delivers a message logged in any thread: at once in the window's own
    // thread, otherwise queued with its type and text (the context cannot be
    // carried across threads).
    void deliver(QtMsgType type, const QMessageLogContext &context, const QString &msg);

signals:
    void sendMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg);

public slots:
    void outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg);
    void toggle_visibility(QMainWindow *mainWindow);

private:
    LogWindowDialog *logDialog;
};

// The process-wide log window; null once it is gone.
QPointer<LogWindow> &logWindow();

// Message handler that feeds the log window and standard error.
void logWindowMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// The standard-error line of one message; empty for an unknown type.
QByteArray logWindowStandardErrorLine(QtMsgType type, const QMessageLogContext &context,
                                      const QString &msg);
