// The product data the build embeds: the firmware image and its DfuSe file,
// the GUI settings file and the background picture.
#include "app/workdir.h"

#include <zlib.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QResource>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

constexpr int firmwareSize = 788000;
constexpr quint32 flashBase = 0x08000000;
constexpr int infoBlockLimit = 1948;

const QString resourceDir = QStringLiteral(":resources/");
const QString settingsSourceFile = QStringLiteral(UPDATER_SOURCE_DIR "/updater/software/resources/settings_GUI.json");
const QString settingsResource = QStringLiteral(":resources/settings_GUI.json");
const QString backgroundResource = QStringLiteral(":resources/background.jpg");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

quint32 le16(const QByteArray &data, int at)
{
    return quint32(quint8(data.at(at))) | quint32(quint8(data.at(at + 1))) << 8;
}

quint32 le32(const QByteArray &data, int at)
{
    return le16(data, at) | le16(data, at + 2) << 16;
}

QByteArray marker(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
}

double luminance(QRgb px)
{
    return 0.299 * qRed(px) + 0.587 * qGreen(px) + 0.114 * qBlue(px);
}

// Mean luminance of the pixels whose distance from centre lies in [inner, outer].
double meanLuminanceInRing(const QImage &image, const QPoint &centre, double inner, double outer)
{
    double sum = 0;
    int count = 0;
    const int reach = int(std::ceil(outer));
    for (int y = centre.y() - reach; y <= centre.y() + reach; ++y) {
        for (int x = centre.x() - reach; x <= centre.x() + reach; ++x) {
            const double d = std::hypot(x - centre.x(), y - centre.y());
            if (d >= inner && d <= outer && image.valid(x, y)) {
                sum += luminance(image.pixel(x, y));
                ++count;
            }
        }
    }
    return count ? sum / count : -1;
}

double meanLuminance(const QImage &image, const QRect &rect)
{
    double sum = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            sum += luminance(image.pixel(x, y));
    return sum / (double(rect.width()) * rect.height());
}

struct RunResult {
    int exitCode = -1;
    QByteArray output;
};

RunResult run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(30000) || !process.waitForFinished(300000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll()};
}

QString dfuSuffixProgram()
{
    const QString nextToDfuUtil = QFileInfo(QStringLiteral(UPDATER_DFU_UTIL)).absolutePath() + QStringLiteral("/dfu-suffix");
    if (QFileInfo(nextToDfuUtil).isExecutable())
        return nextToDfuUtil;
    return QStandardPaths::findExecutable(QStringLiteral("dfu-suffix"));
}

} // namespace

class TestProductData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Firmware image
    void firmwareImageHasTheShippedSize();
    void vectorTableIsPlausible_data();
    void vectorTableIsPlausible();
    void informationBlockLiesWithinTheReadArea();

    // Build-time generators
    void generatorsAreReproducible_data();
    void generatorsAreReproducible();

    // DfuSe file
    void dfuSuffixCheck_data();
    void dfuSuffixCheck();
    void dfuFileHoldsExactlyTheRawImage();

    // GUI settings file
    void settingsFileUsesCrLfLineEnds_data();
    void settingsFileUsesCrLfLineEnds();
    void embeddedSettingsEqualTheSourceFile();
    void settingsHoldFifteenLabelsThenOneCircle();
    void labelEntries_data();
    void labelEntries();
    void circleMarksTheLeftLightButton();

    // Resource storage
    void resourceCompression_data();
    void resourceCompression();

    // Background picture
    void backgroundHasTheWindowsDesignSize();
    void backgroundRegions_data();
    void backgroundRegions();
    void buttonStandsOutAtTheRingsCentre();
    void buttonIsCentredOnTheRing();

private:
    QJsonObject embeddedSettings() const;

    QTemporaryDir m_dir;
    QStringList m_fontFiles;
    QByteArray m_firmware;
};

void TestProductData::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_firmware = readAll(QStringLiteral(UPDATER_FIRMWARE_BIN_FILE));
    QVERIFY(!m_firmware.isEmpty());
    // The embedded resource must be the built image; this also links in the resource sets.
    QCOMPARE(readAll(resourceDir + workFileName(WorkFile::FirmwareBin)), m_firmware);

    // The background generator takes the application's font files, as the build does.
    for (const QString &face : {QStringLiteral("LumarexSans-Regular.otf"), QStringLiteral("LumarexSans-Bold.otf")}) {
        const QString target = m_dir.filePath(face);
        QVERIFY2(QFile::copy(resourceDir + face, target), qPrintable(face));
        m_fontFiles << target;
    }
}

