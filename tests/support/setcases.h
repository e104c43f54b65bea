#ifndef SETCASES_H
#define SETCASES_H

#include <QByteArray>
#include <QList>

// Entries for one channel and what every front end must make of them: the
// rounded times it shows and the frame it sends.
struct SetCase
{
    const char *name;
    int channel;
    int delayPs;
    int widthPs;
    int appliedDelayPs;
    int appliedWidthPs;
    QByteArray frame;
    bool widthClamped; // the width gave way to the 511-step budget
};

const QList<SetCase> &setCases();

// The cases as a Qt Test data table, one row each, with the columns channel,
// delayPs, widthPs, appliedDelayPs, appliedWidthPs, frame and widthClamped.
void addSetCaseRows();

#endif // SETCASES_H
