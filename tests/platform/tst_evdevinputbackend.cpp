// glib's headers name members "signals": they come before Qt's, which make that a keyword.
#include <umockdev.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <poll.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "platform/input/evdevtranslation.h"
#include "platform/input/virtualinputbackend.h"
#include "support/evdevdevices.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

using namespace corvane;
using ostratest::EvdevDeviceSpec;
using ostratest::EvdevEvent;

namespace {

// Event numbers of the test devices: as text the shifter's (12) would come before the stick's (2).
constexpr int KeyboardNode = 0;
constexpr int MouseNode = 1;
constexpr int StickNode = 2;
constexpr int WheelNode = 3;
constexpr int PedalsNode = 5;
constexpr int ShifterNode = 12;

// A umockdev testbed of this process: /dev/input and /sys as the preload library shows them.
class Testbed
{
public:
    Testbed() : m_bed(umockdev_testbed_new()) {}
    ~Testbed() { g_object_unref(m_bed); }

    // Adds /dev/input/event<number> with its ioctls answered by `driver`; false when the preload
    // library does not show it.
    bool add(int number, const EvdevDeviceSpec &spec, UMockdevIoctlBase *driver)
    {
        GError *error = nullptr;
        const bool added = umockdev_testbed_attach_ioctl(m_bed, node(number).constData(), driver, &error)
                           && umockdev_testbed_add_from_string(m_bed, spec.umockdevText(number).constData(), &error);
        if (error) {
            qWarning("umockdev: %s", error->message);
            g_error_free(error);
        }
        return added && ::access(node(number).constData(), F_OK) == 0;
    }

    // Adds /dev/input/event<number> with its ioctl file; false when the preload library does not
    // show it.
    bool add(int number, const EvdevDeviceSpec &spec)
    {
        const QString ioctls = m_files.filePath(QStringLiteral("event%1.ioctl").arg(number));
        QFile file(ioctls);
        if (!file.open(QIODevice::WriteOnly) || file.write(spec.ioctlText(number)) < 0)
            return false;
        file.close();
        GError *error = nullptr;
        const bool added = umockdev_testbed_add_from_string(m_bed, spec.umockdevText(number).constData(), &error)
                           && umockdev_testbed_load_ioctl(m_bed, node(number).constData(),
                                                          QFile::encodeName(ioctls).constData(), &error);
        if (error) {
            qWarning("umockdev: %s", error->message);
            g_error_free(error);
        }
        return added && ::access(node(number).constData(), F_OK) == 0;
    }

    // Plays an evemu stream on the device, as the kernel would deliver it; once per device.
    bool play(int number, const QList<EvdevEvent> &events)
    {
        const QString path = m_files.filePath(QStringLiteral("event%1-%2.events").arg(number).arg(++m_streams));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(ostratest::evemuText(events)) < 0)
            return false;
        file.close();
        GError *error = nullptr;
        const bool loaded = umockdev_testbed_load_evemu_events(m_bed, node(number).constData(),
                                                               QFile::encodeName(path).constData(), &error);
        if (error)
            g_error_free(error);
        return loaded;
    }

    // What the program wrote to the device node since the last call.
    QList<input_event> written(int number)
    {
        QList<input_event> events;
        const int fd = umockdev_testbed_get_dev_fd(m_bed, node(number).constData());
        if (fd < 0)
            return events;
        // Without touching the descriptor's flags: the testbed's own writer shares it.
        pollfd ready{fd, POLLIN, 0};
        input_event event{};
        while (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN)
               && ::read(fd, &event, sizeof event) == ssize_t(sizeof event))
            events.append(event);
        return events;
    }

    // The cable pulled: the node hangs up under the program's open file and leaves the testbed.
    void unplug(int number)
    {
        const int fd = umockdev_testbed_get_dev_fd(m_bed, node(number).constData());
        // The testbed closes its end itself later: put /dev/null in its place instead of closing.
        const int nul = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(nul, fd);
        ::close(nul);
        umockdev_testbed_remove_device(
            m_bed, QByteArray("/sys/devices/virtual/input/input" + QByteArray::number(number) + "/event"
                              + QByteArray::number(number)).constData());
    }

    // The host file behind the node, for its permissions.
    QString hostPath(int number) const
    {
        gchar *root = umockdev_testbed_get_root_dir(m_bed);
        const QString path = QString::fromLocal8Bit(root) + QString::fromLatin1(node(number));
        g_free(root);
        return QFileInfo(path).canonicalFilePath();
    }

    static QByteArray node(int number) { return "/dev/input/event" + QByteArray::number(number); }

