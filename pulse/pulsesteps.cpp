#include "pulse/pulsesteps.h"

#include <cmath>

namespace {

// Times converted from decimal seconds miss whole ps by a rounding error.
constexpr double kTolerancePs = 1e-6;

} // namespace

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

Result<int, PulseRefusal> checkedTimeSteps(double timePs, const QString &what)
{
    if (!(timePs >= -kTolerancePs && timePs <= kMaxTimePs + kTolerancePs))
        return Failure{PulseRefusal{PulseRefusal::OutOfRange,
                                    QStringLiteral("%1 %2 ps is outside 0 to %3 ps")
                                            .arg(what)
                                            .arg(timePs)
                                            .arg(kMaxTimePs)}};
    return toSteps(int(std::lround(timePs)));
}

Result<PulseSteps, PulseRefusal> checkedPulseSteps(double delayPs, double widthPs)
{
    const Result<int, PulseRefusal> delaySteps = checkedTimeSteps(delayPs, QStringLiteral("delay"));
    if (!delaySteps)
        return Failure{delaySteps.error()};
    const Result<int, PulseRefusal> widthSteps = checkedTimeSteps(widthPs, QStringLiteral("width"));
    if (!widthSteps)
        return Failure{widthSteps.error()};
    const int total = delaySteps.value() + widthSteps.value();
    if (total > kBudgetSteps)
        return Failure{PulseRefusal{PulseRefusal::OverBudget,
                                    QStringLiteral("delay plus width is %1 steps: more than %2")
                                            .arg(total)
                                            .arg(kBudgetSteps)}};
    return PulseSteps{delaySteps.value(), widthSteps.value()};
}
