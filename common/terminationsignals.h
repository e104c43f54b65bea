#ifndef TERMINATIONSIGNALS_H
#define TERMINATIONSIGNALS_H

class QCoreApplication;

// Ends the event loop with exit code 0 on SIGINT, SIGTERM or SIGHUP (its
// terminal closed), so that the program cleans up as after a normal end.
bool quitOnTerminationSignals(QCoreApplication &app);

// A server must outlive a log reader or client that went away: writes to a
// closed pipe or socket then fail with EPIPE instead of ending the process.
bool ignoreBrokenPipes();

#endif // TERMINATIONSIGNALS_H
