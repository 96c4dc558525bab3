#include <QTest>

#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"

using namespace corvane;

namespace {

std::unique_ptr<InputContext> g_context;

// A handle on the device through the test's context.
std::unique_ptr<InputDeviceHandle> openDevice(const VirtualInputDevice *device)
{
    if (!g_context)
        g_context = VirtualInputBackend::instance()->createContext();
    std::unique_ptr<InputDeviceHandle> handle;
    if (!inputSucceeded(g_context->createDevice(device->spec().instanceGuid, handle)))
        return nullptr;
    return handle;
}

InputEffectParams atX(quint32 flags = InputEffectObjectOffsets | InputEffectCartesian)
{
    InputEffectParams params;
    params.flags = flags;
    params.axisCount = 1;
    params.axes = {inputAxisOffset(InputAxisX), 0};
    return params;
}

} // namespace

class TestVirtualInputBackend : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { g_context.reset(); }

    void init()
    {
        g_context.reset();
        m_input = VirtualInputBackend::instance();
        QVERIFY(m_input);
        m_input->reset();
    }

    void chosenByEnvironment()
    {
        QCOMPARE(qEnvironmentVariable("OSTRA_INPUT_BACKEND"), QStringLiteral("virtual"));
        QCOMPARE(static_cast<InputBackend *>(m_input), InputBackend::instance());
    }

    void enumeration()
    {
        VirtualDeviceSpec wheelSpec(QStringLiteral("MOZA R9 Base"), 8, 32, 1, true);
        wheelSpec.productName = QStringLiteral("MOZA R9");
        wheelSpec.vendorId = 0x346e;
        wheelSpec.productId = 0x0006;
        VirtualInputDevice *wheel = m_input->addDevice(wheelSpec);
        VirtualDeviceSpec pedalSpec(QStringLiteral("Pedals"), 3, 0, 0);
        pedalSpec.instanceGuid = QUuid::fromString(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
        VirtualInputDevice *pedals = m_input->addDevice(pedalSpec);
        VirtualInputDevice *sameName = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Pedals")));

        auto context = m_input->createContext();
        QCOMPARE(m_input->liveContexts(), 1);
        const QList<InputDeviceIdentity> list = context->enumerateDevices();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(0).instanceName + "/" + list.at(0).productName + "/" + list.at(1).productName,
                 QStringLiteral("MOZA R9 Base/MOZA R9/Pedals"));
        QCOMPARE(list.at(0).productGuid, inputProductGuid(0x346e, 0x0006));
        QCOMPARE(list.at(0).instanceGuid, wheel->spec().instanceGuid);
        QCOMPARE(list.at(1).instanceGuid, pedalSpec.instanceGuid);
        // Devices of one name still get their own instance.
        const QUuid other = sameName->spec().instanceGuid;
        QVERIFY(!other.isNull() && other != wheel->spec().instanceGuid && other != pedalSpec.instanceGuid);
        QVERIFY(m_input->device(1) == pedals && !m_input->device(3) && !m_input->device(-1));
        QVERIFY(m_input->findDevice(pedalSpec.instanceGuid) == pedals && !m_input->findDevice(QUuid()));
        context.reset();
        QCOMPARE(m_input->liveContexts(), 0);
        m_input->setContextFailure(true);
        QVERIFY(!m_input->createContext());
    }

    // Counts beyond the layout are cut; axes come in the layout's order.
    void objectsFollowCounts()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Device"), 12, 300, 9, true));
        auto handle = openDevice(device);
        QVERIFY(handle);
        InputCapabilities caps;
        QVERIFY(inputSucceeded(handle->getCapabilities(caps)));
        QVERIFY(caps.numAxes == 8 && caps.numButtons == InputButtonCount && caps.numPovs == InputPovCount
                && caps.forceFeedback);

        QList<InputObject> objects;
        QVERIFY(inputSucceeded(handle->enumerateObjects(objects)));
        QList<int> seenAxes;
        QSet<quint32> ids;
        for (const InputObject &object : std::as_const(objects)) {
            ids.insert(object.id);
            if (object.kind == InputObjectKind::Axis) {
                seenAxes.append(object.index);
                QCOMPARE(object.offset, inputAxisOffset(object.index));
                QCOMPARE(object.ffActuator, object.index == InputAxisX);
            }
        }
        QCOMPARE(seenAxes, (QList<int>{0, 4, 5, 1, 2, 3, 6, 7}));
        QCOMPARE(ids.size(), objects.size());

        // Present axes (the first three of the layout) rest at their centre, absent ones at 0.
        VirtualInputDevice *pedals = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Pedals"), 3, 0, 0));
        auto pedalHandle = openDevice(pedals);
        QVERIFY(inputSucceeded(pedalHandle->acquire()));
        RawInputState state;
        QVERIFY(inputSucceeded(pedalHandle->getState(state)));
        for (int i = 0; i < InputAxisCount; ++i)
            QCOMPARE(state.axes[size_t(i)], QList<int>({0, 4, 5}).contains(i) ? 32767 : 0);
    }

    void readsNeedAcquire()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Stick")));
        auto handle = openDevice(device);
        RawInputState state;
        QCOMPARE(handle->poll(), InputError::NotAcquired);
        QCOMPARE(handle->getState(state), InputError::NotAcquired);
        QVERIFY(inputSucceeded(handle->acquire()));
        QVERIFY(device->isAcquired());
        QVERIFY(inputSucceeded(handle->poll()));
        QVERIFY(inputSucceeded(handle->getState(state)));
        // The level cannot change while acquired.
        QVERIFY(!inputSucceeded(handle->setCooperativeLevel(0, InputExclusive | InputBackground)));
        QVERIFY(inputSucceeded(handle->unacquire()));
        QVERIFY(!device->isAcquired());
        QCOMPARE(handle->poll(), InputError::NotAcquired);
        QCOMPARE(device->pollCount(), 3);
    }

    void unplugAndReplug()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
        auto handle = openDevice(device);
        QVERIFY(inputSucceeded(handle->acquire()));

        device->unplug();
        QVERIFY(!device->isPlugged());
        QVERIFY(!device->isAcquired());
        QVERIFY(g_context->enumerateDevices().isEmpty());
        std::unique_ptr<InputDeviceHandle> second;
        QCOMPARE(g_context->createDevice(device->spec().instanceGuid, second), InputError::DeviceNotFound);
        QCOMPARE(handle->poll(), InputError::InputLost);
        RawInputState state;
        QCOMPARE(handle->getState(state), InputError::InputLost);
        QCOMPARE(handle->acquire(), InputError::Unplugged);

        device->replug();
        QCOMPARE(g_context->enumerateDevices().size(), 1);
        // The acquisition was lost with the device: it must be taken again.
        QCOMPARE(handle->poll(), InputError::NotAcquired);
        QVERIFY(inputSucceeded(handle->acquire()));
        QVERIFY(inputSucceeded(handle->poll()));
    }

    void exclusiveIsSingle()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("G29"), 8, 32, 1, true));
        auto first = openDevice(device);
        auto second = openDevice(device);
        QVERIFY(inputSucceeded(first->setCooperativeLevel(0, InputExclusive | InputBackground)));
        QVERIFY(inputSucceeded(first->acquire()));
        QVERIFY(device->isAcquiredExclusively());

        QVERIFY(inputSucceeded(second->setCooperativeLevel(0, InputExclusive | InputBackground)));
        QCOMPARE(second->acquire(), InputError::AccessDenied);
        QVERIFY(inputSucceeded(second->setCooperativeLevel(0, InputNonExclusive | InputBackground)));
        QVERIFY(inputSucceeded(second->acquire()));

        first.reset();
        QVERIFY(!device->isAcquiredExclusively());
        QVERIFY(device->isAcquired());
        QVERIFY(inputSucceeded(second->unacquire()));
        QVERIFY(inputSucceeded(second->setCooperativeLevel(0, InputExclusive | InputForeground)));
        QVERIFY(inputSucceeded(second->acquire()));
        QVERIFY(device->isAcquiredExclusively());
    }

    void effectsNeedExclusiveFfb_data()
    {
        QTest::addColumn<bool>("ffb");
        QTest::addColumn<quint32>("level");
        QTest::addColumn<bool>("acquire");
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<InputResult>("expected");

        const quint32 offsets = InputEffectObjectOffsets | InputEffectCartesian;
        const quint32 ids = InputEffectObjectIds | InputEffectCartesian;
        const quint32 exclusive = InputExclusive | InputBackground;
        const quint32 shared = InputNonExclusive | InputBackground;
        QTest::newRow("exclusive, X by offset") << true << exclusive << true << offsets << 0u << InputError::Ok;
        QTest::newRow("exclusive, X by id") << true << exclusive << true << ids
                                            << inputObjectId(InputObjectKind::Axis, 0) << InputError::Ok;
        QTest::newRow("not an actuator") << true << exclusive << true << offsets
                                         << inputAxisOffset(InputAxisY) << InputError::InvalidParameter;
        QTest::newRow("shared access") << true << shared << true << offsets << 0u << InputError::NotAcquired;
        QTest::newRow("not acquired") << true << exclusive << false << offsets << 0u << InputError::NotAcquired;
        QTest::newRow("no force feedback") << false << exclusive << true << offsets << 0u << InputError::NotImplemented;
    }

    void effectsNeedExclusiveFfb()
    {
        QFETCH(bool, ffb);
        QFETCH(quint32, level);
        QFETCH(bool, acquire);
        QFETCH(quint32, flags);
        QFETCH(quint32, address);
        QFETCH(InputResult, expected);
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel"), 8, 32, 1, ffb));
        auto handle = openDevice(device);
        QVERIFY(inputSucceeded(handle->setCooperativeLevel(0, level)));
        if (acquire)
            QVERIFY(inputSucceeded(handle->acquire()));
        InputEffectParams params = atX(flags);
        params.axes[0] = address;
        std::unique_ptr<InputEffectHandle> effect;
        QCOMPARE(handle->createEffect(InputEffectType::ConstantForce, params, effect), expected);
        QCOMPARE(bool(effect), inputSucceeded(expected));
        QCOMPARE(device->effects().size(), inputSucceeded(expected) ? 1 : 0);
    }

    void effectLifecycle()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel"), 8, 32, 1, true));
        auto handle = openDevice(device);
        QVERIFY(inputSucceeded(handle->setCooperativeLevel(0, InputExclusive | InputBackground)));
        QVERIFY(inputSucceeded(handle->acquire()));
        QVERIFY(device->autoCenter());
        QVERIFY(inputSucceeded(handle->setAutoCenter(false)));
        QVERIFY(!device->autoCenter());

        std::unique_ptr<InputEffectHandle> force;
        std::unique_ptr<InputEffectHandle> spring;
        QVERIFY(inputSucceeded(handle->createEffect(InputEffectType::ConstantForce, atX(), force)));
        QVERIFY(inputSucceeded(handle->createEffect(InputEffectType::Spring, atX(), spring)));
        QVERIFY(!device->effect(InputEffectType::ConstantForce)->playing);

        InputEffectParams params;
        params.magnitude = -2500;
        params.gain = 1234; // not part of a type-specific change
        QVERIFY(inputSucceeded(force->setParameters(params, InputEffectTypeSpecific | InputEffectStart)));
        auto played = device->effect(InputEffectType::ConstantForce);
        QVERIFY(played && played->playing && played->params.magnitude == -2500
                && played->params.gain == InputForceMaximum);

        params.gain = 4000;
        QVERIFY(inputSucceeded(spring->setParameters(params, InputEffectGain)));
        QVERIFY(inputSucceeded(spring->start(1, 0)));
        QCOMPARE(device->effect(InputEffectType::Spring)->params.gain, 4000u);
        QCOMPARE(device->calls(VirtualInputStep::StartEffect).value(0).flags, 1u);

        QVERIFY(inputSucceeded(handle->sendForceFeedbackCommand(InputFfCommand::Reset)));
        QVERIFY(!device->effect(InputEffectType::Spring)->playing
                && !device->effect(InputEffectType::ConstantForce)->playing);

        device->unplug();
        QCOMPARE(force->setParameters(params, InputEffectTypeSpecific), InputError::InputLost);
        device->replug();

        force.reset();
        QVERIFY(device->effects().size() == 1 && !device->effect(InputEffectType::ConstantForce));
        QCOMPARE(device->callCount(VirtualInputStep::ReleaseEffect), 1);
    }

    void resetDetachesOpenHandles()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
        auto handle = openDevice(device);
        QVERIFY(inputSucceeded(handle->acquire()));
        m_input->reset();
        QVERIFY(m_input->devices().isEmpty());
        QVERIFY(g_context->enumerateDevices().isEmpty());
        // The open handle keeps working memory but reads as a lost device.
        QCOMPARE(handle->poll(), InputError::InputLost);
        QCOMPARE(handle->acquire(), InputError::Unplugged);
    }

private:
    VirtualInputBackend *m_input = nullptr;
};

OSTRA_TEST_MAIN_CORE(TestVirtualInputBackend)
#include "tst_virtualinputbackend.moc"
