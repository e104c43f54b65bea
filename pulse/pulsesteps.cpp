#include "pulse/pulsesteps.h"

int toSteps(int timePs)
{
    const double quotient = timePs / double(kStepPs);
    return int(quotient < 0 ? quotient - 0.5 : quotient + 0.5);
}

int clampWidthSteps(int delaySteps, int widthSteps)
{
    return delaySteps + widthSteps > kBudgetSteps ? kBudgetSteps - delaySteps : widthSteps;
}

PulseSteps pulseStepsFor(int delayPs, int widthPs)
{
    const int delaySteps = toSteps(delayPs);
    return {delaySteps, clampWidthSteps(delaySteps, toSteps(widthPs))};
}