private:
    UMockdevTestbed *m_bed;
    QTemporaryDir m_files;
    int m_streams = 0;
};

// A device's driver played by the test: it answers the device's ioctls itself, counts them and
// takes effect uploads, keeping each with the id it gave it. Runs on umockdev's thread.
class Driver
{
public:
    explicit Driver(const EvdevDeviceSpec &spec)
        : m_answers(spec.ioctlAnswers()), m_handler(umockdev_ioctl_base_new())
    {
        g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&Driver::handle), this);
    }
    // The testbed may keep the handler past the driver: it answers nothing from then on.
    ~Driver()
    {
        g_signal_handlers_disconnect_by_data(m_handler, this);
        g_object_unref(m_handler);
    }

    UMockdevIoctlBase *handler() const { return m_handler; }

    QList<ff_effect> uploads() const
    {
        QMutexLocker lock(&m_mutex);
        return m_uploads;
    }

    int requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

private:
    static gboolean handle(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        return static_cast<Driver *>(self)->answer(client);
    }

    bool answer(UMockdevIoctlClient *client)
    {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        {
            QMutexLocker lock(&m_mutex);
            ++m_requests;
        }
        const auto reply = [&](const void *bytes, int size, long result) {
            UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, gsize(size), nullptr);
            if (!data)
                return false;
            std::memcpy(data->data, bytes, size_t(size));
            umockdev_ioctl_client_complete(client, result, 0);
            g_object_unref(data);
            return true;
        };
        for (const EvdevDeviceSpec::IoctlAnswer &a : m_answers) {
            if (a.request == request)
                return reply(a.data.constData(), int(a.data.size()), a.result);
        }
        if (request == EVIOCSFF) {
            UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(ff_effect), nullptr);
            if (!data)
                return false;
            ff_effect effect;
            std::memcpy(&effect, data->data, sizeof effect);
            g_object_unref(data);
            QMutexLocker lock(&m_mutex);
            if (effect.id < 0)
                effect.id = m_nextId++;
            m_uploads.append(effect);
            return reply(&effect, sizeof effect, 0);
        }
        if (request == EVIOCRMFF || request == EVIOCGRAB) {
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        return false;
    }

    const QList<EvdevDeviceSpec::IoctlAnswer> m_answers;
    UMockdevIoctlBase *m_handler;
    mutable QMutex m_mutex;
    QList<ff_effect> m_uploads;
    qint16 m_nextId = 0;
    int m_requests = 0;
};

// The state of an input device as its users read it.
struct Reading
{
    QList<float> axes;
    QList<bool> buttons;
    QList<int> povs;
    QList<float> roles;

    static Reading of(const InputDevice &device)
    {
        Reading r;
        for (int i = 0; i < InputDevice::AxisCount; ++i)
            r.axes.append(device.axis(i));
        for (int i = 0; i < InputDevice::ButtonCount; ++i)
            r.buttons.append(device.button(i));
        for (int i = 0; i < InputDevice::PovCount; ++i)
            r.povs.append(device.pov(i));
        for (int role = 0; role < 4; ++role)
            r.roles.append(device.roleAxisValue(role));
        return r;
    }

    bool operator==(const Reading &o) const
    {
        return axes == o.axes && buttons == o.buttons && povs == o.povs && roles == o.roles;
    }

