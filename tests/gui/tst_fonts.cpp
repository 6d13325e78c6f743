#include "gui/fonts.h"
#include "gui/gui_settings.h"
#include "gui/style_sheets.h"
#include "support/log_capture.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QScreen>
#include <QtTest>

class TestFonts : public QObject
{
    Q_OBJECT

private slots:
    void styleSheets_data();
    void styleSheets();
    void progressBarStyleIsTheFullText();

    void unloadableFontWarnsWithItsPath();
    void defaultFontIsTheEmbeddedFamilyAtElevenPoints();
    void secondCallSetsTheSameFontAgain();
    void embeddedFacesAreRegularAndBold();

    void labelFontRule_data();
    void labelFontRule();
};

void TestFonts::styleSheets_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("expected");

    QTest::newRow("the window stretches the picture")
        << mainWindowStyleSheet()
        << "QMainWindow { border-image:url(\"://resources/background.jpg\") 0 0 0 0 stretch stretch; }";
    QTest::newRow("a white label is light grey on transparent")
        << whiteLabelStyleSheet()
        << "QLabel { background-color : rgba(0,0,0,0%); color : rgba(175,175,175,100%); }";
    QTest::newRow("a black label is black on transparent")
        << blackLabelStyleSheet() << "QLabel { background-color : rgba(0,0,0,0%); color : black; }";
}

void TestFonts::styleSheets()
{
    QFETCH(QString, sheet);
    QFETCH(QString, expected);
    QCOMPARE(sheet, expected);
}

void TestFonts::progressBarStyleIsTheFullText()
{
    const QString sheet = progressBarStyleSheet();
    QCOMPARE(sheet.size(), 181);
    QCOMPARE(sheet, QStringLiteral("\nQProgressBar {\n    border: 2px solid grey;\n    border-radius: 5px;\n    "
                                   "text-align: center;\n}\n\nQProgressBar::chunk {\n    background-color: "
                                   "rgba(160,240,140,100%);\n    width: 5px;\n}\n"));
}

void TestFonts::unloadableFontWarnsWithItsPath()
{
    const LogCapture log;
    QCOMPARE(loadFont(QStringLiteral(":resources/no-such-font.otf")), QString());
    QCOMPARE(log.texts(), QStringList{"Unable to load font from  \":resources/no-such-font.otf\""});
    QCOMPARE(log.entries().first().type, QtWarningMsg);
}

void TestFonts::defaultFontIsTheEmbeddedFamilyAtElevenPoints()
{
    const LogCapture log;
    setDefaultFont();
    QCOMPARE(log.texts(), QStringList{"Load/set default font: \"Cantarell\""});
    QCOMPARE(log.entries().first().type, QtInfoMsg);
    const QFont font = QApplication::font();
    QCOMPARE(font.family(), QStringLiteral("Cantarell"));
    QCOMPARE(font.pointSize(), 11);
    QCOMPARE(font.weight(), int(QFont::Normal));
    QVERIFY(!font.italic());
    QCOMPARE(applicationFontFamily(), QStringLiteral("Cantarell"));
    QCOMPARE(QFontInfo(QLabel().font()).family(), QStringLiteral("Cantarell"));
}

void TestFonts::secondCallSetsTheSameFontAgain()
{
    setDefaultFont();
    const int registered = QFontDatabase::addApplicationFont(regularFontResource);
    QVERIFY(registered >= 0);
    QVERIFY(QFontDatabase::removeApplicationFont(registered));

    const LogCapture log;
    QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
    setDefaultFont();
    QCOMPARE(log.texts(), QStringList{"Load/set default font: \"Cantarell\""});
    QCOMPARE(QApplication::font().family(), QStringLiteral("Cantarell"));
    QCOMPARE(QApplication::font().pointSize(), 11);
    // Each registration takes the next free id; a second loading would have taken this one.
    const int next = QFontDatabase::addApplicationFont(regularFontResource);
    QCOMPARE(next, registered);
    QFontDatabase::removeApplicationFont(next);
}

void TestFonts::embeddedFacesAreRegularAndBold()
{
    applicationFontFamily();
    const QFontDatabase database;
    const QStringList styles = database.styles(QStringLiteral("Cantarell"));
    QVERIFY2(styles.contains(QStringLiteral("Regular")), qPrintable(styles.join(',')));
    QVERIFY2(styles.contains(QStringLiteral("Bold")), qPrintable(styles.join(',')));
}

void TestFonts::labelFontRule_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("expectedFamily");
    QTest::addColumn<bool>("pixelSized");

    QTest::newRow("nothing set keeps the inherited font") << "" << -1 << "Cantarell" << false;
    QTest::newRow("a size of 0 sets no pixel size") << "" << 0 << "Cantarell" << false;
    QTest::newRow("a negative size sets no pixel size") << "" << -5 << "Cantarell" << false;
    QTest::newRow("a family alone keeps the inherited size") << "Serif" << -1 << "Serif" << false;
    QTest::newRow("a size alone gives a pixel size") << "" << 20 << "Cantarell" << true;
    QTest::newRow("family first, then the pixel size on top") << "Serif" << 14 << "Serif" << true;
}

void TestFonts::labelFontRule()
{
    QFETCH(QString, family);
    QFETCH(int, size);
    QFETCH(QString, expectedFamily);
    QFETCH(bool, pixelSized);

    setDefaultFont();
    QWidget window;
    QFont windowFont = QApplication::font();
    windowFont.setBold(true);
    window.setFont(windowFont);
    QLabel label(QStringLiteral("text"), &window);
    LabelSetting setting;
    setting.font = family;
    setting.size = size;
    applyLabelFont(label, setting);

    QCOMPARE(label.font().family(), expectedFamily);
    QVERIFY(label.font().bold());
    if (pixelSized) {
        // Linux: physical dots per inch over 110, no Windows allowance.
        const double factor = QGuiApplication::primaryScreen()->physicalDotsPerInch() / 110.0;
        QCOMPARE(labelPixelFactor(), factor);
        QCOMPARE(label.font().pixelSize(), int(size * factor));
    } else {
        QCOMPARE(label.font().pointSize(), 11);
    }
}

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
