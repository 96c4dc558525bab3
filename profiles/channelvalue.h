#pragma once

#include <algorithm>

// Highest value of a CRSF channel: channel values run from 0 to ChannelValueMax.
constexpr int ChannelValueMax = 2047;

// A channel value or end point as a record keeps it. Files are edited by hand and callers pass
// numbers from the network, and the transmit tick computes with these in int and float: held
// within the channel range, no value can overflow that arithmetic.
inline int limitChannelValue(int value)
{
    return std::clamp(value, 0, ChannelValueMax);
}
