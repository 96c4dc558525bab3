#pragma once

#include "ostraversion.h"

// The program's name; its version comes from the project's version (ostraversion.h). The sidebar
// and the Info page show both.
inline constexpr char AppDisplayName[] = "Qorvant OSTRA";