void TestProductData::firmwareImageHasTheShippedSize()
{
    QCOMPARE(m_firmware.size(), firmwareSize);
}

void TestProductData::vectorTableIsPlausible_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("the reset handler is Thumb code inside the image") << 1;
    QTest::newRow("the NMI handler is Thumb code inside the image") << 2;
    QTest::newRow("the hard-fault handler is Thumb code inside the image") << 3;
    QTest::newRow("the SysTick handler is Thumb code inside the image") << 15;
}

void TestProductData::vectorTableIsPlausible()
{
    QFETCH(int, index);
    QVERIFY(m_firmware.size() >= 64);

    // Initial stack pointer: top of (or inside) the STM32's SRAM, 8-byte aligned.
    const quint32 stack = le32(m_firmware, 0);
    QVERIFY2(stack > 0x20000000 && stack <= 0x20080000, qPrintable(QString::number(stack, 16)));
    QCOMPARE(stack % 8, 0u);

    const quint32 handler = le32(m_firmware, 4 * index);
    QVERIFY2(handler & 1u, qPrintable(QString::number(handler, 16)));
    const quint32 address = handler & ~1u;
    QVERIFY2(address >= flashBase + 64 && address < flashBase + quint32(m_firmware.size()),
             qPrintable(QString::number(handler, 16)));
}

void TestProductData::informationBlockLiesWithinTheReadArea()
{
    const int start = m_firmware.indexOf(marker(0x01234712));
    QVERIFY(start >= 0);
    QVERIFY2(start <= infoBlockLimit, qPrintable(QString::number(start)));
    const int end = m_firmware.indexOf(marker(0x01234713), start);
    QVERIFY(end >= 0);
    QVERIFY2(end <= infoBlockLimit, qPrintable(QString::number(end)));
    QVERIFY(end - start - 72 >= 0);
    QCOMPARE((end - start - 72) % 64, 0);
    QCOMPARE((end - start - 72) / 64, 9);
    // Product word: type 4, subtype FF FF FF.
    QCOMPARE(m_firmware.mid(start + 4, 4), QByteArray("\x04\xFF\xFF\xFF", 4));
    // Name and revision are NUL-terminated, non-empty texts.
    for (int field : {8, 40}) {
        const QByteArray bytes = m_firmware.mid(start + field, 32);
        QVERIFY(bytes.indexOf('\0') > 0);
    }
}

void TestProductData::generatorsAreReproducible_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QStringList>("extraArguments");
    QTest::addColumn<QString>("builtFile");

    QTest::newRow("make_firmware writes the same image on every run")
        << QStringLiteral(UPDATER_MAKE_FIRMWARE) << QStringLiteral(".bin") << QStringList() << QString();
    QTest::newRow("make_background paints the picture the build embedded, on every run")
        << QStringLiteral(UPDATER_MAKE_BACKGROUND) << QStringLiteral(".jpg") << m_fontFiles
        << QStringLiteral(UPDATER_GENERATED_DIR "/background.jpg");
}

void TestProductData::generatorsAreReproducible()
{
    QFETCH(QString, program);
    QFETCH(QString, suffix);
    QFETCH(QStringList, extraArguments);
    QFETCH(QString, builtFile);

    QByteArray outputs[2];
    for (int i = 0; i < 2; ++i) {
        const QString target = m_dir.filePath(QStringLiteral("run%1%2").arg(i).arg(suffix));
        const RunResult result = run(program, QStringList{target} + extraArguments);
        QVERIFY2(result.exitCode == 0, result.output.constData());
        outputs[i] = readAll(target);
        QVERIFY(!outputs[i].isEmpty());
    }
    QVERIFY(outputs[0] == outputs[1]);
    if (!builtFile.isEmpty())
        QVERIFY(outputs[0] == readAll(builtFile));
}

void TestProductData::dfuSuffixCheck_data()
{
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("the built DfuSe file carries a valid suffix for 0483:df11") << false << true;
    QTest::newRow("a copy with one flipped image byte fails the suffix CRC") << true << false;
}

