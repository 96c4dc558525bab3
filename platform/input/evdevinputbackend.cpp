#include "platform/input/evdevinputbackend.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/input/evdevtranslation.h"

namespace corvane {

namespace {

const QString kInputDirectory = QStringLiteral("/dev/input");

int openNode(const QString &path, bool *writable)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    *writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd;
}

QString ioctlText(int fd, unsigned long request)
{
    char buffer[256] = {};
    if (::ioctl(fd, request, buffer) < 0)
        return {};
    buffer[sizeof(buffer) - 1] = '\0';
    return QString::fromUtf8(buffer).trimmed();
}

template <size_t N>
void readBits(int fd, unsigned int type, std::bitset<N> &bits)
{
    unsigned char bytes[(N + 7) / 8] = {};
    const int length = ::ioctl(fd, EVIOCGBIT(type, sizeof(bytes)), bytes);
    if (length > 0)
        evdev::setBits(bits, bytes, size_t(length));
}

// One event device file that is a game controller.
struct Node
{
    QString path;
    InputDeviceIdentity identity;
    evdev::Capabilities caps;
    int effectSlots = 0; // effects the device holds at once
};

bool describe(int fd, const QString &path, Node &node)
{
    node.path = path;
    readBits(fd, EV_KEY, node.caps.keys);
    readBits(fd, EV_ABS, node.caps.abs);
    readBits(fd, EV_FF, node.caps.ff);
    unsigned char props[(INPUT_PROP_CNT + 7) / 8] = {};
    const int length = ::ioctl(fd, EVIOCGPROP(sizeof(props)), props);
    if (length > 0)
        evdev::setBits(node.caps.props, props, size_t(length));
    if (!evdev::isGameController(node.caps))
        return false;
    const QString name = ioctlText(fd, EVIOCGNAME(256));
    const QString physical = ioctlText(fd, EVIOCGPHYS(256));
    input_id id{};
    ::ioctl(fd, EVIOCGID, &id);
    // A device that holds no effect cannot play one, whatever effect types it lists.
    int effectSlots = 0;
    if (::ioctl(fd, EVIOCGEFFECTS, &effectSlots) >= 0)
        node.effectSlots = std::max(0, effectSlots);
    node.identity.instanceName = name;
    node.identity.productName = name;
    node.identity.instanceGuid = evdev::instanceGuid(physical, name);
    node.identity.productGuid = inputProductGuid(id.vendor, id.product);
    return true;
}

// Game controllers in event number order; files the user may not read are left out.
QList<Node> scanNodes()
{
    QDir dir(kInputDirectory);
    QStringList names = dir.entryList({QStringLiteral("event*")}, QDir::System | QDir::Files);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.mid(5).toInt() < b.mid(5).toInt();
    });
    QList<Node> nodes;
    for (const QString &name : std::as_const(names)) {
        const QString path = dir.filePath(name);
        const QByteArray file = QFile::encodeName(path);
        const int fd = ::open(file.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        Node node;
        if (describe(fd, path, node))
            nodes.append(node);
        ::close(fd);
    }
    return nodes;
}

// The open file of a device, shared with its effects; `gone` once the device has vanished.
struct DeviceFile
{
    int fd = -1;
    bool writable = false;
    bool gone = false;
    QSet<qint16> effects;

    ~DeviceFile()
    {
        if (fd >= 0)
            ::close(fd);
    }

    InputResult fail(int error)
    {
        if (error == ENODEV)
            gone = true;
        return evdev::resultFromErrno(error);
    }

    InputResult writeEvent(quint16 type, quint16 code, qint32 value)
    {
        if (gone)
            return InputError::InputLost;
        if (!writable)
            return InputError::AccessDenied;
        input_event event{};
        event.type = type;
        event.code = code;
        event.value = value;
        if (::write(fd, &event, sizeof(event)) != ssize_t(sizeof(event)))
            return fail(errno);
        return InputError::Ok;
    }
};

class EvdevEffect : public InputEffectHandle
{
public:
    EvdevEffect(std::shared_ptr<DeviceFile> file, InputEffectType type,
                const InputEffectParams &params)
        : m_file(std::move(file)), m_type(type), m_params(params)
    {
    }

    ~EvdevEffect() override
    {
        if (m_id < 0)
            return;
        stop();
        if (!m_file->gone)
            ::ioctl(m_file->fd, EVIOCRMFF, int(m_id));
        m_file->effects.remove(m_id);
    }

