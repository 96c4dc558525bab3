#include "bridge/inputdevice.h"

#include <QDebug>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

QString resultText(InputResult result)
{
    return QStringLiteral("%1").arg(quint32(result), 8, 16, QLatin1Char('0')).toUpper();
}

struct Variant
{
    const char *name;
    quint32 flags;
    int axisCount;
    std::array<quint32, 2> axes;
};

constexpr quint32 kByOffsets = InputEffectObjectOffsets | InputEffectCartesian;
constexpr quint32 kByIds = InputEffectObjectIds | InputEffectCartesian;

} // namespace

InputEffectParams InputDevice::addressedParams(quint32 flags, int axisCount,
                                               const std::array<quint32, 2> &axes) const
{
    InputEffectParams params;
    params.flags = flags;
    params.duration = InputInfiniteDuration;
    params.samplePeriod = 0;
    params.gain = InputForceMaximum;
    params.triggerButton = InputNoTrigger;
    params.startDelay = 0;
    params.axisCount = axisCount;
    params.axes = axes;
    params.direction = axisCount == 2 ? std::array<qint32, 2>{1, 0} : std::array<qint32, 2>{0, 0};
    return params;
}

int InputDevice::enumerateFfbAxes()
{
    m_ffbAxisCount = 0;
    m_ffbAxisOffsets.fill(0);
    m_ffbAxisIds.fill(0);
    QList<InputObject> objects;
    m_device->enumerateObjects(objects);
    for (const InputObject &object : std::as_const(objects)) {
        if (object.kind != InputObjectKind::Axis || !object.ffActuator)
            continue;
        if (m_ffbAxisCount < 2) {
            m_ffbAxisOffsets[size_t(m_ffbAxisCount)] = object.offset;
            m_ffbAxisIds[size_t(m_ffbAxisCount)] = object.id;
        }
        ++m_ffbAxisCount;
    }
    return m_ffbAxisCount;
}

void InputDevice::acquireExclusive(InputWindowHandle window)
{
    if (!m_device)
        return;
    m_device->unacquire();
    if (inputSucceeded(m_device->setCooperativeLevel(window, InputExclusive | InputBackground))
        && inputSucceeded(m_device->acquire())) {
        m_exclusive = true;
        return;
    }
    acquireShared(window);
}

void InputDevice::acquireShared(InputWindowHandle window)
{
    m_exclusive = false;
    m_device->setCooperativeLevel(window, InputNonExclusive | InputBackground);
    m_device->acquire();
}

bool InputDevice::probeForceFeedback()
{
    if (!m_device || !m_hasFfb)
        return false;
    const InputWindowHandle window = s_windowHandle;

    struct Mode
    {
        const char *name;
        quint32 flags;
    };
    static constexpr Mode modes[] = {{"bg", InputExclusive | InputBackground},
                                     {"fg", InputExclusive | InputForeground}};

    QStringList parts;
    InputResult last = InputError::Ok;
    bool created = false;
    for (const Mode &mode : modes) {
        const QString modeName = QLatin1String(mode.name);
        m_device->unacquire();
        last = m_device->setCooperativeLevel(window, mode.flags);
        if (inputSucceeded(last))
            last = m_device->acquire();
        if (!inputSucceeded(last)) {
            parts << QStringLiteral("acq:%1=0x%2").arg(modeName, resultText(last));
            continue;
        }
        m_exclusive = true;
        m_device->setAutoCenter(false);
        m_device->sendForceFeedbackCommand(InputFfCommand::Reset);

        if (enumerateFfbAxes() == 0) {
            parts << QStringLiteral("%1:noaxis").arg(modeName);
            continue;
        }
        QList<Variant> variants{
            {"X/offset", kByOffsets, 1, {inputAxisOffset(InputAxisX), 0}},
            {"enum0/offset", kByOffsets, 1, {m_ffbAxisOffsets[0], 0}},
            {"enum0/id", kByIds, 1, {m_ffbAxisIds[0], 0}},
        };
        if (m_ffbAxisCount >= 2) {
            variants.append({"enum2/offset", kByOffsets, 2, m_ffbAxisOffsets});
            variants.append({"enum2/id", kByIds, 2, m_ffbAxisIds});
        }
        parts << QStringLiteral("%1 axes=%2 ofs=[%3,%4]")
                     .arg(modeName)
                     .arg(m_ffbAxisCount)
                     .arg(m_ffbAxisOffsets[0])
                     .arg(m_ffbAxisOffsets[1]);

        for (const Variant &variant : std::as_const(variants)) {
            const QString variantName = QLatin1String(variant.name);
            InputEffectParams params = addressedParams(variant.flags, variant.axisCount, variant.axes);
            params.magnitude = 0;
            std::unique_ptr<InputEffectHandle> effect;
            last = m_device->createEffect(InputEffectType::ConstantForce, params, effect);
            parts << QStringLiteral("%1=0x%2").arg(variantName, resultText(last));
            if (inputSucceeded(last) && effect) {
                m_constantForce = std::move(effect);
                m_probedValid = true;
                m_probedFlags = variant.flags;
                m_probedAxisCount = variant.axisCount;
                m_probedAxes = variant.axes;
                parts << QStringLiteral("OK via %1/%2").arg(modeName, variantName);
                created = true;
                break;
            }
        }
        if (created)
            break;
    }

    if (!created) {
        // Plain input must keep working without force feedback.
        m_device->unacquire();
        acquireShared(window);
    }

    m_probeResult = last;
    m_probeDiag = parts.join(QLatin1String("  "));
    qDebug().noquote() << "[FFB]" << m_productName << m_probeDiag;

    if (created && !m_springActive)
        setCentering(m_centeringStrength);
    return created;
}

