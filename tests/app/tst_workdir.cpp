#include "app/workdir.h"
#include "support/log_capture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestWorkdir : public QObject
{
    Q_OBJECT

private slots:
    void workingDirectoryIsFreshAndPrivate();
    void extractionCopiesTheRequestedFilesInOrder();
    void extractionOfAnExistingFileFailsAndGoesOn();
    void extractionOfAnUnknownFileReportsAnEmptyName();
    void makeExecutableAddsExecuteBits();
    void makeExecutableOfAMissingFileWarns();
    void removeFileIfExistsLeavesDirectoriesAlone();
    void readTextFileStopsAtNul_data();
    void readTextFileStopsAtNul();
    void readTextFileThrowsForAMissingFile();
    void platformNames_data();
    void platformNames();
};

void TestWorkdir::workingDirectoryIsFreshAndPrivate()
{
    QVERIFY(workingDirectory().isValid());
    const QFileInfo info(workingDirectoryPath());
    QVERIFY(info.isDir());
    QCOMPARE(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    QVERIFY(info.fileName().startsWith(QStringLiteral("upgrade_")));
    QCOMPARE(info.fileName().size(), 14);
    QCOMPARE(info.permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther),
             QFileDevice::Permissions());
    QCOMPARE(workFilePath(WorkFile::UploadedOtp), workingDirectoryPath() + QStringLiteral("/uploaded_OTP.bin"));
    QCOMPARE(dfuUtilExecutablePath(), workingDirectoryPath() + QStringLiteral("/dfu-util.exe"));
}

void TestWorkdir::extractionCopiesTheRequestedFilesInOrder()
{
    LogCapture log;
    QVERIFY(extractWorkFiles({WorkFile::FirmwareDfu, WorkFile::FirmwareBin, WorkFile::DfuUtil}, true));
    QCOMPARE(log.texts(), QStringList({QStringLiteral("Extracted  \"firmware.dfu\""),
                                       QStringLiteral("Extracted  \"firmware.bin\""),
                                       QStringLiteral("Extracted  \"dfu-util.exe\"")}));
    QFile extracted(workFilePath(WorkFile::FirmwareBin));
    QFile embedded(QStringLiteral(UPDATER_FIRMWARE_BIN_FILE));
    QVERIFY(extracted.open(QIODevice::ReadOnly));
    QVERIFY(embedded.open(QIODevice::ReadOnly));
    QCOMPARE(extracted.readAll(), embedded.readAll());
}

void TestWorkdir::extractionOfAnExistingFileFailsAndGoesOn()
{
    // Runs after the first extraction: firmware.bin is there already.
    QVERIFY(QFile::exists(workFilePath(WorkFile::FirmwareBin)));
    removeFileIfExists(workFilePath(WorkFile::FirmwareDfu));
    LogCapture log;
    QVERIFY(!extractWorkFiles({WorkFile::FirmwareBin, WorkFile::FirmwareDfu}, true));
    QCOMPARE(log.texts(), QStringList({QStringLiteral("Failed to extract  \"firmware.bin\""),
                                       QStringLiteral("Extracted  \"firmware.dfu\"")}));
    QVERIFY(extractWorkFiles({WorkFile::FirmwareBin}, false));
}

void TestWorkdir::extractionOfAnUnknownFileReportsAnEmptyName()
{
    LogCapture log;
    QVERIFY(!extractWorkFiles({static_cast<WorkFile>(17)}, true));
    QCOMPARE(log.texts(), QStringList(QStringLiteral("Failed to extract  \"\"")));
}

void TestWorkdir::makeExecutableAddsExecuteBits()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tool"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    LogCapture log;
    QVERIFY(makeExecutable(path));
    QCOMPARE(log.texts(), QStringList(QStringLiteral("Changing file permissions to make it executable: \"%1\"").arg(path)));
    const auto permissions = QFile::permissions(path);
    QVERIFY(permissions.testFlag(QFileDevice::ExeUser));
    QVERIFY(permissions.testFlag(QFileDevice::ExeGroup));
    QVERIFY(permissions.testFlag(QFileDevice::ExeOther));
    QVERIFY(permissions.testFlag(QFileDevice::WriteOwner));
}

void TestWorkdir::makeExecutableOfAMissingFileWarns()
{
    LogCapture log;
    QVERIFY(!makeExecutable(QStringLiteral("/nonexistent/dfu-util.exe")));
    QCOMPARE(log.entries().size(), 1);
    QCOMPARE(log.entries().first().type, QtWarningMsg);
    QCOMPARE(log.texts().first(),
             QStringLiteral("Failed to mark file (doesn't exist) as executable: \"/nonexistent/dfu-util.exe\""));
}

void TestWorkdir::removeFileIfExistsLeavesDirectoriesAlone()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("uploaded_OTP.bin"));
    const QString subdir = dir.filePath(QStringLiteral("sub"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    removeFileIfExists(file);
    removeFileIfExists(subdir);
    removeFileIfExists(dir.filePath(QStringLiteral("missing")));
    QVERIFY(!QFile::exists(file));
    QVERIFY(QFileInfo(subdir).isDir());
}

void TestWorkdir::readTextFileStopsAtNul_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("a plain UTF-8 text is read whole") << QByteArray("Gr\xc3\xbc\xc3\x9f\r\nzwei") << QStringLiteral("Grüß\r\nzwei");
    QTest::newRow("text after a NUL byte is dropped") << QByteArray("before\0after", 12) << QStringLiteral("before");
    QTest::newRow("an empty file gives empty text") << QByteArray() << QString();
}

void TestWorkdir::readTextFileStopsAtNul()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("text"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QCOMPARE(readTextFile(path), text);
}

void TestWorkdir::readTextFileThrowsForAMissingFile()
{
    try {
        readTextFile(QStringLiteral("/nonexistent/settings.json"));
        QFAIL("no exception");
    } catch (const QString &error) {
        QCOMPARE(error, QStringLiteral("Couldn't open file: /nonexistent/settings.json"));
    }
}

void TestWorkdir::platformNames_data()
{
    QTest::addColumn<int>("platform");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("windows");
    QTest::newRow("0 is Linux") << 0 << QStringLiteral("Linux") << false;
    QTest::newRow("1 is macOS") << 1 << QStringLiteral("macOS") << false;
    QTest::newRow("2 is windows, in lower case") << 2 << QStringLiteral("windows") << true;
    QTest::newRow("3 is unknown") << 3 << QStringLiteral("unknown") << false;
    QTest::newRow("4 has no name") << 4 << QString() << false;
}

void TestWorkdir::platformNames()
{
    QFETCH(int, platform);
    QFETCH(QString, name);
    QFETCH(bool, windows);
    QCOMPARE(platformName(platform), name);
    QCOMPARE(isWindowsPlatform(platform), windows);
}

QTEST_GUILESS_MAIN(TestWorkdir)
#include "tst_workdir.moc"
