// Writes the seed corpora and the API dictionary into the folder given (fuzz/ of the checkout):
// the bytes the simulated transmitter and receiver really send while the program talks to them,
// the documents the profile store writes, and a request for every event the API serves.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstdio>

#include "api/websocketserver.h"
#include "api/wshandler.h"
#include "api/apihandlers.h"
#include "bridge/crsfprotocol.h"
#include "bridge/elrsparametermanager.h"
#include "bridge/receiverrig.h"
#include "fuzzhost.h"
#include "support/wsclientframe.h"

namespace {

QString outDir;

void write(const QString &target, const QString &name, const QByteArray &bytes)
{
    const QString folder = outDir + QStringLiteral("/corpus/") + target;
    QDir().mkpath(folder);
    QFile file(folder + QLatin1Char('/') + name);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// Runs the event loop until `done` or ten seconds.
bool until(ostratest::SimulatedTransmitter &tx, const std::function<bool()> &done)
{
    return tx.waitFor(done);
}

void transmitterSeeds()
{
    ostratest::ReceiverRig rig;
    QByteArray raw;
    QObject::connect(rig.controller.get(), &corvane::CorvaneController::telemetryReceived,
                     [&raw](const QByteArray &bytes) { raw += bytes; });
    rig.tx.setFields(ostratest::SimulatedTransmitter::typicalFields());

    rig.openTransmitter();
    until(rig.tx, [&] { return raw.contains("QOR-ID:"); });
    write("transmitter_stream", "id-answer", QByteArray(1, '\x07') + raw);

    raw.clear();
    rig.controller->startConfigMode();
    rig.controller->elrsParameterManager()->startDiscovery();
    until(rig.tx, [&] { return raw.contains("WALK: done"); });
    rig.controller->stopConfigMode();
    write("transmitter_stream", "parameter-walk", QByteArray(1, '\x21') + raw);

    raw.clear();
    rig.tx.sendLinkStatistics(-60, -62, 100, 9);
    rig.tx.sendBattery(7.4, 2.5, 850, 76);
    rig.tx.sendGps(48.137, 11.575, 32.5, 270.0, 520, 9);
    rig.tx.sendAttitude(0.1, -0.2, 1.5);
    rig.tx.sendGForce(0.3, -0.1, 1.0);
    rig.tx.sendWrappedGForce(0.2, 0.4, 0.9);
    until(rig.tx, [&] { return raw.size() >= 90; });
    write("transmitter_stream", "telemetry", QByteArray(1, '\x33') + raw);
    write("crsf_stream", "telemetry", QByteArray(1, '\x33') + raw);
    for (int seed = 0; seed < 4; ++seed)
        write("crsf_stream", QStringLiteral("telemetry-chunked-%1").arg(seed), QByteArray(1, char(seed * 61)) + raw);
}

void receiverSeeds()
{
    ostratest::ReceiverRig rig;
    QByteArray usb;
    QObject::connect(rig.controller.get(), &corvane::CorvaneController::receiverDataReceived,
                     [&usb](const QString &line) { usb += ostrafuzz::record(0, line.toUtf8() + "\r\n"); });
    rig.syncOverUsb();
    write("receiver_lines", "usb-sync", usb);

    QByteArray air;
    QByteArray raw;
    QObject::connect(rig.controller.get(), &corvane::CorvaneController::telemetryReceived,
                     [&raw](const QByteArray &bytes) { raw += bytes; });
    QObject::connect(rig.controller.get(), &corvane::CorvaneController::crsfFrameReceived,
                     [&air](quint8 type, const QByteArray &payload) {
                         if (type == corvane::CrsfProtocol::FrameDeviceInfo)
                             air += ostrafuzz::record(1, payload);
                         else if (type == corvane::CrsfProtocol::FrameParameterEntry)
                             air += ostrafuzz::record(2, payload);
                     });
    rig.controller->disconnectReceiver();
    rig.startOverAir();
    rig.syncOverAir();
    write("receiver_lines", "over-the-air", air);
    write("crsf_stream", "over-the-air", QByteArray(1, '\x05') + raw);
}

void profileSeeds()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/profiles");
    QDir(folder).removeRecursively();
    {
        corvane::ProfileManager store;
        store.createEscPreset(QStringLiteral("Crawler"), 1500, 2000, 1000);
        store.saveUserPreset(QStringLiteral("axis"), QStringLiteral("Soft"), QJsonObject {{QStringLiteral("expo"), 0.3}});
        store.switchVehicleType(QStringLiteral("rc_helicopter"), QStringLiteral("Heli"));
    }
    QByteArray all;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        quint8 kind = 0;
        if (info.fileName() == QLatin1String("config.json"))
            kind = 1;
        else if (info.fileName() == QLatin1String("esc_presets.json"))
            kind = 2;
        else if (info.fileName() == QLatin1String("user_presets.json"))
            kind = 3;
        QString name = info.completeBaseName();
        if (kind == 0)
            name = bytes.contains("rc_helicopter") ? QStringLiteral("helicopter-profile") : QStringLiteral("car-profile");
        write("profile_documents", name, ostrafuzz::record(kind, bytes));
        all += ostrafuzz::record(kind, bytes);
    }
    write("profile_documents", "whole-folder", all);
}

