// The prepared dfu-util invocations, the fixed texts kept with them, and how
// simulator mode rewrites them.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "dfu/dfu_command.h"
#include "dfu/dfu_runner.h"
#include "dfu/simulator.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

Q_DECLARE_METATYPE(DfuCommand)

namespace {

const QString scriptName = QStringLiteral("dfu-util_simulator.sh");

QStringList dfuArgumentsOf(DfuCommand command)
{
    switch (command) {
    case DfuCommand::Version: return {"-V"};
    case DfuCommand::List: return {"-d", "0483", "-l"};
    case DfuCommand::UploadOtp: return {"-d", "0483", "-a", "2", "-s", "0x1FFF7800:512", "-U"};
    case DfuCommand::UploadFwInfo: return {"-d", "0483", "-a", "0", "-s", "0x08000000:2048", "-U"};
    case DfuCommand::UploadFw: return {"-d", "0483", "-a", "0"};
    case DfuCommand::DownloadFw: return {"-d", "0483", "-a", "0", "-s", "0x08000000:leave", "-D"};
    case DfuCommand::SetupPreparedConfig: return {};
    }
    return {};
}

void addCommandRows()
{
    QTest::addColumn<DfuCommand>("command");
    QTest::addColumn<QString>("operation");
    QTest::newRow("Version asks for the version text") << DfuCommand::Version << "version";
    QTest::newRow("List lists the devices of vendor 0483") << DfuCommand::List << "list";
    QTest::newRow("UploadOtp reads the 512 OTP bytes of alternate setting 2") << DfuCommand::UploadOtp
                                                                              << "upload_OTP";
    QTest::newRow("UploadFwInfo reads the first 2048 flash bytes") << DfuCommand::UploadFwInfo << "upload_FW";
    QTest::newRow("UploadFw leaves address and length to the caller") << DfuCommand::UploadFw << "upload_FW";
    QTest::newRow("DownloadFw writes the flash and leaves DFU mode") << DfuCommand::DownloadFw << "download_FW";
    QTest::newRow("SetupPreparedConfig has no arguments of its own") << DfuCommand::SetupPreparedConfig
                                                                     << "setup_prepared_config";
}

} // namespace

class TestCommandTable : public QObject
{
    Q_OBJECT

private slots:
    void tableHoldsTheSevenDfuUtilInvocations_data() { addCommandRows(); }
    void tableHoldsTheSevenDfuUtilInvocations()
    {
        QFETCH(DfuCommand, command);
        QCOMPARE(int(dfuCommandTable().size()), 7);
        const DfuCommandEntry &entry = dfuCommandTable()[std::size_t(command)];
        QCOMPARE(entry.program, QStringLiteral("dfu-util"));
        QCOMPARE(entry.arguments, dfuArgumentsOf(command));
        QCOMPARE(&dfuCommandEntry(command), &entry);
    }

    void directoryIsEmptyAtStart() { QVERIFY(dfuUtilDirectory.isEmpty()); }

    void versionTextIsDfuUtil09sOutput()
    {
        QCOMPARE(expectedDfuUtilVersionText.toUtf8(), referenceVersionText());
        QCOMPARE(expectedDfuUtilVersionText.size(), 261);
        QVERIFY(expectedDfuUtilVersionText.endsWith(QStringLiteral("\n\n")));
    }

    void patternTexts()
    {
        QCOMPARE(foundDfuPatternText, QStringLiteral("^Found DFU: \\[0483:df11\\] ver=2200"));
        QCOMPARE(serialPatternText, QStringLiteral("serial=\\\"([0-9a-fA-F]+)\\\""));
        QCOMPARE(serialPatternText.size(), 25);
        QVERIFY(QRegularExpression(foundDfuPatternText).isValid());
        QVERIFY(QRegularExpression(serialPatternText).isValid());
    }

