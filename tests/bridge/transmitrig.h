#pragma once

// The rig lives with the shared test support; bridge tests keep their short include.
#include "support/transmitrig.h"
