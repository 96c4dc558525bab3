#pragma once

// The one place the program's name and version are written; the sidebar and the Info page show them.
inline constexpr char AppDisplayName[] = "Qorvant OSTRA";
inline constexpr char AppVersion[] = "1.3.5";
