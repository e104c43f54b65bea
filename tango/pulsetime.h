#ifndef PULSETIME_H
#define PULSETIME_H

#include "pulse/pulsesteps.h"

#include <string>

// A channel's two times, each an attribute of the device.
enum class PulseTime { Delay, Width };

// The attribute's name: channel<N>Delay or channel<N>Width.
std::string nameFor(int channel, PulseTime time);

// The time in ps that the generator's steps stand for.
double timePs(const PulseSteps &steps, PulseTime time);

#endif // PULSETIME_H
