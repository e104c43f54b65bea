#ifndef TERMINATIONSIGNALS_H
#define TERMINATIONSIGNALS_H

class QCoreApplication;

// Ends the event loop with exit code 0 on SIGINT, SIGTERM or SIGHUP (its
// terminal closed), so that the program cleans up as after a normal end.
bool quitOnTerminationSignals(QCoreApplication &app);

#endif // TERMINATIONSIGNALS_H
