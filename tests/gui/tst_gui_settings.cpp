#include "gui/gui_settings.h"
#include "support/log_capture.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {

const QString embeddedSettings = QStringLiteral(":resources/settings_GUI.json");

GuiSettings settingsFromText(const QString &text)
{
    GuiSettings settings;
    settings.appendFromText(text);
    return settings;
}

GuiSettings settingsWithLabels(const QStringList &labelObjects)
{
    return settingsFromText(QStringLiteral("{\"labels\": [%1]}").arg(labelObjects.join(QLatin1Char(','))));
}

QString debugText(const std::function<void(QDebug)> &write)
{
    QString text;
    write(QDebug(&text));
    return text;
}

} // namespace

Q_DECLARE_METATYPE(LabelSetting)
Q_DECLARE_METATYPE(CircleSetting)

class TestGuiSettings : public QObject
{
    Q_OBJECT

private slots:
    void embeddedFileHasFifteenLabelsAndOneCircle();
    void embeddedLabels_data();
    void embeddedLabels();
    void embeddedCircleMarksTheHeadButton();

    void labelKeys_data();
    void labelKeys();
    void circleKeys_data();
    void circleKeys();
    void documentLevel_data();
    void documentLevel();
    void rawControlCharactersStayInStrings();
    void loadingAppendsAndMarksValid();
    void unreadableFileThrowsAndLeavesSettingsAlone();

    void findLabelReturnsTheFirstExactMatch();
    void missesWarnWithTheId_data();
    void missesWarnWithTheId();
    void emptyTextIsFoundWithoutWarning();

    void labelText_data();
    void labelText();
    void circleText_data();
    void circleText();
    void wholeSettingsText();
    void streamOperators();
    void contextStartsEmptyAndIsShared();
};

void TestGuiSettings::embeddedFileHasFifteenLabelsAndOneCircle()
{
    GuiSettings settings;
    QVERIFY(!settings.valid);
    settings.load(embeddedSettings);
    QVERIFY(settings.valid);
    QCOMPARE(settings.labels.size(), 15);
    QCOMPARE(settings.circles.size(), 1);
    QStringList ids;
    for (const LabelSetting &label : qAsConst(settings.labels))
        ids << label.id;
    QCOMPARE(ids, (QStringList{"2", "4", "5", "7a", "7b", "7c", "9", "8b2", "status_noDev",
                               "status_devConn", "status_devRev", "status_devRevUnknown", "app_name",
                               "sim_mode", "debug_mode"}));
}

void TestGuiSettings::embeddedLabels_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("create");
    QTest::addColumn<int>("lineFeeds");

    const QString crlf = QStringLiteral("\r\n");
    QTest::newRow("the title breaks its string with CR LF four times in all")
        << "2"
        << crlf + "<span style=\"font-size:20pt\">" + crlf
               + "<span style=\"color:#FFFFFF; font-weight:bold;\">Firmware upgrade</span>\n<br>" + crlf
               + "<span style=\"font-weight:bold\">%1</span></span>"
        << 37 << 32 << true << 4;
    QTest::newRow("the version header keeps its raw line breaks")
        << "4" << "<span style=\"font-size:20pt\">" + crlf + "Firmware version:\n<br>" + crlf + "%1</span>"
        << 400 << 32 << true << 3;
    QTest::newRow("the introduction has one escaped line feed")
        << "5" << "Follow the steps below\nto upgrade your product." << 37 << 270 << true << 1;
    QTest::newRow("step 1 is one line") << "7a" << "1. Disconnect power cable" << 37 << 320 << true << 0;
    QTest::newRow("step 2 is one line") << "7b" << "2. Wait at least 2 minutes" << 37 << 350 << true << 0;
    QTest::newRow("step 3 has an indented second line")
        << "7c" << "3. Press and hold left continuous light button\n    while connecting power cable" << 37
        << 380 << true << 1;
    QTest::newRow("step 4 is one line") << "9" << "4. Connect USB-cable" << 37 << 428 << true << 0;
    QTest::newRow("the button text has no position and no label")
        << "8b2" << "5. Click to start upgrade" << -1 << -1 << false << 0;
    QTest::newRow("the status note spans three lines")
        << "status_noDev"
        << "<span style=\"color:#000000; font-size:9pt\">Note: Once the update is finished you need to "
           "connect Arc-31 to the<br>\nLumarex app to register that it is updated. Otherwise you will "
           "continue<br>\nto receive email notifications about updating your Arc-31.</span>"
        << 37 << 463 << true << 2;
    QTest::newRow("the connected text has one placeholder")
        << "status_devConn" << "<span style=\"color:#000000; font-size:9pt\">Connected to a %1.</span>" << -1
        << -1 << false << 0;
    QTest::newRow("the revision text has two placeholders")
        << "status_devRev"
        << "<span style=\"color:#000000; font-size:9pt\">Connected to a %1 with firmware version %2</span>"
        << -1 << -1 << false << 0;
    QTest::newRow("the unknown-revision text has one placeholder")
        << "status_devRevUnknown"
        << "<span style=\"color:#000000; font-size:9pt\">Connected to a %1 with unknown firmware "
           "version.</span>"
        << -1 << -1 << false << 0;
    QTest::newRow("the application name is empty") << "app_name" << "" << 480 << 387 << false << 0;
    QTest::newRow("the simulator note is placed but not created")
        << "sim_mode" << "Simulator mode" << 480 << 407 << false << 0;
    QTest::newRow("the debug note is placed but not created")
        << "debug_mode" << "Debug mode" << 480 << 427 << false << 0;
}

