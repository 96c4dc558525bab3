#pragma once

#include <QtGlobal>

namespace corvane {

// The process's limit of open descriptors (files, sockets, pipes). A desktop session starts
// programs with a soft limit of 1024 under a much higher hard limit: a program that holds
// network connections raises it, so that its own files can still be opened when the network
// takes many. Windows has no such limit; there nothing is done.
class DescriptorLimit
{
public:
    // Raises the soft limit to the hard limit; true when it is there now.
    static bool raiseToHardLimit();
};

} // namespace corvane
