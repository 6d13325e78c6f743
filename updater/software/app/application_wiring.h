#pragma once

#include <QPointer>

class QApplication;
class MainWindow;
class SM_A;
class SM_B;

// The control objects: the window is never deleted by the program; the two
// machines are deleted by the teardown.
extern QPointer<MainWindow> mainWindow;
extern SM_A *smA;
extern SM_B *smB;

void createControlObjects();
void connectApplication(QApplication &application);

// Stops SM_A's thread as the window's "finished" does: ask, wait up to 1000 ms,
// then end it.
void stopDeviceThread();
// Makes sure SM_A's thread has ended, ending it quietly when it still runs.
void ensureDeviceThreadEnded();
