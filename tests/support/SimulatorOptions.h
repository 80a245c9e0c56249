#pragma once
// Simulator start-up options the discovery tests share.
#include "SimulatorProcess.h"

// A simulator whose network printers also answer discovery requests.
inline SimulatorProcess::Options WithDiscovery()
{
    SimulatorProcess::Options o;
    o.discovery = true;
    return o;
}
