#pragma once

#include <QTest>

#include "ostraui/theme.h"

// The kit's widget tests run twice: headless, where animations are off, and on a virtual X
// display with animations on (ctest sets OSTRA_EXPECT_ANIMATIONS there). Checks that differ
// between the two ask animationsEnabled(); the animated run must really animate, or it would
// prove nothing.
inline void verifyRunKind()
{
    if (qEnvironmentVariableIsSet("OSTRA_EXPECT_ANIMATIONS"))
        QVERIFY2(ostra::animationsEnabled(), "the animated run has animations off");
    else
        QVERIFY(!ostra::animationsEnabled());
}
