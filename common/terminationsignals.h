#ifndef TERMINATIONSIGNALS_H
#define TERMINATIONSIGNALS_H

class QCoreApplication;

// Ends the event loop with exit code 0 on SIGINT, SIGTERM or SIGHUP (its
// terminal closed), so that the program cleans up as after a normal end.
bool quitOnTerminationSignals(QCoreApplication &app);

// Holds the signals back from the calling thread (and the threads it starts)
// until unblockTerminationSignals(): for a program that must take them from
// its first moment, before its handler can be installed.
bool blockTerminationSignals();

// For a library that blocked those signals to wait for them on a thread of
// its own: the calling thread takes them again, for the handler above
// (which must be installed after the library reset them).
bool unblockTerminationSignals();

// A server must outlive a log reader or client that went away: writes to a
// closed pipe or socket then fail with EPIPE instead of ending the process.
bool ignoreBrokenPipes();

#endif // TERMINATIONSIGNALS_H
