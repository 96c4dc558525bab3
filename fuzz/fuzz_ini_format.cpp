// A settings file as a hand edit, a tool or a failing disk may leave it: the INI codec alone reads
// any bytes and writes what it read, in lines its reader takes whole.
#include <cstdlib>

#include "fuzzhost.h"
#include "platform/storage/iniformat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using corvane::IniFormat;
    bool damaged = false;
    const QByteArray written = IniFormat::text(IniFormat::parsed(QByteArrayView(data, qsizetype(size)), damaged));
    IniFormat::parsed(written, damaged);
    if (damaged)
        std::abort();
    return 0;
}