    InputResult upload()
    {
        if (m_file->gone)
            return InputError::InputLost;
        ff_effect effect = m_type == InputEffectType::ConstantForce
                               ? evdev::constantForceEffect(m_params.magnitude, m_params.gain, m_id)
                               : evdev::springEffect(m_params.condition, m_params.gain, m_id);
        if (::ioctl(m_file->fd, EVIOCSFF, &effect) < 0)
            return m_file->fail(errno);
        m_id = effect.id;
        m_file->effects.insert(m_id);
        return InputError::Ok;
    }

    InputResult setParameters(const InputEffectParams &params, quint32 which) override
    {
        if (which & InputEffectTypeSpecific) {
            m_params.magnitude = params.magnitude;
            m_params.condition = params.condition;
        }
        if (which & InputEffectGain)
            m_params.gain = params.gain;
        const InputResult result = upload();
        if (!inputSucceeded(result) || !(which & InputEffectStart))
            return result;
        return start(1, 0);
    }

    InputResult start(quint32 iterations, quint32 flags) override
    {
        Q_UNUSED(flags);
        return m_file->writeEvent(EV_FF, quint16(m_id),
                                  qint32(std::min<quint32>(iterations, 0x7FFFFFFF)));
    }

    InputResult stop() override { return m_file->writeEvent(EV_FF, quint16(m_id), 0); }

private:
    std::shared_ptr<DeviceFile> m_file;
    InputEffectType m_type;
    InputEffectParams m_params;
    qint16 m_id = -1;
};

class EvdevDevice : public InputDeviceHandle
{
public:
    EvdevDevice(const Node &node, std::shared_ptr<DeviceFile> file)
        : m_node(node), m_file(std::move(file)), m_layout(evdev::layoutFor(node.caps))
    {
        m_ranges.fill({0, InputAxisMaximum});
    }

    InputResult setJoystickFormat() override { return InputError::Ok; }

    // Other programs keep reading the device whatever the level; it only decides force feedback.
    InputResult setCooperativeLevel(InputWindowHandle window, quint32 flags) override
    {
        Q_UNUSED(window);
        if (m_acquired)
            return InputError::Failed;
        m_cooperation = flags;
        return InputError::Ok;
    }

    InputResult enumerateObjects(QList<InputObject> &objects) override
    {
        objects.clear();
        int instance = 0;
        const int actuator = ffbCapable() ? firstAxis() : -1;
        for (int axis = 0; axis < InputAxisCount; ++axis) {
            if (m_layout.axisCodes[size_t(axis)] < 0)
                continue;
            objects.append({InputObjectKind::Axis, axis, inputAxisOffset(axis),
                            inputObjectId(InputObjectKind::Axis, instance++), axis == actuator});
        }
        for (int b = 0; b < m_layout.buttonCodes.size(); ++b)
            objects.append({InputObjectKind::Button, b, inputButtonOffset(b),
                            inputObjectId(InputObjectKind::Button, b), false});
        for (int p = 0, instanceP = 0; p < InputPovCount; ++p) {
            if (m_layout.hats[size_t(p)])
                objects.append({InputObjectKind::Pov, p, inputPovOffset(p),
                                inputObjectId(InputObjectKind::Pov, instanceP++), false});
        }
        return InputError::Ok;
    }

    InputResult setAxisRange(quint32 objectId, qint32 minimum, qint32 maximum) override
    {
        QList<InputObject> objects;
        enumerateObjects(objects);
        for (const InputObject &object : std::as_const(objects)) {
            if (object.kind == InputObjectKind::Axis && object.id == objectId && minimum < maximum) {
                m_ranges[size_t(object.index)] = {minimum, maximum};
                return InputError::Ok;
            }
        }
        return InputError::InvalidParameter;
    }

    InputResult setAutoCenter(bool on) override
    {
        if (!m_node.caps.ff[FF_AUTOCENTER])
            return InputError::NotImplemented;
        return m_file->writeEvent(EV_FF, FF_AUTOCENTER, on ? 0xFFFF : 0);
    }

    InputResult acquire() override
    {
        if (m_file->gone)
            return InputError::Unplugged;
        const InputResult result = synchronise();
        if (!inputSucceeded(result))
            return m_file->gone ? InputError::Unplugged : result;
        m_acquired = true;
        return InputError::Ok;
    }

    InputResult unacquire() override
    {
        m_acquired = false;
        return InputError::Ok;
    }

