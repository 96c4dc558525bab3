#include "app/releasenotes.h"

#include <QCoreApplication>

namespace {

// One release: its version and its groups of changes as HTML.
struct Release
{
    const char *version;
    const char *notes;
};

const Release Releases[] = {
    {"1.3.5", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Motion system</b><ul><li>The controller sleeps when the platform has been idle for a while and wakes on the next movement</li><li>Live actuator positions on the Motion System page</li><li>Smoother motion through finer interpolation of every movement</li><li>Actuator positions are confirmed by the controller before a test runs</li><li>A Clear button for the controller log</li><li>New phone web panel: test and tune the platform from your phone on the same network</li></ul>")},
    {"1.3.4", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Race control stop banner on the RC Car page</li><li>Pit limiter banner stays visible while the limiter is on</li></ul><b>Fixes</b><ul><li>The web pill counts mobile clients correctly after a reconnect</li></ul>")},
    {"1.3.3", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Reduce motion setting on the Info page</li><li>Faster start-up with many profiles</li></ul>")},
    {"1.3.2", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Motion system</b><ul><li>Park position can be set per platform</li><li>Homing reports its progress</li></ul><b>Fixes</b><ul><li>Sidebar status dots follow the controller state</li></ul>")},
    {"1.3.1", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Fixes</b><ul><li>The motion controller reconnects after a USB reset</li><li>Dark theme contrast of disabled buttons</li></ul>")},
    {"1.3.0", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>New</b><ul><li>QOR Motion System support for 2DOF, 3DOF and 5DOF platforms</li><li>Product start page with both products</li></ul><b>Corvane</b><ul><li>Vehicle chooser for RC Car and RC Helicopter</li></ul>")},
    {"1.2.7", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Fixes</b><ul><li>Shifter gears are kept when the shifter is reconnected</li><li>Telemetry tiles keep their order</li></ul>")},
    {"1.2.6", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Race control: speed cap and reverse lock per station</li><li>Safety watchdog stops a car when race control goes silent</li></ul>")},
    {"1.2.5", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Race control across stations of a lounge</li><li>Stop and resume all cars at once</li></ul>")},
    {"1.2.4", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Helicopter</b><ul><li>Pitch and throttle curves</li><li>Arming and soft start settings</li></ul>")},
    {"1.2.3", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Helicopter</b><ul><li>Channel mapping and calibration for joystick, throttle and pedals</li></ul>")},
    {"1.2.2", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>New</b><ul><li>RC Helicopter mode (preview)</li></ul><b>Fixes</b><ul><li>Profile names with accents are saved correctly</li></ul>")},
    {"1.2.1", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Firmware</b><ul><li>QOR Receiver V4 update through its serial bootloader</li></ul>")},
    {"1.2.0", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Firmware</b><ul><li>Transmitter system software update over USB</li><li>Online version check for every device</li></ul>")},
    {"1.1.2", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Fixes</b><ul><li>The GPS map keeps its position after a page switch</li></ul>")},
    {"1.1.1", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Open the car's GPS position in a web map</li><li>Satellite count on the Location card</li></ul>")},
    {"1.1", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>New</b><ul><li>Mobile app connection over Wi-Fi with a QR code</li><li>mDNS name for the mobile app</li></ul><b>Corvane</b><ul><li>Profile manager: create, rename, duplicate and delete profiles</li></ul>")},
    {"1.0.21", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Full-screen dashboard with speed and gear</li></ul>")},
    {"1.0.20", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Wheel force feedback from the car's motion telemetry</li></ul>")},
    {"1.0.19", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Motion rig output in DiRT Rally format</li></ul>")},
    {"1.0.18", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Receiver</b><ul><li>Mounting and gyro calibration wizard</li></ul>")},
    {"1.0.17", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Receiver</b><ul><li>LED strip set-up with zones and a colour wheel</li></ul>")},
    {"1.0.16", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Telemetry sensors can be renamed and pinned</li></ul>")},
    {"1.0.15", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Raw CRSF console in the transmission view</li></ul>")},
    {"1.0.14", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>RF settings from the transmitter's ELRS parameters</li></ul>")},
    {"1.0.13", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Per-gear throttle limits for the shifter</li></ul>")},
    {"1.0.12", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>ESC presets shared by all profiles</li></ul>")},
    {"1.0.11", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Smooth deceleration and soft start</li></ul>")},
    {"1.0.10", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Pit limiter on a wheel button</li></ul>")},
    {"1.0.9", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Button mapping with press, hold, toggle and switch modes</li></ul>")},
    {"1.0.8", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Safety</b><ul><li>Pedal check before every transmission start</li><li>Stuck throttle detection</li></ul>")},
    {"1.0.7", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Steering end points and wheel rotation</li></ul>")},
    {"1.0.6", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Axis curves, deadzone and calibration</li></ul>")},
    {"1.0.5", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Saved devices connect at start</li></ul>")},
    {"1.0.4", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Light and dark theme</li></ul>")},
    {"1.0.3", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Fixes</b><ul><li>Transmitter keepalive while idle</li></ul>")},
    {"1.0.2", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Corvane</b><ul><li>Link statistics and battery telemetry</li></ul>")},
    {"1.0.1", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>Fixes</b><ul><li>Serial port list refreshes on demand</li></ul>")},
    {"1.0.0", QT_TRANSLATE_NOOP("ReleaseNotes", "<b>First release</b><ul><li>Drive an RC car with a sim racing wheel and pedals through the QOR Transmitter</li></ul>")},
};

} // namespace

QString releaseNotesHtml()
{
    QString html = QStringLiteral(
        "<style>  h3 { color: #0F1720; font-size: 15px; font-weight: 600; margin-top: 14px; margin-bottom: 4px; }  "
        "b { color: #0F1720; font-weight: 600; }  body { color: #5B6675; font-size: 13.5px; }  "
        "ul { margin-top: 2px; margin-bottom: 8px; }  li { margin-bottom: 2px; }</style>");
    // In a body of their own, so the body colour reaches every list item.
    html += QStringLiteral("<body>");
    for (const Release &release : Releases) {
        // The list bullet sits only a narrow blank before the text: one more space sets it apart.
        const QString notes = QCoreApplication::translate("ReleaseNotes", release.notes)
                                  .replace(QLatin1String("<li>"), QLatin1String("<li>&nbsp;"));
        html += QStringLiteral("<h3>v%1</h3>").arg(QLatin1String(release.version)) + notes;
    }
    return html + QStringLiteral("</body>");
}
