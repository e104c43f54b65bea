#ifndef PULSESTEPS_H
#define PULSESTEPS_H

#include "common/result.h"

#include <QString>

// The generator counts delay and width in steps of 11 ps; the two of one
// channel together may not exceed 511 steps.
constexpr int kStepPs = 11;
constexpr int kBudgetSteps = 511;
constexpr int kMaxTimePs = kBudgetSteps * kStepPs;

struct PulseSteps
{
    int delaySteps = 0;
    int widthSteps = 0;
};

// Nearest whole number of steps; halves round away from zero.
int toSteps(int timePs);

// The width gives way when delay plus width exceeds the budget; the delay
// is never reduced.
int clampWidthSteps(int delaySteps, int widthSteps);

// What the generator is sent for the times a user entered in the window.
PulseSteps pulseStepsFor(int delayPs, int widthPs);

// Why a pair of times cannot go to the generator as it is.
struct PulseRefusal
{
    enum Reason { OutOfRange, OverBudget };
    Reason reason = OutOfRange;
    QString detail; // for people
};

// For programs that must never change what they were asked for: a time in
// ps rounded to the nearest step, refused when outside 0 to kMaxTimePs or
// not a number. `what` names it in the refusal ("delay", "width").
Result<int, PulseRefusal> checkedTimeSteps(double timePs, const QString &what);

// Both times as checkedTimeSteps makes them, refused as well when together
// they exceed the budget. Nothing is clamped.
Result<PulseSteps, PulseRefusal> checkedPulseSteps(double delayPs, double widthPs);

#endif // PULSESTEPS_H
