#ifndef RUNWINDOW_H
#define RUNWINDOW_H

class QApplication;

// What the kestrane program does once its application object exists: names
// itself, reads its options, shows the window and runs the event loop.
// Returns the exit code.
int runWindow(QApplication &app);

#endif // RUNWINDOW_H
