#ifndef PULSESTEPS_H
#define PULSESTEPS_H

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

// What the generator is sent for the times a user entered.
PulseSteps pulseStepsFor(int delayPs, int widthPs);

#endif // PULSESTEPS_H
