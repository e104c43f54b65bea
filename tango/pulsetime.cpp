#include "tango/pulsetime.h"

std::string nameFor(int channel, PulseTime time)
{
    return "channel" + std::to_string(channel) + (time == PulseTime::Delay ? "Delay" : "Width");
}

double timePs(const PulseSteps &steps, PulseTime time)
{
    return kStepPs * (time == PulseTime::Delay ? steps.delaySteps : steps.widthSteps);
}
