#include <QTest>

#include "platform/input/virtualinputbackend.h"
#include "support/testenvironment.h"

using namespace corvane;

class TestVirtualInputBackend : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_context.reset();
        m_input = VirtualInputBackend::instance();
        QVERIFY(m_input);
        m_input->reset();
        m_context = m_input->createContext();
    }

    void cleanupTestCase() { m_context.reset(); }

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
        VirtualInputDevice *sameName = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
        const QList<InputDeviceIdentity> list = m_context->enumerateDevices();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).instanceName + "/" + list.at(0).productName, QStringLiteral("MOZA R9 Base/MOZA R9"));
        QCOMPARE(list.at(0).productGuid, inputProductGuid(0x346e, 0x0006));
        QCOMPARE(list.at(0).instanceGuid, wheel->spec().instanceGuid);
        // Devices of one name still get their own instance.
        QVERIFY(!sameName->spec().instanceGuid.isNull() && sameName->spec().instanceGuid != wheel->spec().instanceGuid);
        m_input->setContextFailure(true);
        QVERIFY(!m_input->createContext());
    }

    void unplugAndReplug()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel")));
        auto handle = open(device);
        QCOMPARE(handle->poll(), InputError::NotAcquired);
        QVERIFY(inputSucceeded(handle->acquire()));

        device->unplug();
        QVERIFY(m_context->enumerateDevices().isEmpty());
        QCOMPARE(handle->poll(), InputError::InputLost);
        RawInputState state;
        QCOMPARE(handle->getState(state), InputError::InputLost);
        QCOMPARE(handle->acquire(), InputError::Unplugged);

        device->replug();
        QCOMPARE(m_context->enumerateDevices().size(), 1);
        // The acquisition was lost with the device: it must be taken again.
        QCOMPARE(handle->poll(), InputError::NotAcquired);
        QVERIFY(inputSucceeded(handle->acquire()) && inputSucceeded(handle->poll()));
    }

    void exclusiveIsSingle()
    {
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("G29"), 8, 32, 1, true));
        auto first = open(device);
        auto second = open(device);
        QVERIFY(inputSucceeded(first->setCooperativeLevel(0, InputExclusive | InputBackground)));
        QVERIFY(inputSucceeded(first->acquire()));
        QVERIFY(inputSucceeded(second->setCooperativeLevel(0, InputExclusive | InputBackground)));
        QCOMPARE(second->acquire(), InputError::AccessDenied);
        first.reset();
        QVERIFY(inputSucceeded(second->acquire()));
        QVERIFY(device->isAcquiredExclusively());
    }

    void effectsNeedExclusiveFfb_data()
    {
        QTest::addColumn<bool>("ffb");
        QTest::addColumn<quint32>("level");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<InputResult>("expected");
        const quint32 exclusive = InputExclusive | InputBackground;
        QTest::newRow("exclusive, X") << true << exclusive << inputAxisOffset(InputAxisX) << InputError::Ok;
        QTest::newRow("not an actuator") << true << exclusive << inputAxisOffset(InputAxisY)
                                         << InputError::InvalidParameter;
        QTest::newRow("shared access") << true << quint32(InputNonExclusive | InputBackground)
                                       << inputAxisOffset(InputAxisX) << InputError::NotAcquired;
        QTest::newRow("no force feedback") << false << exclusive << inputAxisOffset(InputAxisX)
                                           << InputError::NotImplemented;
    }

    void effectsNeedExclusiveFfb()
    {
        QFETCH(bool, ffb);
        QFETCH(quint32, level);
        QFETCH(quint32, address);
        QFETCH(InputResult, expected);
        VirtualInputDevice *device = m_input->addDevice(VirtualDeviceSpec(QStringLiteral("Wheel"), 8, 32, 1, ffb));
        auto handle = open(device);
        QVERIFY(inputSucceeded(handle->setCooperativeLevel(0, level)) && inputSucceeded(handle->acquire()));
        InputEffectParams params;
        params.flags = InputEffectObjectOffsets | InputEffectCartesian;
        params.axisCount = 1;
        params.axes = {address, 0};
        std::unique_ptr<InputEffectHandle> effect;
        QCOMPARE(handle->createEffect(InputEffectType::ConstantForce, params, effect), expected);
        QCOMPARE(device->effects().size(), inputSucceeded(expected) ? 1 : 0);
    }

private:
    std::unique_ptr<InputDeviceHandle> open(const VirtualInputDevice *device)
    {
        std::unique_ptr<InputDeviceHandle> handle;
        return inputSucceeded(m_context->createDevice(device->spec().instanceGuid, handle)) ? std::move(handle)
                                                                                              : nullptr;
    }

    VirtualInputBackend *m_input = nullptr;
    std::unique_ptr<InputContext> m_context;
};

OSTRA_TEST_MAIN_CORE(TestVirtualInputBackend)
#include "tst_virtualinputbackend.moc"
