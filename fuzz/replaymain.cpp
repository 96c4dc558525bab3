// Without libFuzzer a target is a corpus replay: every file named, or found in a folder named,
// goes through the target once. A crash fails the run; so does a folder with nothing in it.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "fuzzhost.h"

int main(int argc, char *argv[])
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (QFileInfo(path).isDir()) {
            const QFileInfoList entries = QDir(path).entryInfoList(QDir::Files, QDir::Name);
            for (const QFileInfo &entry : entries)
                files.append(entry.filePath());
        } else {
            files.append(path);
        }
        for (const QString &file : files) {
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file));
                return 1;
            }
            const QByteArray bytes = in.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