void TestProductData::dfuSuffixCheck()
{
    QFETCH(bool, corrupt);
    QFETCH(bool, accepted);

    const QString program = dfuSuffixProgram();
    QVERIFY2(!program.isEmpty(), "dfu-suffix (from dfu-util) is needed for this test");

    QByteArray dfu = readAll(QStringLiteral(UPDATER_FIRMWARE_DFU_FILE));
    QVERIFY(dfu.size() > 5000);
    if (corrupt)
        dfu[5000] = char(dfu.at(5000) ^ 0x01);
    const QString copy = m_dir.filePath(QStringLiteral("check.dfu"));
    QFile::remove(copy);
    QFile out(copy);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(dfu), qint64(dfu.size()));
    out.close();

    const RunResult result = run(program, {QStringLiteral("-c"), copy});
    const QString text = QString::fromLocal8Bit(result.output);
    if (!accepted) {
        QVERIFY2(result.exitCode != 0, qPrintable(text));
        return;
    }
    QVERIFY2(result.exitCode == 0, qPrintable(text));
    QVERIFY2(text.contains(QRegularExpression(QStringLiteral("Vendor ID:\\s*0x0483\\b"))), qPrintable(text));
    QVERIFY2(text.contains(QRegularExpression(QStringLiteral("Product ID:\\s*0xDF11\\b"))), qPrintable(text));
    QVERIFY2(text.contains(QRegularExpression(QStringLiteral("BCD DFU:\\s*0x011A\\b"))), qPrintable(text));
}

void TestProductData::dfuFileHoldsExactlyTheRawImage()
{
    const QByteArray dfu = readAll(QStringLiteral(UPDATER_FIRMWARE_DFU_FILE));
    const int binSize = m_firmware.size();
    constexpr int prefixSize = 11, targetPrefixSize = 274, elementHeaderSize = 8, suffixSize = 16;
    QCOMPARE(dfu.size(), prefixSize + targetPrefixSize + elementHeaderSize + binSize + suffixSize);

    // File prefix.
    QCOMPARE(dfu.left(5), QByteArray("DfuSe"));
    QCOMPARE(quint8(dfu.at(5)), quint8(1));
    QCOMPARE(le32(dfu, 6), quint32(dfu.size() - suffixSize));
    QCOMPARE(quint8(dfu.at(10)), quint8(1));

    // The one target, alternate setting 0.
    const int target = prefixSize;
    QCOMPARE(dfu.mid(target, 6), QByteArray("Target"));
    QCOMPARE(quint8(dfu.at(target + 6)), quint8(0));
    QCOMPARE(le32(dfu, target + 266), quint32(elementHeaderSize + binSize));
    QCOMPARE(le32(dfu, target + 270), 1u);

    // The one element at the start of the flash, holding the raw image.
    const int element = target + targetPrefixSize;
    QCOMPARE(le32(dfu, element), flashBase);
    QCOMPARE(le32(dfu, element + 4), quint32(binSize));
    QVERIFY(dfu.mid(element + elementHeaderSize, binSize) == m_firmware);

    // Suffix: any device release, 0483:df11, DfuSe, "UFD", 16 bytes, CRC.
    const int suffix = dfu.size() - suffixSize;
    QCOMPARE(le16(dfu, suffix), 0xFFFFu);
    QCOMPARE(le16(dfu, suffix + 2), 0xDF11u);
    QCOMPARE(le16(dfu, suffix + 4), 0x0483u);
    QCOMPARE(le16(dfu, suffix + 6), 0x011Au);
    QCOMPARE(dfu.mid(suffix + 8, 3), QByteArray("UFD"));
    QCOMPARE(quint8(dfu.at(suffix + 11)), quint8(suffixSize));
    const auto *bytes = reinterpret_cast<const Bytef *>(dfu.constData());
    const quint32 crc = ~quint32(crc32(0L, bytes, uInt(dfu.size() - 4)));
    QCOMPARE(le32(dfu, dfu.size() - 4), crc);
}

void TestProductData::settingsFileUsesCrLfLineEnds_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("the file in the source tree has CR LF line ends only") << settingsSourceFile;
    QTest::newRow("the embedded resource has CR LF line ends only") << settingsResource;
}

