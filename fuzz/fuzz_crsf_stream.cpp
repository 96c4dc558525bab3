// The CRSF stream from the transmitter, handed over in pieces of the input's choosing; every
// frame it announces goes through each decoder the program has for it. The first byte chooses
// the pieces (all of it) and the receiver's motion telemetry level (its top two bits).
#include "bridge/crsfprotocol.h"
#include "bridge/elrsparametermanager.h"
#include "fuzzhost.h"

using corvane::CrsfProtocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ostrafuzz::initHost();
    if (size < 1)
        return 0;
    CrsfProtocol codec;
    // The parameter manager reads entries through the codec it is bound to; it walks the
    // transmitter's fields only once told the walk started.
    corvane::ElrsParameterManager elrs(&codec);
    const int motionLevel = (data[0] >> 6) % 3;
    QObject::connect(&codec, &CrsfProtocol::frameReceived, [motionLevel](quint8 type, const QByteArray &payload) {
        CrsfProtocol::decodeTelemetry(type, payload, motionLevel);
        CrsfProtocol::parseGps(payload);
        CrsfProtocol::parseGForceFrame(payload);
        CrsfProtocol::parseLinkStatistics(payload);
        int pos = 0;
        while (pos < payload.size())
            CrsfProtocol::takeText(payload, pos);
    });
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    for (const QByteArray &piece : ostrafuzz::pieces(bytes, data[0]))
        codec.feed(piece);
    return 0;
}