    InputResult poll() override
    {
        if (m_file->gone)
            return InputError::InputLost;
        if (!m_acquired)
            return InputError::NotAcquired;
        bool dropped = false;
        input_event events[64];
        for (;;) {
            const ssize_t length = ::read(m_file->fd, events, sizeof(events));
            if (length < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN)
                    break;
                m_acquired = false;
                m_file->fail(errno);
                return InputError::InputLost;
            }
            if (length == 0) {
                m_acquired = false;
                m_file->gone = true;
                return InputError::InputLost;
            }
            const size_t count = size_t(length) / sizeof(input_event);
            for (size_t i = 0; i < count; ++i) {
                if (events[i].type == EV_SYN && events[i].code == SYN_DROPPED)
                    dropped = true;
                else if (events[i].type == EV_SYN && events[i].code == SYN_REPORT)
                    countReport();
                else
                    take(events[i]);
            }
        }
        // Events were lost: take the whole state from the kernel again.
        return dropped ? synchronise() : InputError::Ok;
    }

    InputResult getState(RawInputState &state) override
    {
        if (m_file->gone)
            return InputError::InputLost;
        if (!m_acquired)
            return InputError::NotAcquired;
        state = m_state;
        return InputError::Ok;
    }

    InputResult getCapabilities(InputCapabilities &capabilities) override
    {
        capabilities.numAxes = m_layout.numAxes();
        capabilities.numButtons = int(m_layout.buttonCodes.size());
        capabilities.numPovs = m_layout.numPovs();
        capabilities.forceFeedback = ffbCapable();
        return InputError::Ok;
    }

    InputResult getDeviceInfo(InputDeviceIdentity &identity) override
    {
        identity = m_node.identity;
        return InputError::Ok;
    }

    InputResult sendForceFeedbackCommand(InputFfCommand command) override
    {
        if (!ffbCapable())
            return InputError::NotImplemented;
        for (qint16 id : std::as_const(m_file->effects)) {
            const InputResult result = m_file->writeEvent(EV_FF, quint16(id), 0);
            if (!inputSucceeded(result))
                return result;
        }
        if (command == InputFfCommand::Reset && m_node.caps.ff[FF_GAIN])
            return m_file->writeEvent(EV_FF, FF_GAIN, 0xFFFF);
        return InputError::Ok;
    }

    InputResult createEffect(InputEffectType type, const InputEffectParams &params,
                             std::unique_ptr<InputEffectHandle> &effect) override
    {
        if (m_file->gone)
            return InputError::InputLost;
        if (!ffbCapable())
            return InputError::NotImplemented;
        if (!m_acquired || !(m_cooperation & InputExclusive))
            return InputError::NotAcquired;
        const int kernelType = type == InputEffectType::ConstantForce ? FF_CONSTANT : FF_SPRING;
        if (!m_node.caps.ff[size_t(kernelType)])
            return InputError::NotImplemented;
        if (!addressesActuator(params))
            return InputError::InvalidParameter;
        auto created = std::make_unique<EvdevEffect>(m_file, type, params);
        const InputResult result = created->upload();
        if (inputSucceeded(result))
            effect = std::move(created);
        return result;
    }