void apiSeeds()
{
    ostratest::TransmitRig rig;
    corvane::WebSocketServer server(rig.controller.get());
    corvane::registerApiHandlers(&server, rig.controller.get());
    QStringList events {QStringLiteral("ping"), QStringLiteral("action_subscribe"), QStringLiteral("action_unsubscribe")};
    for (corvane::WsHandler *handler : server.findChildren<corvane::WsHandler *>())
        events += handler->supportedEvents();
    events.removeDuplicates();
    events.sort();
    QByteArray dictionary = "# The API's event names and the envelope's keys.\n\"event\"\n\"data\"\n\"events\"\n";
    for (const QString &event : std::as_const(events)) {
        const QJsonObject request {{QStringLiteral("event"), event}, {QStringLiteral("data"), QJsonObject()}};
        write("websocket_api", event, QJsonDocument(request).toJson(QJsonDocument::Compact));
        dictionary += '"' + event.toUtf8() + "\"\n";
    }
    // The keys and words the handlers read and answer with, as their sources spell them: without
    // them a request rarely gets past "missing parameter".
    QStringList words;
    static const QRegularExpression literal(QStringLiteral("(?:QStringLiteral|QLatin1String)\\(\"([A-Za-z_][A-Za-z0-9_]*)\"\\)"));
    const QDir api(outDir + QStringLiteral("/../api"));
    for (const QFileInfo &source : api.entryInfoList({QStringLiteral("*.cpp")}, QDir::Files, QDir::Name)) {
        QFile file(source.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = literal.globalMatch(text); match.hasNext();)
            words += match.next().captured(1);
    }
    words.removeDuplicates();
    words.sort();
    dictionary += "# The words of the handlers' requests and replies.\n";
    for (const QString &word : std::as_const(words)) {
        if (!events.contains(word))
            dictionary += '"' + word.toUtf8() + "\"\n";
    }
    write("websocket_api", "subscribe-all",
          R"({"event":"action_subscribe","data":{"events":["event_running_changed","event_input_changed"]}})");
    write("websocket_api", "set-channel", R"({"event":"set_channel","data":{"channel":3,"value":1500}})");
    QFile file(outDir + QStringLiteral("/dict/websocket_api.dict"));
    QDir().mkpath(outDir + QStringLiteral("/dict"));
    if (file.open(QIODevice::WriteOnly))
        file.write(dictionary);
}

// A client's frames after the handshake: a request, a message in fragments with a character and
// a ping between them, a longer length's form, a close; each seed's first byte chooses its pieces.
void wsFrameSeeds()
{
    using ostratest::wsClientFrame;
    const QByteArray request = R"({"event":"get_echo","data":{"s":"é"}})";
    write("ws_frames", "request", QByteArray(1, '\x05') + wsClientFrame(0x81, request));
    write("ws_frames", "fragments-and-ping",
          QByteArray(1, '\x00') + wsClientFrame(0x01, request.left(34)) + wsClientFrame(0x89, "hi")
              + wsClientFrame(0x00, request.mid(34, 1)) + wsClientFrame(0x80, request.mid(35)));
    write("ws_frames", "longer-length", QByteArray(1, '\x11') + wsClientFrame(0x81, QByteArray(300, ' ') + request));
    write("ws_frames", "past-the-limit",
          QByteArray(1, '\x93') + wsClientFrame(0x01, QByteArray(100, ' ')) + wsClientFrame(0x80, QByteArray(100, ' ')));
    write("ws_frames", "close", QByteArray(1, '\x27') + wsClientFrame(0x88, QByteArray("\x03\xe8" "bye")));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <fuzz folder>\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    ostrafuzz::initHost();
    transmitterSeeds();
    receiverSeeds();
    profileSeeds();
    apiSeeds();
    wsFrameSeeds();
    return 0;
}