    void simulatorScriptLivesInTheSourceTree()
    {
        QCOMPARE(simulatorDirectory(), QStringLiteral(UPDATER_SOURCE_DIR "/updater/software/../simulator"));
        QCOMPARE(simulatorScriptPath(scriptName), simulatorDirectory() + "/" + scriptName);
        const QFileInfo script(simulatorScriptPath(scriptName));
        QVERIFY2(script.isFile(), qPrintable(script.filePath()));
        QVERIFY(script.isExecutable());
    }

    void setupSimulatorRewritesEveryEntry_data()
    {
        QTest::addColumn<bool>("fastProgress");
        QTest::newRow("without fast progress the dfu-util arguments follow the operation") << false;
        QTest::newRow("with fast progress the flag is the third argument") << true;
    }
    void setupSimulatorRewritesEveryEntry()
    {
        QFETCH(bool, fastProgress);
        const CommandTableGuard guard;
        setupSimulator(fastProgress);
        const QList<QPair<DfuCommand, QString>> operations = {
            {DfuCommand::Version, "version"},       {DfuCommand::List, "list"},
            {DfuCommand::UploadOtp, "upload_OTP"},  {DfuCommand::UploadFwInfo, "upload_FW"},
            {DfuCommand::UploadFw, "upload_FW"},    {DfuCommand::DownloadFw, "download_FW"},
            {DfuCommand::SetupPreparedConfig, "setup_prepared_config"},
        };
        for (const auto &[command, operation] : operations) {
            QStringList expected{"--dfu-util-command", operation};
            if (fastProgress)
                expected << "--fast-progress";
            expected << dfuArgumentsOf(command);
            QCOMPARE(dfuCommandEntry(command).program, simulatorScriptPath(scriptName));
            QCOMPARE(dfuCommandEntry(command).arguments, expected);
        }
        QVERIFY(dfuUtilDirectory.isEmpty());
    }

    void listEntryAfterSetupWithoutFastProgress()
    {
        const CommandTableGuard guard;
        setupSimulator(false);
        QCOMPARE(dfuCommandEntry(DfuCommand::List).arguments,
                 QStringList({"--dfu-util-command", "list", "-d", "0483", "-l"}));
    }

    void configureSimulatorCommandKeepsTheOtherEntries()
    {
        const CommandTableGuard guard;
        configureSimulatorCommand(DfuCommand::UploadFw, QStringLiteral("upload_FW"), false);
        QCOMPARE(dfuCommandEntry(DfuCommand::UploadFw).arguments,
                 QStringList({"--dfu-util-command", "upload_FW", "-d", "0483", "-a", "0"}));
        QCOMPARE(dfuCommandEntry(DfuCommand::UploadFwInfo).program, QStringLiteral("dfu-util"));
        QCOMPARE(dfuCommandEntry(DfuCommand::UploadFwInfo).arguments, dfuArgumentsOf(DfuCommand::UploadFwInfo));
    }

    void setupSimulationConfigReportsAFailure_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expectedLog");
        QTest::newRow("a script ending with code 2 is named in the log")
            << 2 << QStringList{"Failed to setup simulation config  \"factory fresh\" with code 2"};
        QTest::newRow("a script ending with code 0 leaves no failure line") << 0 << QStringList{};
    }
    void setupSimulationConfigReportsAFailure()
    {
        QFETCH(int, exitCode);
        QFETCH(QStringList, expectedLog);
        const CommandTableGuard guard;
        StandInPrograms programs;
        const QString script = programs.write("script", "printf '[%s]' \"$@\" > \"$(dirname \"$0\")/args\"\nexit "
                                                            + QByteArray::number(exitCode));
        dfuCommandEntry(DfuCommand::SetupPreparedConfig) = {script, {}};

        LogCapture log;
        QCOMPARE(setupSimulationConfig(QStringLiteral("factory fresh")), exitCode);
        QStringList failureLines = log.texts().filter(QStringLiteral("Failed to setup"));
        QCOMPARE(failureLines, expectedLog);
        QCOMPARE(readFileBytes(programs.path("args")), QByteArray("[factory fresh]"));
    }
};

QTEST_GUILESS_MAIN(TestCommandTable)
#include "tst_command_table.moc"
