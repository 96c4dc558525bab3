// fakeracestation [--version TEXT] [--device-id ID] [--port N] ADDRESS...
// Serves one fake race station on each address until it is killed; prints "listening" once
// every station listens.
#include "support/fakeracestation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"version", "Version text the station reports.", "text", "1.2.27"});
    parser.addOption({"device-id", "Transmitter identity in the lounge state.", "id"});
    parser.addOption({"port", "Port to listen on.", "port", "12345"});
    parser.addPositionalArgument("address", "Addresses to listen on, one station each.");
    parser.process(app);
    QTextStream out(stdout);
    for (const QString &address : parser.positionalArguments()) {
        auto *station = new ostratest::FakeRaceStation(&app);
        station->setVersion(parser.value("version"));
        station->setDeviceId(parser.value("device-id"));
        if (!station->listen(QHostAddress(address), quint16(parser.value("port").toUInt()))) {
            out << "cannot listen on " << address << Qt::endl;
            return 1;
        }
    }
    out << "listening" << Qt::endl;
    return app.exec();
}