private:
    bool ffbCapable() const
    {
        return m_file->writable && m_node.caps.ff[FF_CONSTANT] && m_node.effectSlots > 0;
    }

    int firstAxis() const
    {
        if (m_layout.axisCodes[InputAxisX] >= 0)
            return InputAxisX;
        const auto it = std::find_if(m_layout.axisCodes.cbegin(), m_layout.axisCodes.cend(),
                                     [](int code) { return code >= 0; });
        return it == m_layout.axisCodes.cend() ? -1 : int(it - m_layout.axisCodes.cbegin());
    }

    // The kernel drives the wheel's own axis only; every addressed axis must be that one.
    bool addressesActuator(const InputEffectParams &params) const
    {
        const int axis = firstAxis();
        if (axis < 0 || params.axisCount < 1 || params.axisCount > 2)
            return false;
        int instance = 0;
        for (int a = 0; a < axis; ++a)
            instance += m_layout.axisCodes[size_t(a)] >= 0 ? 1 : 0;
        const quint32 address = (params.flags & InputEffectObjectIds)
                                    ? inputObjectId(InputObjectKind::Axis, instance)
                                    : inputAxisOffset(axis);
        return params.axes[0] == address;
    }

    InputResult synchronise()
    {
        for (int axis = 0; axis < InputAxisCount; ++axis) {
            const int code = m_layout.axisCodes[size_t(axis)];
            if (code >= 0 && !readAbs(code) && errno == ENODEV)
                return m_file->fail(errno);
        }
        for (int code = ABS_HAT0X; code <= ABS_HAT3Y; ++code) {
            if (m_node.caps.abs[size_t(code)] && !readAbs(code) && errno == ENODEV)
                return m_file->fail(errno);
        }
        unsigned char keys[(KEY_CNT + 7) / 8] = {};
        const int length = ::ioctl(m_file->fd, EVIOCGKEY(sizeof(keys)), keys);
        if (length < 0)
            return m_file->fail(errno);
        // Only the bytes the answer holds count: the rest of the buffer says nothing.
        std::bitset<KEY_CNT> down;
        evdev::setBits(down, keys, std::min(size_t(length), sizeof(keys)));
        for (int b = 0; b < m_layout.buttonCodes.size(); ++b)
            m_state.buttons[size_t(b)] = down[size_t(m_layout.buttonCodes.at(b))] ? 0x80 : 0x00;
        return InputError::Ok;
    }

    // An axis the device gives no range and value for keeps the last ones it had, at first the
    // whole raw range (a hat: -1..1, centred): the rest of the device still reads.
    bool readAbs(int code)
    {
        input_absinfo info{};
        if (::ioctl(m_file->fd, EVIOCGABS(code), &info) < 0) {
            auto &range = m_absRange[size_t(code)];
            if (range.second <= range.first)
                range = evdev::hatForCode(code) >= 0 ? std::pair<qint32, qint32>(-1, 1)
                                                     : std::pair<qint32, qint32>(0, InputAxisMaximum);
            return false;
        }
        m_absRange[size_t(code)] = {info.minimum, info.maximum};
        apply(EV_ABS, quint16(code), info.value);
        return true;
    }

    // The kernel sends only what changed, so a report carries just the axes that moved.
    void take(const input_event &event)
    {
        apply(event.type, event.code, event.value);
        const int axis = event.type == EV_ABS ? m_layout.axisForCode(event.code) : -1;
        if (axis >= 0)
            m_inReport[size_t(axis)] = true;
    }

    void countReport()
    {
        for (size_t axis = 0; axis < m_inReport.size(); ++axis) {
            if (m_inReport[axis])
                ++m_state.axisReports[axis];
        }
        m_inReport.fill(false);
    }

    void apply(quint16 type, quint16 code, qint32 value)
    {
        if (type == EV_KEY) {
            const int button = m_layout.buttonForCode(code);
            if (button >= 0)
                m_state.buttons[size_t(button)] = value ? 0x80 : 0x00;
            return;
        }
        if (type != EV_ABS || code >= ABS_CNT)
            return;
        m_absValue[code] = value;
        const auto [minimum, maximum] = m_absRange[code];
        const int axis = m_layout.axisForCode(code);
        if (axis >= 0) {
            const auto [low, high] = m_ranges[size_t(axis)];
            m_state.axes[size_t(axis)] = evdev::scaleAxis(value, minimum, maximum, low, high);
            return;
        }
        const int hat = evdev::hatForCode(code);
        if (hat < 0)
            return;
        const auto direction = [this](int hatCode) {
            const auto [low, high] = m_absRange[size_t(hatCode)];
            return evdev::hatDirection(m_absValue[size_t(hatCode)], low, high);
        };
        const int xCode = ABS_HAT0X + hat * 2;
        m_state.povs[size_t(hat)] = evdev::hatAngle(direction(xCode), direction(xCode + 1));
    }

    Node m_node;
    std::shared_ptr<DeviceFile> m_file;
    evdev::Layout m_layout;
    std::array<std::pair<qint32, qint32>, InputAxisCount> m_ranges;
    std::array<std::pair<qint32, qint32>, ABS_CNT> m_absRange{};
    std::array<qint32, ABS_CNT> m_absValue{};
    RawInputState m_state;
    std::array<bool, InputAxisCount> m_inReport{}; // axes the report being read has carried
    bool m_acquired = false;
    quint32 m_cooperation = 0;
};

class EvdevContext : public InputContext
{
public:
    QList<InputDeviceIdentity> enumerateDevices() override
    {
        QList<InputDeviceIdentity> list;
        for (const Node &node : scanNodes())
            list.append(node.identity);
        return list;
    }

    InputResult createDevice(const QUuid &instanceGuid,
                             std::unique_ptr<InputDeviceHandle> &device) override
    {
        for (const Node &node : scanNodes()) {
            if (node.identity.instanceGuid != instanceGuid)
                continue;
            auto file = std::make_shared<DeviceFile>();
            file->fd = openNode(node.path, &file->writable);
            if (file->fd < 0)
                return evdev::resultFromErrno(errno);
            device = std::make_unique<EvdevDevice>(node, std::move(file));
            return InputError::Ok;
        }
        return InputError::DeviceNotFound;
    }
};

} // namespace

std::unique_ptr<InputContext> EvdevInputBackend::createContext()
{
    return std::make_unique<EvdevContext>();
}

} // namespace corvane