void TestProductData::settingsFileUsesCrLfLineEnds()
{
    QFETCH(QString, path);
    const QByteArray bytes = readAll(path);
    QVERIFY(!bytes.isEmpty());
    QVERIFY(bytes.endsWith("\r\n"));
    QVERIFY(bytes.count("\r\n") > 50);
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));
}

void TestProductData::embeddedSettingsEqualTheSourceFile()
{
    const QByteArray source = readAll(settingsSourceFile);
    QVERIFY(!source.isEmpty());
    QVERIFY(readAll(settingsResource) == source);
}

QJsonObject TestProductData::embeddedSettings() const
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(readAll(settingsResource), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "settings_GUI.json:" << error.errorString() << "at" << error.offset;
    return document.object();
}

void TestProductData::settingsHoldFifteenLabelsThenOneCircle()
{
    const QJsonObject settings = embeddedSettings();
    QCOMPARE(settings.keys(), QStringList({QStringLiteral("circles"), QStringLiteral("labels")}));
    QCOMPARE(settings.value(QStringLiteral("labels")).toArray().size(), 15);
    QCOMPARE(settings.value(QStringLiteral("circles")).toArray().size(), 1);
    // The file lists the labels first.
    const QByteArray bytes = readAll(settingsResource);
    QVERIFY(bytes.indexOf("\"labels\"") >= 0);
    QVERIFY(bytes.indexOf("\"labels\"") < bytes.indexOf("\"circles\""));
}

void TestProductData::labelEntries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("position"); // (-1, -1): no "position" key
    QTest::addColumn<int>("create");      // -1: no "create" key
    QTest::addColumn<int>("lineFeeds");

    const QPoint none(-1, -1);
    const QString note = QStringLiteral("<span style=\"color:#000000; font-size:9pt\">");

    QTest::newRow("label 2 is the title with the product name, broken over raw CR LF lines")
        << 0 << QStringLiteral("2")
        << QStringLiteral("\r\n<span style=\"font-size:20pt\">"
                          "\r\n<span style=\"color:#FFFFFF; font-weight:bold;\">Firmware upgrade</span>\n<br>"
                          "\r\n<span style=\"font-weight:bold\">%1</span></span>")
        << QPoint(37, 32) << -1 << 4;
    QTest::newRow("label 4 is the firmware version header, broken over raw CR LF lines")
        << 1 << QStringLiteral("4")
        << QStringLiteral("<span style=\"font-size:20pt\">\r\nFirmware version:\n<br>\r\n%1</span>")
        << QPoint(400, 32) << -1 << 3;
    QTest::newRow("label 5 introduces the steps")
        << 2 << QStringLiteral("5") << QStringLiteral("Follow the steps below\nto upgrade your product.")
        << QPoint(37, 270) << -1 << 1;
    QTest::newRow("label 7a is the first step")
        << 3 << QStringLiteral("7a") << QStringLiteral("1. Disconnect power cable") << QPoint(37, 320) << -1 << 0;
    QTest::newRow("label 7b is the second step")
        << 4 << QStringLiteral("7b") << QStringLiteral("2. Wait at least 2 minutes") << QPoint(37, 350) << -1 << 0;
    QTest::newRow("label 7c names the left continuous light button")
        << 5 << QStringLiteral("7c")
        << QStringLiteral("3. Press and hold left continuous light button\n    while connecting power cable")
        << QPoint(37, 380) << -1 << 1;
    QTest::newRow("label 9 is the fourth step")
        << 6 << QStringLiteral("9") << QStringLiteral("4. Connect USB-cable") << QPoint(37, 428) << -1 << 0;
    QTest::newRow("entry 8b2 is the install button's text and creates no label")
        << 7 << QStringLiteral("8b2") << QStringLiteral("5. Click to start upgrade") << none << 0 << 0;
    QTest::newRow("the status line's note sits on the white band")
        << 8 << QStringLiteral("status_noDev")
        << note + QStringLiteral("Note: Once the update is finished you need to connect Arc-31 to the<br>\n"
                                 "Lumarex app to register that it is updated. Otherwise you will continue<br>\n"
                                 "to receive email notifications about updating your Arc-31.</span>")
        << QPoint(37, 463) << -1 << 2;
    QTest::newRow("the connected-device text creates no label")
        << 9 << QStringLiteral("status_devConn") << note + QStringLiteral("Connected to a %1.</span>") << none << 0 << 0;
    QTest::newRow("the device-revision text creates no label")
        << 10 << QStringLiteral("status_devRev")
        << note + QStringLiteral("Connected to a %1 with firmware version %2</span>") << none << 0 << 0;
    QTest::newRow("the unknown-revision text creates no label")
        << 11 << QStringLiteral("status_devRevUnknown")
        << note + QStringLiteral("Connected to a %1 with unknown firmware version.</span>") << none << 0 << 0;
    QTest::newRow("the application name is empty and never shown")
        << 12 << QStringLiteral("app_name") << QString() << QPoint(480, 387) << 0 << 0;
    QTest::newRow("the simulator mode text waits for simulator mode")
        << 13 << QStringLiteral("sim_mode") << QStringLiteral("Simulator mode") << QPoint(480, 407) << 0 << 0;
    QTest::newRow("the debug mode text is never shown")
        << 14 << QStringLiteral("debug_mode") << QStringLiteral("Debug mode") << QPoint(480, 427) << 0 << 0;
}

