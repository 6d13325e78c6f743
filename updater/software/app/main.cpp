#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The window is painted by the raster engine and never uses OpenGL; without
    // this, Qt's X11 back end loads the system's OpenGL driver for the window
    // (with Mesa over 50 MB resident and a slower start). A value set by the
    // user still wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication application(argc, argv);
    setupApplication();
    const int exitCode = application.exec();
    return teardownApplication(exitCode);
}
