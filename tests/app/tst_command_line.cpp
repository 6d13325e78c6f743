#include "app/startup.h"
#include "dfu/simulator.h"
#include "support/log_capture.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void optionsSetTheFlags_data();
    void optionsSetTheFlags();
};

void TestCommandLine::optionsSetTheFlags_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("simulatorUse");
    QTest::addColumn<bool>("logWindow");
    QTest::addColumn<QString>("debugLine");

    const QString line = QStringLiteral("Initial value of 'simulator::use'=false, isSet('-s')=%1, isSet('-S')=%2");
    QTest::newRow("no arguments mean a real device and no log window")
        << QStringList() << false << false << line.arg(QStringLiteral("false"), QStringLiteral("false"));
    QTest::newRow("-s alone selects the simulator")
        << QStringList{QStringLiteral("-s")} << true << false << line.arg(QStringLiteral("true"), QStringLiteral("false"));
    QTest::newRow("the long simulator option selects it too")
        << QStringList{QStringLiteral("--use-simulator")} << true << false << line.arg(QStringLiteral("true"), QStringLiteral("false"));
    QTest::newRow("-S after -s wins")
        << QStringList{QStringLiteral("-s"), QStringLiteral("-S")} << false << false << line.arg(QStringLiteral("true"), QStringLiteral("true"));
    QTest::newRow("-S before -s wins as well")
        << QStringList{QStringLiteral("--no-use-simulator"), QStringLiteral("--use-simulator")} << false << false
        << line.arg(QStringLiteral("true"), QStringLiteral("true"));
    QTest::newRow("combined one-letter options sS still mean a real device")
        << QStringList{QStringLiteral("-sS")} << false << false << line.arg(QStringLiteral("true"), QStringLiteral("true"));
    QTest::newRow("combined sl selects simulator and log window")
        << QStringList{QStringLiteral("-sl")} << true << true << line.arg(QStringLiteral("true"), QStringLiteral("false"));
    QTest::newRow("-l alone installs the log window only")
        << QStringList{QStringLiteral("--use-log-window")} << false << true << line.arg(QStringLiteral("false"), QStringLiteral("false"));
    QTest::newRow("arguments that are not options are ignored")
        << QStringList{QStringLiteral("firmware.bin"), QStringLiteral("-s")} << true << false
        << line.arg(QStringLiteral("true"), QStringLiteral("false"));
}

void TestCommandLine::optionsSetTheFlags()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, simulatorUse);
    QFETCH(bool, logWindow);
    QFETCH(QString, debugLine);

    simulator::use = false;
    useLogWindow = false;
    LogCapture log;
    parseCommandLineArguments(QStringList{QStringLiteral("lumarex-upgrade-tool")} + arguments);
    QCOMPARE(simulator::use, simulatorUse);
    QCOMPARE(useLogWindow, logWindow);
    QCOMPARE(log.entries().size(), 1);
    QCOMPARE(log.entries().first().type, QtDebugMsg);
    QCOMPARE(log.texts().first(), debugLine);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