void TestGuiSettings::embeddedLabels()
{
    QFETCH(QString, id);
    QFETCH(QString, text);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, create);
    QFETCH(int, lineFeeds);

    GuiSettings settings;
    settings.load(embeddedSettings);
    const std::optional<LabelSetting> label = settings.findLabel(id);
    QVERIFY(label.has_value());
    QCOMPARE(label->text, text);
    QCOMPARE(label->text.count(QLatin1Char('\n')), lineFeeds);
    QCOMPARE(label->x, x);
    QCOMPARE(label->y, y);
    QCOMPARE(label->create, create);
    QCOMPARE(label->size, -1);
    QCOMPARE(label->font, QString());
    QCOMPARE(label->white, true);
}

void TestGuiSettings::embeddedCircleMarksTheHeadButton()
{
    GuiSettings settings;
    settings.load(embeddedSettings);
    QCOMPARE(settings.circles.size(), 1);
    const CircleSetting circle = settings.circles.first();
    QCOMPARE(circle.name, QStringLiteral("Head-button"));
    QCOMPARE(circle.x, 295);
    QCOMPARE(circle.y, 287);
    QCOMPARE(circle.radius, 20);
    QCOMPARE(circle.penWidth, 5);
    QVERIFY(circle.color.isValid());
    QCOMPARE(circle.color.alpha(), 0x60);
    QCOMPARE(circle.color.red(), 0xFF);
    QCOMPARE(circle.color.green(), 0x40);
    QCOMPARE(circle.color.blue(), 0x40);
}

void TestGuiSettings::labelKeys_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<LabelSetting>("expected");

    LabelSetting defaults;
    QTest::newRow("an empty object keeps every fallback") << "{}" << defaults;

    LabelSetting full;
    full.id = "x1";
    full.x = 10;
    full.y = 20;
    full.size = 14;
    full.font = "Serif";
    full.text = "Hello";
    full.create = false;
    full.white = false;
    QTest::newRow("every key present and well typed")
        << R"({"id":"x1","text":"Hello","position":{"x":10,"y":20},"size":14,"font":"Serif","create":false,"white":false})"
        << full;

    LabelSetting onlyX;
    onlyX.x = 37;
    QTest::newRow("a position without y leaves y at -1") << R"({"position":{"x":37}})" << onlyX;

    LabelSetting onlyY;
    onlyY.y = 5;
    QTest::newRow("a position without x leaves x at -1") << R"({"position":{"y":5}})" << onlyY;

    LabelSetting numericId;
    QTest::newRow("a numeric id reads as empty text") << R"({"id":12})" << numericId;

    LabelSetting textSize;
    textSize.size = 0;
    QTest::newRow("a size written as text reads as 0") << R"({"size":"12"})" << textSize;

    LabelSetting fractionalSize;
    fractionalSize.size = 0;
    QTest::newRow("a fractional size reads as 0") << R"({"size":12.5})" << fractionalSize;

    LabelSetting createNo;
    createNo.create = false;
    QTest::newRow("create written as text reads as false") << R"({"create":"no"})" << createNo;

    LabelSetting whiteNumber;
    whiteNumber.white = false;
    QTest::newRow("white written as a number reads as false") << R"({"white":1})" << whiteNumber;

    LabelSetting positionArray;
    QTest::newRow("a position that is an array leaves both at -1") << R"({"position":[1,2]})" << positionArray;

    LabelSetting positionText;
    positionText.x = 0;
    positionText.y = 3;
    QTest::newRow("a position member written as text reads as 0")
        << R"({"position":{"x":"37","y":3}})" << positionText;

    LabelSetting nullText;
    nullText.text = "";
    QTest::newRow("a null text reads as empty text") << R"({"text":null})" << nullText;

    LabelSetting unknownKeys;
    unknownKeys.id = "k";
    QTest::newRow("unknown keys are ignored") << R"({"id":"k","colour":"red","extra":{"x":1}})" << unknownKeys;
}