void TestProductData::labelEntries()
{
    QFETCH(int, index);
    QFETCH(QString, id);
    QFETCH(QString, text);
    QFETCH(QPoint, position);
    QFETCH(int, create);
    QFETCH(int, lineFeeds);

    const QJsonArray labels = embeddedSettings().value(QStringLiteral("labels")).toArray();
    QVERIFY(index < labels.size());
    const QJsonObject label = labels.at(index).toObject();

    QStringList keys{QStringLiteral("id"), QStringLiteral("text")};
    if (position != QPoint(-1, -1))
        keys << QStringLiteral("position");
    if (create >= 0)
        keys << QStringLiteral("create");
    keys.sort();
    QCOMPARE(label.keys(), keys);

    QVERIFY(label.value(QStringLiteral("id")).isString());
    QCOMPARE(label.value(QStringLiteral("id")).toString(), id);
    QVERIFY(label.value(QStringLiteral("text")).isString());
    const QString actualText = label.value(QStringLiteral("text")).toString();
    QCOMPARE(actualText, text);
    QCOMPARE(actualText.count(QLatin1Char('\n')), lineFeeds);

    if (position != QPoint(-1, -1)) {
        const QJsonObject at = label.value(QStringLiteral("position")).toObject();
        QCOMPARE(at.keys(), QStringList({QStringLiteral("x"), QStringLiteral("y")}));
        QVERIFY(at.value(QStringLiteral("x")).isDouble() && at.value(QStringLiteral("y")).isDouble());
        QCOMPARE(QPoint(at.value(QStringLiteral("x")).toInt(-1), at.value(QStringLiteral("y")).toInt(-1)), position);
    }
    if (create >= 0) {
        QVERIFY(label.value(QStringLiteral("create")).isBool());
        QCOMPARE(label.value(QStringLiteral("create")).toBool(), create == 1);
    }
}

void TestProductData::circleMarksTheLeftLightButton()
{
    const QJsonArray circles = embeddedSettings().value(QStringLiteral("circles")).toArray();
    QCOMPARE(circles.size(), 1);
    const QJsonObject circle = circles.at(0).toObject();
    QCOMPARE(circle.keys(), QStringList({QStringLiteral("center"), QStringLiteral("color"), QStringLiteral("name"),
                                         QStringLiteral("pen_width"), QStringLiteral("radius")}));
    QCOMPARE(circle.value(QStringLiteral("name")).toString(), QStringLiteral("Head-button"));
    const QJsonObject centre = circle.value(QStringLiteral("center")).toObject();
    QCOMPARE(centre.keys(), QStringList({QStringLiteral("x"), QStringLiteral("y")}));
    QCOMPARE(centre.value(QStringLiteral("x")).toInt(-1), 295);
    QCOMPARE(centre.value(QStringLiteral("y")).toInt(-1), 287);
    QCOMPARE(circle.value(QStringLiteral("pen_width")).toInt(-1), 5);
    QCOMPARE(circle.value(QStringLiteral("radius")).toInt(-1), 20);
    QCOMPARE(circle.value(QStringLiteral("color")).toString(), QStringLiteral("#60FF4040"));
}