    QString text() const
    {
        QStringList down;
        for (int i = 0; i < buttons.size(); ++i) {
            if (buttons.at(i))
                down.append(QString::number(i));
        }
        QStringList values;
        for (float v : axes)
            values.append(QString::number(double(v)));
        QStringList roleValues;
        for (float v : roles)
            roleValues.append(QString::number(double(v)));
        return QStringLiteral("axes [%1] buttons [%2] hat %3 roles [%4]")
            .arg(values.join(' '), down.join(' '))
            .arg(povs.value(0))
            .arg(roleValues.join(' '));
    }
};

// The raw state the same device shows on the virtual backend: each axis scaled from its range to
// 0..65535 into the slot the evdev layout gives it, buttons in code order, hats in hundredths.
evdev::Layout layoutOf(const EvdevDeviceSpec &spec)
{
    evdev::Capabilities caps;
    for (const EvdevDeviceSpec::Axis &axis : spec.axes)
        caps.abs[size_t(axis.code)] = true;
    for (int key : spec.keys)
        caps.keys[size_t(key)] = true;
    return evdev::layoutFor(caps);
}

// The axis indexes the device's absolute axes take (its hats take none).
QList<int> axisSlotsOf(const EvdevDeviceSpec &spec)
{
    const evdev::Layout layout = layoutOf(spec);
    QList<int> taken;
    for (const EvdevDeviceSpec::Axis &axis : spec.axes) {
        if (const int slot = layout.axisForCode(axis.code); slot >= 0)
            taken.append(slot);
    }
    return taken;
}

void applyRaw(VirtualInputDevice *device, const EvdevDeviceSpec &spec, const QHash<int, int> &values,
              const QSet<int> &down)
{
    const evdev::Layout layout = layoutOf(spec);
    for (int slot = 0; slot < InputAxisCount; ++slot)
        device->setAxisRaw(slot, 0);
    for (const EvdevDeviceSpec::Axis &axis : spec.axes) {
        const int value = values.value(axis.code, axis.value);
        const int slot = layout.axisForCode(axis.code);
        if (slot >= 0)
            device->setAxisRaw(slot, evdev::scaleAxis(value, axis.minimum, axis.maximum));
    }
    for (int hat = 0; hat < InputPovCount; ++hat) {
        if (!layout.hats[size_t(hat)])
            continue;
        const auto direction = [&](int code) {
            for (const EvdevDeviceSpec::Axis &axis : spec.axes) {
                if (axis.code == code)
                    return evdev::hatDirection(values.value(code, axis.value), axis.minimum, axis.maximum);
            }
            return 0;
        };
        const quint32 angle = evdev::hatAngle(direction(ABS_HAT0X + 2 * hat), direction(ABS_HAT0Y + 2 * hat));
        if (angle == InputPovCentred)
            device->centrePov(hat);
        else
            device->setPov(hat, angle);
    }
    for (int b = 0; b < layout.buttonCodes.size(); ++b)
        device->setButton(b, down.contains(layout.buttonCodes.at(b)));
}

// Drops the right to ignore file permissions, as a user's session has none, and restores it.
class WithoutFileOverride
{
public:
    WithoutFileOverride()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_valid = ::syscall(SYS_capget, &m_header, m_saved) == 0;
        if (!m_valid)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        ::syscall(SYS_capset, &m_header, reduced);
    }
    ~WithoutFileOverride()
    {
        if (m_valid)
            ::syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_valid = false;
};

int indexOf(const QString &name)
{
    const QList<InputDeviceInfo> devices = InputDevice::enumerateDevices();
    for (const InputDeviceInfo &info : devices) {
        if (info.name == name)
            return info.index;
    }
    return -1;
}

using Values = QHash<int, int>;
using Keys = QSet<int>;

} // namespace

Q_DECLARE_METATYPE(EvdevDeviceSpec)
Q_DECLARE_METATYPE(QList<EvdevEvent>)