void TestGuiSettings::labelKeys()
{
    QFETCH(QString, json);
    QFETCH(LabelSetting, expected);

    const GuiSettings settings = settingsWithLabels({json});
    QCOMPARE(settings.labels.size(), 1);
    const LabelSetting label = settings.labels.first();
    QCOMPARE(label.id, expected.id);
    QCOMPARE(label.x, expected.x);
    QCOMPARE(label.y, expected.y);
    QCOMPARE(label.size, expected.size);
    QCOMPARE(label.font, expected.font);
    QCOMPARE(label.text, expected.text);
    QCOMPARE(label.create, expected.create);
    QCOMPARE(label.white, expected.white);
}

void TestGuiSettings::circleKeys_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<CircleSetting>("expected");

    CircleSetting zero;
    QTest::newRow("an empty object gives zeros and an invalid colour") << "{}" << zero;

    CircleSetting full;
    full.name = "Ring";
    full.x = 1;
    full.y = 2;
    full.radius = 3;
    full.penWidth = 4;
    full.color = QColor(0x11, 0x22, 0x33);
    QTest::newRow("every key present and well typed")
        << R"({"name":"Ring","center":{"x":1,"y":2},"radius":3,"pen_width":4,"color":"#112233"})" << full;

    CircleSetting shortHex;
    shortHex.color = QColor(0xFF, 0x00, 0x00);
    QTest::newRow("three hexadecimal digits are a colour") << R"({"color":"#f00"})" << shortHex;

    CircleSetting argb;
    argb.color = QColor(0x40, 0x50, 0x60, 0x30);
    QTest::newRow("eight hexadecimal digits carry the alpha first") << R"({"color":"#30405060"})" << argb;

    CircleSetting named;
    named.color = QColor(Qt::red);
    QTest::newRow("a colour name is a colour") << R"({"color":"red"})" << named;

    CircleSetting badColour;
    QTest::newRow("five hexadecimal digits are no colour") << R"({"color":"#12345"})" << badColour;

    CircleSetting numberColour;
    QTest::newRow("a numeric colour is no colour") << R"({"color":255})" << numberColour;

    CircleSetting halfCenter;
    halfCenter.x = 9;
    QTest::newRow("a center without y gives y 0") << R"({"center":{"x":9}})" << halfCenter;

    CircleSetting textNumbers;
    textNumbers.name = "";
    QTest::newRow("mistyped numbers and name read as 0 and empty")
        << R"({"name":7,"center":{"x":"1","y":true},"radius":"20","pen_width":[5]})" << textNumbers;
}

void TestGuiSettings::circleKeys()
{
    QFETCH(QString, json);
    QFETCH(CircleSetting, expected);

    const GuiSettings settings = settingsFromText(QStringLiteral("{\"circles\": [%1]}").arg(json));
    QCOMPARE(settings.circles.size(), 1);
    const CircleSetting circle = settings.circles.first();
    QCOMPARE(circle.name, expected.name);
    QCOMPARE(circle.x, expected.x);
    QCOMPARE(circle.y, expected.y);
    QCOMPARE(circle.radius, expected.radius);
    QCOMPARE(circle.penWidth, expected.penWidth);
    QCOMPARE(circle.color.isValid(), expected.color.isValid());
    if (expected.color.isValid())
        QCOMPARE(circle.color.rgba(), expected.color.rgba());
}

void TestGuiSettings::documentLevel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("labels");
    QTest::addColumn<int>("circles");

    QTest::newRow("text that is no JSON gives no entries") << "labels: none" << 0 << 0;
    QTest::newRow("an empty text gives no entries") << "" << 0 << 0;
    QTest::newRow("a top-level array gives no entries") << R"([{"labels":[{"id":"a"}]}])" << 0 << 0;
    QTest::newRow("a truncated document gives no entries") << R"({"labels":[{"id":"a"})" << 0 << 0;
    QTest::newRow("circles given as an object give no circles")
        << R"({"circles":{"name":"x"},"labels":[{"id":"a"}]})" << 1 << 0;
    QTest::newRow("non-object elements read as empty entries")
        << R"({"labels":[1,"two",null],"circles":[[],false]})" << 3 << 2;
    QTest::newRow("circles before labels are read all the same")
        << R"({"circles":[{}],"labels":[{},{}]})" << 2 << 1;
}