bool InputDevice::setForceFeedback(float strength)
{
    if (!m_device || !m_hasFfb)
        return false;
    if (!m_constantForce && !probeForceFeedback())
        return false;
    // A NaN from upstream must not become an undefined magnitude.
    const float clamped = std::isnan(strength) ? 0.0f : std::clamp(strength, -1.0f, 1.0f);
    InputEffectParams params;
    params.magnitude = qint32(clamped * float(InputForceMaximum));
    m_forcePlaying = inputSucceeded(
        m_constantForce->setParameters(params, InputEffectTypeSpecific | InputEffectStart));
    return m_forcePlaying;
}

void InputDevice::stopForceFeedback()
{
    if (m_constantForce && m_forcePlaying)
        m_constantForce->stop();
    m_forcePlaying = false;
}

bool InputDevice::setCentering(float strength)
{
    if (!m_device || !m_hasFfb)
        return false;
    if (!m_spring) {
        m_device->setAutoCenter(false);
        InputEffectParams params;
        if (m_probedValid) {
            params = addressedParams(m_probedFlags, m_probedAxisCount, m_probedAxes);
        } else {
            if (enumerateFfbAxes() == 0)
                return false;
            params = addressedParams(kByOffsets, 1, {m_ffbAxisOffsets[0], 0});
        }
        params.condition.offset = 0;
        params.condition.positiveCoefficient = InputForceMaximum;
        params.condition.negativeCoefficient = InputForceMaximum;
        params.condition.positiveSaturation = InputForceMaximum;
        params.condition.negativeSaturation = InputForceMaximum;
        params.condition.deadBand = 0;
        std::unique_ptr<InputEffectHandle> spring;
        if (!inputSucceeded(m_device->createEffect(InputEffectType::Spring, params, spring)) || !spring)
            return false;
        m_spring = std::move(spring);
    }

    const float clamped = std::isnan(strength) ? 0.0f : std::clamp(strength, 0.0f, 1.0f);
    m_centeringStrength = clamped;
    InputEffectParams gain;
    gain.gain = quint32(clamped * float(InputForceMaximum));
    m_spring->setParameters(gain, InputEffectGain);
    if (!inputSucceeded(m_spring->start(1, 0)))
        return false;
    m_springActive = true;
    return true;
}

void InputDevice::stopCentering()
{
    if (m_spring && m_springActive)
        m_spring->stop();
    m_springActive = false;
}

void InputDevice::setAutoCenter(float strength)
{
    if (m_device)
        m_device->setAutoCenter(strength > 0.0f);
}

FfbStatus InputDevice::ffbStatus()
{
    FfbStatus status;
    status.enumerated = isConnected();
    status.ffbCapable = m_hasFfb;
    if (status.ffbCapable && !m_exclusive)
        acquireExclusive(s_windowHandle);
    status.exclusive = m_exclusive;
    if (!status.ffbCapable)
        return status;

    status.hasFfbAxis = enumerateFfbAxes() > 0;
    status.constantForce = m_constantForce || probeForceFeedback();
    if (!status.constantForce) {
        status.errorCode = m_probeResult;
        status.diag = m_probeDiag;
    }
    return status;
}

} // namespace corvane