class TestEvdevInputBackend : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Testbed> m_bed;

    // Every test starts from an empty testbed; false (with the test skipped) without the preload.
    bool startTestbed(std::initializer_list<std::pair<int, EvdevDeviceSpec>> devices)
    {
        m_bed = std::make_unique<Testbed>();
        for (const auto &[number, spec] : devices) {
            if (!m_bed->add(number, spec))
                return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        if (!qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("libumockdev-preload")))
            QSKIP("The umockdev preload library is not loaded: run this test under umockdev-wrapper.");
        QVERIFY2(!VirtualInputBackend::instance(), "Set OSTRA_INPUT_BACKEND=evdev for this test.");
    }

    void cleanup()
    {
        InputBackend::setInstance(nullptr);
        m_bed.reset();
    }

    // Only game controllers are listed, in event number order, each with its identity.
    void enumeration()
    {
        if (!startTestbed({{ShifterNode, EvdevDeviceSpec::hShifter()}, {KeyboardNode, EvdevDeviceSpec::keyboard()},
                           {WheelNode, EvdevDeviceSpec::wheelBase()}, {MouseNode, EvdevDeviceSpec::mouse()},
                           {PedalsNode, EvdevDeviceSpec::pedals()}, {StickNode, EvdevDeviceSpec::flightStick()}}))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");
        struct Expected
        {
            EvdevDeviceSpec spec;
            int axes, buttons, povs;
            bool ffb;
            QString preset;
        };
        const QList<Expected> expected{{EvdevDeviceSpec::flightStick(), 4, 10, 1, false, "Generic"},
                                       {EvdevDeviceSpec::wheelBase(), 1, 16, 1, true, "MOZA / Fanatec"},
                                       {EvdevDeviceSpec::pedals(), 3, 0, 0, false, "MOZA / Fanatec"},
                                       {EvdevDeviceSpec::hShifter(), 0, 12, 0, false, "Logitech"}};
        const QList<InputDeviceInfo> devices = InputDevice::enumerateDevices();
        QCOMPARE(devices.size(), expected.size());
        for (int i = 0; i < devices.size(); ++i) {
            const InputDeviceInfo &info = devices.at(i);
            const Expected &e = expected.at(i);
            QCOMPARE(info.index, i);
            QCOMPARE(info.name, e.spec.name);
            QCOMPARE(info.productName, e.spec.name);
            QCOMPARE(info.instanceGuid, inputGuidText(evdev::instanceGuid(e.spec.physicalPath, e.spec.name)));
            QCOMPARE(info.productGuid, inputGuidText(inputProductGuid(e.spec.id.vendor, e.spec.id.product)));
            QCOMPARE(info.numAxes, e.axes);
            QCOMPARE(info.numButtons, e.buttons);
            QCOMPARE(info.numPovs, e.povs);
            QCOMPARE(info.supportsFfb, e.ffb);
            InputDevice device;
            QVERIFY(device.open(i));
            QCOMPARE(device.instanceGuid(), info.instanceGuid);
            QCOMPARE(device.axisMapping().presetName, e.preset);
        }
    }

    // An evemu stream read through InputDevice gives exactly what the same raw values give on the
    // virtual backend: axis slots and ranges, buttons, hat, roles.
    void readings_data()
    {
        QTest::addColumn<EvdevDeviceSpec>("spec");
        QTest::addColumn<Values>("values"); // EV_ABS code -> value after the stream
        QTest::addColumn<Keys>("down");     // EV_KEY codes held after the stream
        EvdevDeviceSpec stick = EvdevDeviceSpec::flightStick();
        QTest::newRow("stick at rest") << stick << Values{} << Keys{};
        QTest::newRow("stick pushed, throttle up, hat up-right, trigger")
            << stick << Values{{ABS_X, 511}, {ABS_Y, -300}, {ABS_THROTTLE, 255}, {ABS_HAT0X, 1}, {ABS_HAT0Y, -1}}
            << Keys{BTN_TRIGGER, BTN_BASE4};
        QTest::newRow("wheel full left, hat down, two buttons")
            << EvdevDeviceSpec::wheelBase() << Values{{ABS_X, 0}, {ABS_HAT0Y, 1}} << Keys{BTN_THUMB, BTN_DEAD};
        QTest::newRow("wheel a quarter right") << EvdevDeviceSpec::wheelBase() << Values{{ABS_X, 49151}} << Keys{};
        QTest::newRow("pedals: throttle full, brake half, clutch just pressed")
            << EvdevDeviceSpec::pedals() << Values{{ABS_RX, 1023}, {ABS_RY, 512}, {ABS_RZ, 120}} << Keys{};
        QTest::newRow("pedals: the brake alone moves") << EvdevDeviceSpec::pedals() << Values{{ABS_RY, 700}} << Keys{};
        QTest::newRow("shifter in third") << EvdevDeviceSpec::hShifter() << Values{} << Keys{BTN_TOP};
        // Held keys past the bytes the key state answer holds are not read as held.
        EvdevDeviceSpec shortKeys = EvdevDeviceSpec::hShifter();
        shortKeys.keysDown = {BTN_TRIGGER, BTN_BASE6};
        shortKeys.keyStateBytes = 4;
        QTest::newRow("short key state answer") << shortKeys << Values{} << Keys{};
        // An axis the device gives no range for keeps the full range and the device still reads.
        stick.missingAbs = {ABS_RZ};
        stick.axes[2].minimum = 0;
        stick.axes[2].maximum = 65535;
        stick.axes[2].value = 0;
        QTest::newRow("stick without twist range") << stick << Values{{ABS_RZ, 65535}, {ABS_X, -512}} << Keys{};
        // A hat without its range rests centred and still turns.
        EvdevDeviceSpec noHatRange = EvdevDeviceSpec::flightStick();
        noHatRange.missingAbs = {ABS_HAT0X, ABS_HAT0Y};
        QTest::newRow("stick without hat range, at rest") << noHatRange << Values{} << Keys{};
        QTest::newRow("stick without hat range, right") << noHatRange << Values{{ABS_HAT0X, 1}} << Keys{};
    }

    void readings()
    {
        QFETCH(EvdevDeviceSpec, spec);
        QFETCH(Values, values);
        QFETCH(Keys, down);
        if (!startTestbed({{WheelNode, spec}}))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");

        // The virtual backend first: the state at open, read once, then the state after the stream.
        VirtualInputBackend virtualBackend;
        InputBackend::setInstance(&virtualBackend);
        // The twin has the axes the device has: a pedal role on one it lacks reads released.
        const QList<int> axes = axisSlotsOf(spec);
        VirtualDeviceSpec twinSpec(spec.name, int(axes.size()), 128, 4);
        twinSpec.axisSlots = axes;
        VirtualInputDevice *twin = virtualBackend.addDevice(twinSpec);
        Values atOpen;
        for (const EvdevDeviceSpec::Axis &axis : spec.axes)
            atOpen.insert(axis.code, spec.missingAbs.contains(axis.code) ? 0 : axis.value);
        applyRaw(twin, spec, atOpen, {});
        InputDevice reference;
        QVERIFY(reference.open(0));
        reference.poll();
        Values after = atOpen;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            after.insert(it.key(), it.value());
        applyRaw(twin, spec, after, down);
        for (int i = 0; i < 8; ++i)
            reference.poll();
        const Reading expected = Reading::of(reference);
        reference.releaseDevice();
        InputBackend::setInstance(nullptr);

        InputDevice device;
        QVERIFY(device.open(0));
        QCOMPARE(device.productName(), spec.name);
        device.poll();
        // What was read at open is no report; the stream reports the axes it moves and no other.
        const evdev::Layout layout = layoutOf(spec);
        const auto reported = [&device] {
            QList<bool> axes;
            for (int i = 0; i < InputDevice::AxisCount; ++i)
                axes.append(device.hasAxisReported(i));
            return axes;
        };
        QList<bool> moved;
        for (int code : layout.axisCodes)
            moved.append(code >= 0 && values.contains(code));
        QCOMPARE(reported(), QList<bool>(InputDevice::AxisCount, false));
        QList<EvdevEvent> stream;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            stream.append({EV_ABS, it.key(), it.value()});
        for (int key : down)
            stream.append({EV_KEY, key, 1});
        QVERIFY(m_bed->play(WheelNode, stream));
        // The stream arrives while the device is read; the debounce needs four reads after it.
        QTRY_VERIFY2_WITH_TIMEOUT((device.poll(), Reading::of(device) == expected),
                                  qPrintable(Reading::of(device).text() + " != " + expected.text()), 5000);
        // Counted once the report ends, which may come in a later read than its values.
        QTRY_COMPARE_WITH_TIMEOUT((device.poll(), reported()), moved, 5000);
        QVERIFY(device.isConnected());
    }

    // A device that vanishes while it is read is reported lost at once and stays lost, and the
    // reads that follow do not go back to it.
    void deviceGone()
    {
        Driver pedals(EvdevDeviceSpec::pedals());
        if (!startTestbed({{WheelNode, EvdevDeviceSpec::wheelBase()}})
            || !m_bed->add(PedalsNode, EvdevDeviceSpec::pedals(), pedals.handler()))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");
        InputDevice device;
        QVERIFY(device.open(indexOf(EvdevDeviceSpec::pedals().name)));
        device.poll();
        QVERIFY(device.isConnected());
        QSignalSpy lost(&device, &InputDevice::deviceDisconnected);
        m_bed->unplug(PedalsNode);
        device.poll();
        QCOMPARE(lost.count(), 1);
        QVERIFY(!device.isConnected());
        const int requests = pedals.requests();
        for (int i = 0; i < 10; ++i)
            device.poll();
        QCOMPARE(lost.count(), 11);
        QVERIFY(!device.isConnected());
        QCOMPARE(pedals.requests(), requests);
        // The other device reads on.
        InputDevice wheel;
        QVERIFY(wheel.open(indexOf(EvdevDeviceSpec::wheelBase().name)));
        wheel.poll();
        QVERIFY(wheel.isConnected());
    }

    // A node the user may only read: the device opens and reads, without force feedback.
    void readOnlyNode()
    {
        if (!startTestbed({{WheelNode, EvdevDeviceSpec::wheelBase()}}))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");
        QVERIFY(::chmod(QFile::encodeName(m_bed->hostPath(WheelNode)).constData(), 0444) == 0);
        WithoutFileOverride user;
        QCOMPARE(InputDevice::enumerateDevices().value(0).supportsFfb, false);
        InputDevice device;
        QVERIFY(device.open(0));
        QVERIFY(!device.hasForceFeedback());
        QVERIFY(!device.probeForceFeedback());
        QVERIFY(!device.setForceFeedback(0.5f));
        QVERIFY(!device.setCentering(0.5f));
        const FfbStatus status = device.ffbStatus();
        QVERIFY(status.enumerated);
        QVERIFY(!status.ffbCapable);
        QVERIFY(!status.exclusive);
        QVERIFY(m_bed->play(WheelNode, {{EV_ABS, ABS_X, 65535}}));
        QTRY_COMPARE_WITH_TIMEOUT((device.poll(), device.axis(InputAxisX)), 1.0f, 5000);
        QVERIFY(m_bed->written(WheelNode).isEmpty());
    }

    // Force feedback where the device takes no effect upload: the effect count decides whether
    // the device offers force feedback; creating the effects fails cleanly and the status says why.
    void forceFeedback_data()
    {
        QTest::addColumn<int>("effectSlots");
        QTest::addColumn<bool>("capable");
        QTest::newRow("sixteen effect slots") << 16 << true;
        QTest::newRow("no effect slot") << 0 << false;
    }

    void forceFeedback()
    {
        QFETCH(int, effectSlots);
        QFETCH(bool, capable);
        EvdevDeviceSpec wheel = EvdevDeviceSpec::wheelBase();
        wheel.effectSlots = effectSlots;
        if (!startTestbed({{WheelNode, wheel}}))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");
        InputDevice device;
        QVERIFY(device.open(0));
        QCOMPARE(device.hasForceFeedback(), capable);
        QVERIFY(!device.setForceFeedback(0.5f));
        QVERIFY(!device.setCentering(0.5f));
        const FfbStatus status = device.ffbStatus();
        QVERIFY(status.enumerated);
        QCOMPARE(status.ffbCapable, capable);
        QVERIFY(!status.constantForce);
        if (capable) {
            QVERIFY(status.hasFfbAxis);
            QVERIFY(!inputSucceeded(status.errorCode));
            QVERIFY2(status.diag.contains(QLatin1String("X/offset=0x")), qPrintable(status.diag));
            // Before the uploads the probe switched the wheel's own centring off and reset it.
            const QList<input_event> written = m_bed->written(WheelNode);
            QVERIFY(std::any_of(written.cbegin(), written.cend(), [](const input_event &e) {
                return e.type == EV_FF && e.code == FF_AUTOCENTER && e.value == 0;
            }));
        } else {
            QVERIFY(m_bed->written(WheelNode).isEmpty());
        }
        // Input goes on.
        QVERIFY(m_bed->play(WheelNode, {{EV_KEY, BTN_TRIGGER, 1}}));
        QTRY_VERIFY_WITH_TIMEOUT((device.poll(), device.button(0)), 5000);
    }

    // A wheel whose driver takes effect uploads: the constant force plays with the magnitude asked
    // for, the centring spring starts after the probe, and stopping writes the stop event.
    void forceFeedbackPlays_data()
    {
        QTest::addColumn<float>("strength");
        QTest::addColumn<int>("magnitude");
        QTest::newRow("half") << 0.5f << 5000;
        QTest::newRow("beyond full") << 1.7f << 10000;
        QTest::newRow("a quarter the other way") << -0.25f << -2500;
    }

    void forceFeedbackPlays()
    {
        QFETCH(float, strength);
        QFETCH(int, magnitude);
        const EvdevDeviceSpec spec = EvdevDeviceSpec::wheelBase();
        Driver driver(spec);
        m_bed = std::make_unique<Testbed>();
        if (!m_bed->add(WheelNode, spec, driver.handler()))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");
        InputDevice device;
        QVERIFY(device.open(0));
        QVERIFY(device.hasForceFeedback());
        QVERIFY(device.setForceFeedback(strength));
        const FfbStatus status = device.ffbStatus();
        QVERIFY(status.constantForce);
        QVERIFY(status.exclusive);
        QVERIFY(status.hasFfbAxis);

        const QList<ff_effect> uploads = driver.uploads();
        const auto last = [&uploads](int type) {
            ff_effect found{};
            found.id = -1;
            for (const ff_effect &e : uploads) {
                if (e.type == type)
                    found = e;
            }
            return found;
        };
        const ff_effect force = last(FF_CONSTANT);
        const ff_effect spring = last(FF_SPRING);
        QVERIFY(force.id >= 0);
        QVERIFY(spring.id >= 0);
        QVERIFY(force.id != spring.id);
        QCOMPARE(force.u.constant.level, evdev::forceLevel(magnitude, InputForceMaximum));
        QCOMPARE(force.direction, evdev::PositiveXDirection);
        const auto wrote = [](const QList<input_event> &events, int code, int value) {
            return std::any_of(events.cbegin(), events.cend(), [&](const input_event &e) {
                return e.type == EV_FF && e.code == code && e.value == value;
            });
        };
        const QList<input_event> played = m_bed->written(WheelNode);
        QVERIFY(wrote(played, force.id, 1));
        QVERIFY(wrote(played, spring.id, 1));
        device.stopForceFeedback();
        QVERIFY(wrote(m_bed->written(WheelNode), force.id, 0));
    }

    // The controller with the evdev wheel base and pedals sends the same frames as with the same
    // raw values on the virtual backend.
    void transmitsLikeVirtual_data()
    {
        QTest::addColumn<Values>("wheel");
        QTest::addColumn<Values>("pedals");
        QTest::newRow("centred, pedals up") << Values{{ABS_X, 32768}} << Values{};
        QTest::newRow("left lock, full throttle") << Values{{ABS_X, 0}} << Values{{ABS_RX, 1023}};
        QTest::newRow("a little right, half brake") << Values{{ABS_X, 40000}} << Values{{ABS_RY, 600}};
    }

    void transmitsLikeVirtual()
    {
        QFETCH(Values, wheel);
        QFETCH(Values, pedals);
        const EvdevDeviceSpec wheelSpec = EvdevDeviceSpec::wheelBase();
        const EvdevDeviceSpec pedalSpec = EvdevDeviceSpec::pedals();
        if (!startTestbed({{WheelNode, wheelSpec}, {PedalsNode, pedalSpec}}))
            QSKIP("The umockdev testbed does not show its device nodes in this process.");

        AxisSettings settings;
        settings.softStartEnabled = false;
        settings.stuckThrottleDetectionEnabled = false;
        settings.throttleSpikeRejectionEnabled = false;
        // Runs a controller on the backend of the moment until `settled` holds for its last frame.
        const auto run = [&](const std::function<void()> &move,
                             const std::function<bool(const ostratest::SimulatedTransmitter::Channels &)> &settled)
            -> ostratest::SimulatedTransmitter::Channels {
            ostratest::freshDataFolder();
            ostratest::SimulatedTransmitter tx;
            CorvaneController controller;
            if (!controller.setAxisSettings(settings) || !controller.wheelBase()->open(indexOf(wheelSpec.name))
                || !controller.pedals()->open(indexOf(pedalSpec.name))
                || !controller.connectTransmitter(tx.portName(), 115200)
                || !tx.waitFor([&controller] { return controller.isTransmitterAnswered(); }))
                return {};
            controller.startTransmission();
            for (QTimer *timer : controller.findChildren<QTimer *>()) {
                if (timer->interval() == 7)
                    timer->stop();
            }
            if (!controller.isRunning())
                return {};
            move();
            for (int tick = 0; tick < 2000; ++tick) {
                QMetaObject::invokeMethod(&controller, "onTransmitTimer", Qt::DirectConnection);
                if (!tx.waitForChannelFrames(int(controller.frameCount())))
                    return {};
                if (tick >= 8 && settled(tx.lastChannels()))
                    return tx.lastChannels();
                QTest::qWait(1);
            }
            return tx.lastChannels();
        };

        VirtualInputBackend virtualBackend;
        InputBackend::setInstance(&virtualBackend);
        VirtualInputDevice *virtualWheel = virtualBackend.addDevice(VirtualDeviceSpec(wheelSpec.name, 8, 128, 4));
        VirtualInputDevice *virtualPedals = virtualBackend.addDevice(VirtualDeviceSpec(pedalSpec.name, 8, 128, 4));
        applyRaw(virtualWheel, wheelSpec, {}, {});
        applyRaw(virtualPedals, pedalSpec, {}, {});
        const auto expected = run(
            [&] {
                applyRaw(virtualWheel, wheelSpec, wheel, {});
                applyRaw(virtualPedals, pedalSpec, pedals, {});
            },
            [](const auto &) { return true; });
        InputBackend::setInstance(nullptr);
        QVERIFY(expected != ostratest::SimulatedTransmitter::Channels{});

        const auto sent = run(
            [&] {
                QList<EvdevEvent> wheelStream;
                for (auto it = wheel.cbegin(); it != wheel.cend(); ++it)
                    wheelStream.append({EV_ABS, it.key(), it.value()});
                QList<EvdevEvent> pedalStream;
                for (auto it = pedals.cbegin(); it != pedals.cend(); ++it)
                    pedalStream.append({EV_ABS, it.key(), it.value()});
                QVERIFY(m_bed->play(WheelNode, wheelStream));
                QVERIFY(m_bed->play(PedalsNode, pedalStream));
            },
            [&](const auto &channels) { return channels == expected; });
        QCOMPARE(sent, expected);
    }
};

OSTRA_TEST_MAIN_CORE(TestEvdevInputBackend)
#include "tst_evdevinputbackend.moc"