void TestGuiSettings::documentLevel()
{
    QFETCH(QString, text);
    QFETCH(int, labels);
    QFETCH(int, circles);

    const LogCapture log;
    const GuiSettings settings = settingsFromText(text);
    QVERIFY(settings.valid);
    QCOMPARE(settings.labels.size(), labels);
    QCOMPARE(settings.circles.size(), circles);
    QCOMPARE(log.texts(), QStringList());
}

void TestGuiSettings::rawControlCharactersStayInStrings()
{
    QString text;
    for (ushort c = 1; c < 0x20; ++c)
        text += QChar(c);
    const QString json = QStringLiteral("{\r\n\"labels\": [ {\"id\": \"raw\",\r\n \"text\": \"a%1b\"} ]\r\n}").arg(text);
    const GuiSettings settings = settingsFromText(json);
    QCOMPARE(settings.labels.size(), 1);
    QCOMPARE(settings.labels.first().id, QStringLiteral("raw"));
    QCOMPARE(settings.labels.first().text, QStringLiteral("a") + text + QStringLiteral("b"));
}

void TestGuiSettings::loadingAppendsAndMarksValid()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"labels":[{"id":"a","text":"Gr)" "\xC3\xBC" R"(n"},{"id":"a","text":"second"}],"circles":[{"name":"c"}]})");
    file.close();

    GuiSettings settings;
    settings.load(path);
    settings.load(path);
    QVERIFY(settings.valid);
    QCOMPARE(settings.labels.size(), 4);
    QCOMPARE(settings.circles.size(), 2);
    QCOMPARE(settings.labels.at(0).text, QStringLiteral("Gr\u00FCn"));
    QCOMPARE(settings.labels.at(3).text, QStringLiteral("second"));
}

void TestGuiSettings::unreadableFileThrowsAndLeavesSettingsAlone()
{
    GuiSettings settings = settingsWithLabels({R"({"id":"kept"})"});
    const QString path = QStringLiteral("/nonexistent-dir/settings_GUI.json");
    QString error;
    try {
        settings.load(path);
    } catch (const QString &thrown) {
        error = thrown;
    }
    QCOMPARE(error, QStringLiteral("Couldn't open file: ") + path);
    QCOMPARE(settings.labels.size(), 1);
    QCOMPARE(settings.labels.first().id, QStringLiteral("kept"));

    GuiSettings fresh;
    QVERIFY_EXCEPTION_THROWN(fresh.load(path), QString);
    QVERIFY(!fresh.valid);
}

void TestGuiSettings::findLabelReturnsTheFirstExactMatch()
{
    const GuiSettings settings = settingsWithLabels(
        {R"({"id":"dup","text":"first"})", R"({"id":"Dup","text":"other case"})", R"({"id":"dup","text":"second"})"});
    const LogCapture log;
    const std::optional<LabelSetting> found = settings.findLabel(QStringLiteral("dup"));
    QVERIFY(found.has_value());
    QCOMPARE(found->text, QStringLiteral("first"));
    QCOMPARE(settings.findLabel(QStringLiteral("Dup"))->text, QStringLiteral("other case"));
    QCOMPARE(log.texts(), QStringList());
}

void TestGuiSettings::missesWarnWithTheId_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("warning");

    QTest::newRow("an unknown id") << "status_devGone" << "No matching label with id \"status_devGone\" found";
    QTest::newRow("an id that differs only in case") << "DUP" << "No matching label with id \"DUP\" found";
    QTest::newRow("an id with a quote is escaped") << "a\"b" << "No matching label with id \"a\\\"b\" found";
    QTest::newRow("the empty id of a numeric-id label is not looked up by accident")
        << "12" << "No matching label with id \"12\" found";
}

void TestGuiSettings::missesWarnWithTheId()
{
    QFETCH(QString, id);
    QFETCH(QString, warning);

    const GuiSettings settings = settingsWithLabels({R"({"id":"dup","text":"x"})", R"({"id":12,"text":"y"})"});
    const LogCapture log;
    QVERIFY(!settings.findLabel(id).has_value());
    QCOMPARE(settings.labelText(id), QString());
    const QList<LogCapture::Entry> entries = log.entries();
    QCOMPARE(entries.size(), 2);
    for (const LogCapture::Entry &entry : entries) {
        QCOMPARE(entry.type, QtWarningMsg);
        QCOMPARE(entry.text, warning);
    }
}

void TestGuiSettings::emptyTextIsFoundWithoutWarning()
{
    const GuiSettings settings = settingsWithLabels({R"({"id":"status_noDev","text":""})"});
    const LogCapture log;
    QVERIFY(settings.findLabel(QStringLiteral("status_noDev")).has_value());
    QCOMPARE(settings.labelText(QStringLiteral("status_noDev")), QString());
    QCOMPARE(log.texts(), QStringList());
}

