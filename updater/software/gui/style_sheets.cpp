#include "gui/style_sheets.h"

QString mainWindowStyleSheet()
{
    // The picture is stretched over the whole window at every scale factor.
    return QStringLiteral(
        "QMainWindow { border-image:url(\"://resources/background.jpg\") 0 0 0 0 stretch stretch; }");
}

QString whiteLabelStyleSheet()
{
    return QStringLiteral("QLabel { background-color : rgba(0,0,0,0%); color : rgba(175,175,175,100%); }");
}

QString blackLabelStyleSheet()
{
    return QStringLiteral("QLabel { background-color : rgba(0,0,0,0%); color : black; }");
}

QString progressBarStyleSheet()
{
    return QStringLiteral("\n"
                          "QProgressBar {\n"
                          "    border: 2px solid grey;\n"
                          "    border-radius: 5px;\n"
                          "    text-align: center;\n"
                          "}\n"
                          "\n"
                          "QProgressBar::chunk {\n"
                          "    background-color: rgba(160,240,140,100%);\n"
                          "    width: 5px;\n"
                          "}\n");
}