void TestProductData::resourceCompression_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("compressed");
    QTest::newRow("the settings file is stored compressed") << QStringLiteral("settings_GUI.json") << true;
    QTest::newRow("the firmware image is stored uncompressed") << QStringLiteral("firmware.bin") << false;
}

void TestProductData::resourceCompression()
{
    QFETCH(QString, name);
    QFETCH(bool, compressed);
    const QResource resource(resourceDir + name);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm() != QResource::NoCompression, compressed);
}

void TestProductData::backgroundHasTheWindowsDesignSize()
{
    const QImage image(backgroundResource);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(665, 517));
    QVERIFY(readAll(backgroundResource).startsWith("\xFF\xD8\xFF")); // JPEG
}

void TestProductData::backgroundRegions_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::newRow("the band behind the status line is light enough for black text")
        << QRect(QPoint(0, 463), QPoint(664, 510)) << 220.0 << 255.0;
    QTest::newRow("the instruction area is dark enough for light grey text")
        << QRect(QPoint(37, 270), QPoint(300, 450)) << 0.0 << 60.0;
    QTest::newRow("the title area is dark") << QRect(37, 32, 300, 90) << 0.0 << 60.0;
    QTest::newRow("the firmware version header area is dark") << QRect(400, 32, 228, 90) << 0.0 << 60.0;
    QTest::newRow("the simulator mode label's place is dark") << QRect(480, 407, 120, 20) << 0.0 << 60.0;
}

void TestProductData::backgroundRegions()
{
    QFETCH(QRect, area);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    const QImage image(backgroundResource);
    QVERIFY(image.rect().contains(area));
    const double mean = meanLuminance(image, area);
    QVERIFY2(mean >= minimum && mean <= maximum, qPrintable(QString::number(mean)));
}

void TestProductData::buttonStandsOutAtTheRingsCentre()
{
    const QImage image(backgroundResource);
    QVERIFY(!image.isNull());
    const QPoint centre(295, 287);
    const double button = meanLuminanceInRing(image, centre, 0, 10);
    const double surroundings = meanLuminanceInRing(image, centre, 26, 34);
    QVERIFY2(button - surroundings > 20, qPrintable(QStringLiteral("%1 vs %2").arg(button).arg(surroundings)));
    QVERIFY2(surroundings < 80, qPrintable(QString::number(surroundings)));
}

// The button's dark rim, found on either side along a row and a column, lies
// symmetrically about the ring's centre.
void TestProductData::buttonIsCentredOnTheRing()
{
    const QImage image(backgroundResource);
    QVERIFY(!image.isNull());
    const QPoint centre(295, 287);
    const auto darkest = [&](QPoint from, QPoint step, int count) {
        QPoint best = from;
        for (int i = 0; i < count; ++i) {
            const QPoint p = from + step * i;
            if (luminance(image.pixel(p)) < luminance(image.pixel(best)))
                best = p;
        }
        return best;
    };
    // Pixel i covers [i, i + 1]: a rim symmetric about 295 has its darkest pixels at 295 - r - 1 and 295 + r.
    const QPoint left = darkest(centre + QPoint(-24, 0), QPoint(1, 0), 18);
    const QPoint right = darkest(centre + QPoint(6, 0), QPoint(1, 0), 18);
    const QPoint top = darkest(centre + QPoint(0, -24), QPoint(0, 1), 18);
    const QPoint bottom = darkest(centre + QPoint(0, 6), QPoint(0, 1), 18);
    const double cx = (left.x() + right.x() + 1) / 2.0;
    const double cy = (top.y() + bottom.y() + 1) / 2.0;
    QVERIFY2(std::abs(cx - centre.x()) <= 1.0, qPrintable(QStringLiteral("%1..%2").arg(left.x()).arg(right.x())));
    QVERIFY2(std::abs(cy - centre.y()) <= 1.0, qPrintable(QStringLiteral("%1..%2").arg(top.y()).arg(bottom.y())));
    // A rim, not noise: a button of about 15 to 18 pixels' radius.
    QVERIFY(right.x() - left.x() >= 28 && right.x() - left.x() <= 38);
}

QTEST_GUILESS_MAIN(TestProductData)
#include "tst_product_data.moc"