void TestGuiSettings::labelText_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("text");

    QTest::newRow("a white label that is created has empty braces")
        << R"({"id":"5","position":{"x":37,"y":270},"text":"Follow"})" << "Label '5': (37,270) {} font='':-1: 'Follow'";
    QTest::newRow("a black label is not-white")
        << R"({"id":"s","white":false,"text":"t"})" << "Label 's': (-1,-1) {not-white} font='':-1: 't'";
    QTest::newRow("a label that is not created is no-create")
        << R"({"id":"8b2","create":false,"text":"5. Click"})" << "Label '8b2': (-1,-1) {no-create} font='':-1: '5. Click'";
    QTest::newRow("both flags false are separated by one space")
        << R"({"id":"b","white":false,"create":false,"font":"Serif","size":12,"text":"x"})"
        << "Label 'b': (-1,-1) {not-white no-create} font='Serif':12: 'x'";
    QTest::newRow("placeholders in the text stay as they are")
        << R"({"id":"status_devRev","text":"a %1 b %2 c %9"})"
        << "Label 'status_devRev': (-1,-1) {} font='':-1: 'a %1 b %2 c %9'";
}

void TestGuiSettings::labelText()
{
    QFETCH(QString, json);
    QFETCH(QString, text);
    QCOMPARE(settingsWithLabels({json}).labels.first().toText(), text);
}

void TestGuiSettings::circleText_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("text");

    QTest::newRow("the embedded marker shows its colour as lower-case ARGB")
        << R"({"name":"Head-button","center":{"x":295,"y":287},"pen_width":5,"radius":20,"color":"#60FF4040"})"
        << "Circle 'Head-button': (295,287), r=20, w=5, color=#60ff4040";
    QTest::newRow("an opaque colour has alpha ff")
        << R"({"name":"n","center":{"x":-1,"y":0},"radius":3,"pen_width":1,"color":"#0A0B0C"})"
        << "Circle 'n': (-1,0), r=3, w=1, color=#ff0a0b0c";
}

void TestGuiSettings::circleText()
{
    QFETCH(QString, json);
    QFETCH(QString, text);
    const GuiSettings settings = settingsFromText(QStringLiteral("{\"circles\": [%1]}").arg(json));
    QCOMPARE(settings.circles.first().toText(), text);
}

void TestGuiSettings::wholeSettingsText()
{
    GuiSettings unloaded;
    unloaded.labels.append(LabelSetting());
    QCOMPARE(unloaded.toText(), QStringLiteral("GUI settings:\n\tInvalid\n"));

    const GuiSettings loaded = settingsFromText(
        R"({"labels":[{"id":"a","text":"A"},{"id":"b","create":false}],"circles":[{"name":"c","radius":2}]})");
    QCOMPARE(loaded.toText(), QStringLiteral("GUI settings:\n"
                                             "\tCircle 'c': (0,0), r=2, w=0, color=#ff000000\n"
                                             "\tLabel 'a': (-1,-1) {} font='':-1: 'A'\n"
                                             "\tLabel 'b': (-1,-1) {no-create} font='':-1: ''\n"));

    QCOMPARE(settingsFromText(QString()).toText(), QStringLiteral("GUI settings:\n"));
}

void TestGuiSettings::streamOperators()
{
    const GuiSettings settings =
        settingsFromText(R"({"labels":[{"id":"q","text":"say \"hi\""}],"circles":[{"name":"c","color":"#01020304"}]})");
    QCOMPARE(debugText([&](QDebug d) { d << settings.labels.first(); }),
             QStringLiteral("\"Label 'q': (-1,-1) {} font='':-1: 'say \\\"hi\\\"'\" "));
    QCOMPARE(debugText([&](QDebug d) { d << settings.circles.first(); }),
             QStringLiteral("\"Circle 'c': (0,0), r=0, w=0, color=#01020304\" "));
    QCOMPARE(debugText([&](QDebug d) { d << settings << QStringLiteral("after"); }),
             settings.toText() + QStringLiteral(" \"after\" "));
}

void TestGuiSettings::contextStartsEmptyAndIsShared()
{
    GuiContext &context = guiContext();
    QVERIFY(!context.settings.valid);
    QVERIFY(context.settings.labels.isEmpty());
    QVERIFY(context.settings.circles.isEmpty());
    QCOMPARE(&guiContext(), &context);
}

QTEST_GUILESS_MAIN(TestGuiSettings)
#include "tst_gui_settings.moc"
