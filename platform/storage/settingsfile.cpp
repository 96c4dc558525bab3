#include "platform/storage/settingsfile.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QLockFile>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QSettings>
#include <QSize>
#include <QStringList>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <utility>

#include "platform/storage/filewriter.h"

namespace corvane {

namespace {

// The INI format as QSettings writes it on this platform: one section per first part of a key,
// keys and values escaped as it escapes them, lists joined by ", ", and what a text cannot hold
// as "@Type(...)".

int hexValue(char16_t ch)
{
    if (ch >= u'0' && ch <= u'9')
        return ch - u'0';
    if (ch >= u'a' && ch <= u'f')
        return ch - u'a' + 10;
    if (ch >= u'A' && ch <= u'F')
        return ch - u'A' + 10;
    return -1;
}

void appendHex(QByteArray &out, uint value, int digits)
{
    static const char Digits[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += Digits[(value >> shift) & 0xF];
}

// A key or section name: letters, digits, '_', '-' and '.' as they are, '/' as '\', any other
// character as %XX up to U+00FF and as %UXXXX above.
void appendKey(QByteArray &out, QStringView key)
{
    for (const QChar qch : key) {
        const char16_t ch = qch.unicode();
        if (ch == u'/') {
            out += '\\';
        } else if ((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9') || ch == u'_'
                   || ch == u'-' || ch == u'.') {
            out += char(ch);
        } else if (ch <= 0xFF) {
            out += '%';
            appendHex(out, ch, 2);
        } else {
            out += "%U";
            appendHex(out, ch, 4);
        }
    }
}

QString unescapedKey(QByteArrayView bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QString key;
    key.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == u'\\') {
            key += u'/';
            continue;
        }
        const bool wide = ch == u'%' && i + 1 < text.size() && text.at(i + 1) == u'U';
        const qsizetype first = i + (wide ? 2 : 1);
        const int digits = wide ? 4 : 2;
        char16_t code = 0;
        bool escaped = ch == u'%' && first + digits <= text.size();
        for (qsizetype d = first; escaped && d < first + digits; ++d) {
            const int value = hexValue(text.at(d).unicode());
            escaped = value >= 0;
            code = char16_t(code * 16 + value);
        }
        if (!escaped) {
            key += ch;
            continue;
        }
        key += QChar(code);
        i = first + digits - 1;
    }
    return key;
}

// A value's text before it is escaped.
QString valueText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::QByteArray:
        return QLatin1String("@ByteArray(") + QString::fromLatin1(value.toByteArray()) + QLatin1Char(')');
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::QKeySequence: {
        QString text = value.toString();
        if (text.contains(QChar::Null))
            return QLatin1String("@String(") + text + QLatin1Char(')');
        // A text of its own that starts like a typed value keeps a second '@'.
        if (text.startsWith(QLatin1Char('@')))
            text.prepend(QLatin1Char('@'));
        return text;
    }
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return QString::asprintf("@Rect(%d %d %d %d)", r.x(), r.y(), r.width(), r.height());
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        return QString::asprintf("@Size(%d %d)", s.width(), s.height());
    }
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        return QString::asprintf("@Point(%d %d)", p.x(), p.y());
    }
    default: {
        const bool dateTime = value.typeId() == QMetaType::QDateTime;
        QByteArray bytes;
        {
            QDataStream stream(&bytes, QIODevice::WriteOnly);
            stream.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            stream << value;
        }
        return QLatin1String(dateTime ? "@DateTime(" : "@Variant(") + QString::fromLatin1(bytes) + QLatin1Char(')');
    }
    }
}

// A text as one value of a line: control characters escaped (and the bytes of a binary value,
// which stay Latin-1), the rest as UTF-8, in quotes when it holds a separator or starts or ends
// in a space.
void appendText(QByteArray &out, QStringView text)
{
    const bool binary = text.startsWith(QLatin1String("@ByteArray(")) || text.startsWith(QLatin1String("@Variant("))
                        || text.startsWith(QLatin1String("@DateTime("));
    const qsizetype start = out.size();
    bool quoted = false;
    // After a numeric escape a hex digit would be read as part of it.
    bool afterNumber = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text.at(i).unicode();
        if (ch == u';' || ch == u',' || ch == u'=')
            quoted = true;
        if (afterNumber && hexValue(ch) >= 0) {
            out += "\\x" + QByteArray::number(uint(ch), 16);
            continue;
        }
        afterNumber = false;
        switch (ch) {
        case u'\0': out += "\\0"; afterNumber = true; break;
        case u'\a': out += "\\a"; break;
        case u'\b': out += "\\b"; break;
        case u'\f': out += "\\f"; break;
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        case u'\t': out += "\\t"; break;
        case u'\v': out += "\\v"; break;
        case u'"':
        case u'\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1F || (ch >= 0x7F && binary)) {
                out += "\\x" + QByteArray::number(uint(ch), 16);
                afterNumber = true;
            } else if (ch < 0x80) {
                out += char(ch);
            } else {
                // A character beyond U+FFFF is a pair of code units, encoded together.
                const bool pair = QChar::isHighSurrogate(ch) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
                out += text.sliced(i, pair ? 2 : 1).toUtf8();
                i += pair ? 1 : 0;
            }
        }
    }
    if (quoted || (out.size() > start && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

void appendValue(QByteArray &out, const QVariant &value)
{
    const int type = value.typeId();
    // A list of one item would read back as that item alone: it goes as one typed value.
    if (type == QMetaType::QStringList || (type == QMetaType::QVariantList && value.toList().size() != 1)) {
        const QVariantList items = value.toList();
        if (items.isEmpty())
            out += "@Invalid()";
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (i > 0)
                out += ", ";
            appendText(out, valueText(items.at(i)));
        }
        return;
    }
    appendText(out, valueText(value));
}

QByteArray iniText(const QVariantMap &values)
{
    // Sections in the order of their names, as QSettings orders a file it starts.
    QMap<QString, QVariantMap> sections;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        sections[slash < 0 ? QString() : it.key().left(slash)].insert(it.key().mid(slash + 1), it.value());
    }
    // Never null, not even empty: a null array tells the writer there is nothing to write.
    QByteArray out = QByteArrayLiteral("");
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        if (section != sections.cbegin())
            out += '\n';
        QByteArray name;
        appendKey(name, section.key());
        if (name.isEmpty())
            out += "[General]";
        else if (name.compare("general", Qt::CaseInsensitive) == 0)
            out += "[%General]"; // "[General]" is the section of the keys without one
        else
            out += '[' + name + ']';
        out += '\n';
        for (auto it = section->cbegin(); it != section->cend(); ++it) {
            appendKey(out, it.key());
            out += '=';
            appendValue(out, it.value());
            out += '\n';
        }
    }
    return out;
}

bool blank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r';
}

// The next line of the file from `pos`, as QSettings reads one: from its first non-blank
// character to a line end outside quotes, a backslash carrying it over a line end, and ';'
// outside quotes starting a comment. `equals` is the first '=' outside quotes in the line, or
// -1. False at the end.
bool nextLine(QByteArrayView data, qsizetype &pos, QByteArrayView &line, qsizetype &equals)
{
    qsizetype start = pos;
    while (start < data.size() && blank(data.at(start)))
        ++start;
    qsizetype equalsAt = -1;
    bool quoted = false;
    qsizetype i = start;
    while (i < data.size()) {
        const char ch = data.at(i++);
        if (ch == '=') {
            if (!quoted && equalsAt < 0)
                equalsAt = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!quoted) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < data.size()) {
                const char escaped = data.at(i++);
                if (i < data.size()) {
                    const char next = data.at(i);
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            quoted = !quoted;
        } else if (ch == ';') {
            if (i == start + 1) {
                while (i < data.size() && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < data.size() && blank(data.at(i)))
                    ++i;
                start = i;
            } else if (!quoted) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line = data.sliced(start, i - start);
    equals = equalsAt < 0 ? -1 : equalsAt - start;
    return !line.isEmpty();
}

void chopBlanks(QString &text, qsizetype limit)
{
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.chop(1);
}

// The texts of one value: unquoted, unescaped, split at commas outside quotes. More than one
// text, or any comma: a list.
QStringList valueTexts(QByteArrayView text, bool &list)
{
    static constexpr char Escapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
                                          {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    QStringList items;
    QString current;
    list = false;
    bool inQuotes = false;
    bool itemQuoted = false;
    qsizetype keep = 0; // blanks up to here came escaped or quoted and stay
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && (text.at(i) == ' ' || text.at(i) == '\t'))
            ++i;
        keep = current.size();
    };
    skipBlanks();
    while (i < text.size()) {
        const char ch = text.at(i);
        if (ch == '\\') {
            if (++i >= text.size())
                break;
            const char code = text.at(i++);
            const auto simple = std::find_if(std::begin(Escapes), std::end(Escapes), [code](const char *e) { return e[0] == code; });
            if (simple != std::end(Escapes)) {
                current += QLatin1Char((*simple)[1]);
            } else if ((code == 'x' && i < text.size() && hexValue(uchar(text.at(i))) >= 0) || (code >= '0' && code <= '7')) {
                // \x with any number of hex digits, or an octal number: one code unit.
                const bool hex = code == 'x';
                char16_t unit = hex ? 0 : char16_t(code - '0');
                for (; i < text.size(); ++i) {
                    const int digit = hex ? hexValue(uchar(text.at(i))) : (text.at(i) >= '0' && text.at(i) <= '7' ? text.at(i) - '0' : -1);
                    if (digit < 0)
                        break;
                    unit = char16_t(unit * (hex ? 16 : 8) + digit);
                }
                current += QChar(unit);
            } else if ((code == '\n' || code == '\r') && i < text.size()) {
                // A line carried over: the escaped line end is no character.
                const char next = text.at(i);
                if ((next == '\n' || next == '\r') && next != code)
                    ++i;
            }
            keep = current.size();
        } else if (ch == '"') {
            ++i;
            itemQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (ch == ',' && !inQuotes) {
            if (!itemQuoted)
                chopBlanks(current, keep);
            list = true;
            items.append(current);
            current.clear();
            itemQuoted = false;
            ++i;
            skipBlanks();
        } else {
            qsizetype end = i + 1;
            while (end < text.size() && text.at(end) != '\\' && text.at(end) != '"' && text.at(end) != ',')
                ++end;
            current += QString::fromUtf8(text.sliced(i, end - i));
            i = end;
        }
    }
    if (!itemQuoted)
        chopBlanks(current, keep);
    items.append(current);
    return items;
}

// A value from its text, as valueText wrote it.
QVariant typedValue(const QString &text)
{
    if (!text.startsWith(QLatin1Char('@')))
        return text;
    if (text.endsWith(QLatin1Char(')'))) {
        if (text.startsWith(QLatin1String("@ByteArray(")))
            return QStringView(text).sliced(11).chopped(1).toLatin1();
        if (text.startsWith(QLatin1String("@String(")))
            return QStringView(text).sliced(8).chopped(1).toString();
        if (text.startsWith(QLatin1String("@Variant(")) || text.startsWith(QLatin1String("@DateTime("))) {
            const bool dateTime = text.at(1) == QLatin1Char('D');
            const QByteArray bytes = QStringView(text).sliced(dateTime ? 10 : 9).toLatin1();
            QDataStream stream(bytes);
            stream.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            QVariant value;
            stream >> value;
            return value;
        }
        if (text == QLatin1String("@Invalid()"))
            return QVariant();
        const qsizetype open = text.indexOf(QLatin1Char('('));
        const QString type = text.left(open);
        const QStringList numbers = text.mid(open + 1).chopped(1).split(QLatin1Char(' '));
        if (type == QLatin1String("@Rect") && numbers.size() == 4)
            return QRect(numbers[0].toInt(), numbers[1].toInt(), numbers[2].toInt(), numbers[3].toInt());
        if (type == QLatin1String("@Size") && numbers.size() == 2)
            return QSize(numbers[0].toInt(), numbers[1].toInt());
        if (type == QLatin1String("@Point") && numbers.size() == 2)
            return QPoint(numbers[0].toInt(), numbers[1].toInt());
    }
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    return text;
}

QVariant parsedValue(QByteArrayView text)
{
    bool list = false;
    QStringList items = valueTexts(text, list);
    if (!list)
        return typedValue(items.constFirst());
    for (QString &item : items) {
        if (!item.startsWith(QLatin1Char('@')))
            continue;
        if (!item.startsWith(QLatin1String("@@"))) {
            // One typed item makes every item a value of its own.
            QVariantList values;
            bool unused = false;
            for (const QString &each : valueTexts(text, unused))
                values.append(typedValue(each));
            return values;
        }
        item.remove(0, 1);
    }
    return items;
}

QVariantMap parsedIni(QByteArrayView data, bool &damaged)
{
    QVariantMap values;
    damaged = false;
    if (data.startsWith("\xef\xbb\xbf"))
        data = data.sliced(3);
    QString section; // with its '/', empty for the keys without one
    qsizetype pos = 0;
    QByteArrayView line;
    qsizetype equals = -1;
    while (nextLine(data, pos, line, equals)) {
        if (line.startsWith('[')) {
            qsizetype close = line.indexOf(']');
            if (close < 0) {
                damaged = true;
                close = line.size();
            }
            const QByteArrayView name = line.sliced(1, close - 1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0) {
                section.clear();
                continue;
            }
            section = name.compare("%general", Qt::CaseInsensitive) == 0 ? QString::fromLatin1(name.sliced(1)) : unescapedKey(name);
            section += QLatin1Char('/');
            continue;
        }
        if (equals < 0) {
            damaged = damaged || !line.startsWith(';');
            continue;
        }
        values.insert(section + unescapedKey(line.first(equals).trimmed()), parsedValue(line.sliced(equals + 1)));
    }
    return values;
}

// Keys as QSettings takes them: no empty parts between slashes, none at either end.
QString normalizedKey(const QString &key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

QString settingsPath(const QString &application)
{
    static QHash<QString, QString> paths;
    auto path = paths.find(application);
    if (path == paths.end()) {
        // Where QSettings keeps the application's file, so that the program finds what it kept
        // before.
        const QSettings named(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::organizationName(), application);
        path = paths.insert(application, named.fileName());
    }
    return *path;
}

// Whether two values are the same text in the file: what was read back (always text) and what
// the program sets (numbers, flags, lists).
bool sameInFile(const QVariant &a, const QVariant &b)
{
    QByteArray first;
    QByteArray second;
    appendValue(first, a);
    appendValue(second, b);
    return first == second;
}

// A change of this process not yet on disk.
struct Change
{
    enum Kind {
        Set,
        Fill, // a value this process held already: written only where the file has none
        Remove,
    };
    Kind kind = Set;
    QVariant value;
    quint64 revision = 0;
};
using Changes = QMap<QString, Change>;

// What the file held when it was last read or written, shared with the writer's thread.
struct Disk
{
    std::mutex mutex;
    QVariantMap values;
    FileWriter::Stamp stamp;
    bool known = false; // values are what the file holds; false while it could not be read
    quint64 stored = 0; // the changes up to this revision are on disk
    QList<QVariantMap> released; // let go by the thread that reads settings, freed by the writer's
};

// Another copy of the program, or QSettings (whose lock this is), writing the same file waits
// for this write, and this for its; a lock held longer than this is left to its holder.
constexpr int LockWaitMs = 5000;

// On the writer's thread: reads the file again when it has changed since it was last read or
// written (another copy of the program, a hand edit), puts this process's changes on top and
// writes the whole file. A file that cannot be read is never replaced.
bool storeChanges(Disk &disk, const QString &path, const Changes &changes, quint64 revision)
{
    QVariantMap values;
    FileWriter::Stamp known;
    bool readable = false;
    QList<QVariantMap> released;
    {
        const std::lock_guard lock(disk.mutex);
        released.swap(disk.released);
        values = disk.values;
        known = disk.stamp;
        readable = disk.known;
    }
    released.clear();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QLockFile lock(path + QLatin1String(".lock"));
    if (!lock.tryLock(LockWaitMs) && lock.error() == QLockFile::LockFailedError)
        FileWriter::warn(QStringLiteral("Settings: %1 stays locked by another program; written all the same").arg(path));
    FileWriter::Stamp now = FileWriter::stampOf(path);
    if (!readable || now != known) {
        QByteArray bytes;
        QString error;
        bool damaged = false;
        if (!now.exists()) {
            values.clear();
        } else if (FileWriter::readFile(path, bytes, now, error)) {
            values = parsedIni(bytes, damaged);
        } else {
            FileWriter::warn(QStringLiteral("Settings: cannot read %1 %2 - the change is not written over it and stays "
                                            "in memory")
                                 .arg(path, error));
            return false;
        }
        QVariantMap old;
        const std::lock_guard guard(disk.mutex);
        old = std::exchange(disk.values, values);
        disk.stamp = now;
        disk.known = true;
    }
    for (auto change = changes.cbegin(); change != changes.cend(); ++change) {
        if (change->kind == Change::Remove)
            values.remove(change.key());
        else if (change->kind == Change::Set || !values.contains(change.key()))
            values.insert(change.key(), change->value);
    }
    if (!FileWriter::writeFile(path, iniText(values)))
        return false;
    const FileWriter::Stamp written = FileWriter::stampOf(path);
    QVariantMap old;
    const std::lock_guard guard(disk.mutex);
    old = std::exchange(disk.values, std::move(values));
    disk.stamp = written;
    disk.stored = std::max(disk.stored, revision);
    return true;
}

} // namespace

struct SettingsFile::Contents
{
    ~Contents()
    {
        QObject::disconnect(reports);
        // Gone from the list unless a newer load of the file took its place.
        auto &files = open();
        const auto entry = files.constFind(path);
        if (entry != files.cend() && entry->expired())
            files.erase(entry);
    }

    // Never destroyed: contents let go by statics that end after it (the shared writer's
    // waiting jobs) still look themselves up in it.
    static QHash<QString, std::weak_ptr<Contents>> &open()
    {
        static auto *files = new QHash<QString, std::weak_ptr<Contents>>;
        return *files;
    }

    static std::shared_ptr<Contents> of(const QString &path)
    {
        if (std::shared_ptr<Contents> found = open().value(path).lock())
            return found;
        auto contents = std::make_shared<Contents>();
        contents->path = path;
        contents->load();
        open().insert(path, contents);
        const std::weak_ptr<Contents> weak = contents;
        FileWriter &writer = FileWriter::shared();
        contents->reports = QObject::connect(&writer, &FileWriter::written, &writer,
                                             [weak](const QString &written, quint64 ticket, bool ok) {
                                                 const std::shared_ptr<Contents> held = weak.lock();
                                                 if (held && written == held->path)
                                                     held->report(ticket, ok);
                                             });
        return contents;
    }

    // The files with a write on its way, held so that a SettingsFile made meanwhile starts from
    // their memory, which is newer than the file. Held here rather than by themselves, so that
    // what the end of the program leaves on its way is still let go.
    static QHash<QString, std::shared_ptr<Contents>> &writing()
    {
        static QHash<QString, std::shared_ptr<Contents>> files;
        return files;
    }

    static bool anyPending() { return !writing().isEmpty(); }

    void load()
    {
        // What writes killed half-way left beside the settings, once per folder.
        static QSet<QString> tidied;
        const QString folder = QFileInfo(path).absolutePath();
        if (!tidied.contains(folder)) {
            tidied.insert(folder);
            FileWriter::removeLeftovers(folder);
        }
        disk->stamp = FileWriter::stampOf(path);
        disk->known = true;
        if (!disk->stamp.exists())
            return;
        QByteArray bytes;
        QString error;
        if (!FileWriter::readFile(path, bytes, disk->stamp, error)) {
            // Nothing is written over it while it stays so: every other setting would be lost.
            qWarning().noquote() << "Settings: cannot read" << path << error;
            damaged = true;
            disk->known = false;
            return;
        }
        base = parsedIni(bytes, damaged);
        disk->values = base;
        if (damaged)
            qWarning().noquote() << "Settings: parts of" << path << "could not be read";
    }

    // What this process holds for a key: its own change, else what the file held; null: nothing.
    const QVariant *held(const QString &key) const
    {
        const auto change = changes.constFind(key);
        if (change != changes.cend())
            return change->kind == Change::Remove ? nullptr : &change->value;
        const auto stored = base.constFind(key);
        return stored == base.cend() ? nullptr : &stored.value();
    }

    void set(const QString &key, const QVariant &value)
    {
        const auto change = changes.constFind(key);
        const QVariant *current = held(key);
        // A key this process removed is set anew, whatever it was read as since.
        const auto read = assumed.constFind(key);
        if (!current && change == changes.cend() && read != assumed.cend())
            current = &read.value();
        if (current && sameInFile(*current, value)) {
            // What this process held already (or read as the default) is no change of its own:
            // it fills a gap in the file but never covers another copy's or a hand edit's value.
            if (change == changes.cend() && !base.contains(key))
                changes.insert(key, {Change::Fill, value, ++revision});
            return;
        }
        changes.insert(key, {Change::Set, value, ++revision});
    }

    // The key and every key under it (everything for the empty name): as QSettings does, the
    // keys this process knows, not those another copy adds later.
    void removeKeys(const QString &name)
    {
        QStringList keys;
        const QString under = name + QLatin1Char('/');
        const auto collect = [&](const auto &map) {
            if (name.isEmpty()) {
                keys += map.keys();
                return;
            }
            if (map.contains(name))
                keys.append(name);
            for (auto it = map.lowerBound(under); it != map.cend() && it.key().startsWith(under); ++it)
                keys.append(it.key());
        };
        collect(std::as_const(base));
        collect(std::as_const(changes));
        for (const QString &key : std::as_const(keys))
            changes.insert(key, {Change::Remove, QVariant(), ++revision});
        if (name.isEmpty())
            assumed.clear();
        for (const QString &key : std::as_const(keys))
            assumed.remove(key);
    }

    void report(quint64 ticket, bool ok)
    {
        quint64 stored = 0;
        {
            const std::lock_guard lock(disk->mutex);
            // Memory follows the file: what another copy or a hand edit put there shows now. A
            // large file's old copy is freed by the writer's thread, not this one.
            if (!base.isSharedWith(disk->values))
                disk->released.append(std::exchange(base, disk->values));
            stored = disk->stored;
        }
        for (auto change = changes.begin(); change != changes.end();)
            change = change->revision <= stored ? changes.erase(change) : std::next(change);
        for (const QPointer<SettingsFile> &handle : QList<QPointer<SettingsFile>>(handles)) {
            if (handle)
                emit handle->written(ticket, ok);
        }
        if (ticket >= lastTicket && writing().value(path).get() == this)
            writing().remove(path); // may be the last hold on this, which the caller keeps alive
    }

    QString path;
    std::shared_ptr<Disk> disk = std::make_shared<Disk>();
    QVariantMap base; // what the file held as last read or written
    Changes changes; // this process's, not on disk yet
    quint64 revision = 0; // of the last change
    QHash<QString, QVariant> assumed; // defaults keys missing from the file were read with
    bool damaged = false;
    quint64 lastTicket = 0; // of the last write handed over
    QList<QPointer<SettingsFile>> handles;
    QMetaObject::Connection reports;
};

SettingsFile::SettingsFile(QObject *parent)
    : SettingsFile(QCoreApplication::applicationName(), parent)
{
}

SettingsFile::SettingsFile(const QString &application, QObject *parent)
    : QObject(parent)
    , m_contents(Contents::of(settingsPath(application)))
{
    m_contents->handles.append(this);
}

SettingsFile::~SettingsFile()
{
    m_contents->handles.removeAll(this);
}

QString SettingsFile::fileName() const
{
    return m_contents->path;
}

bool SettingsFile::isDamaged() const
{
    return m_contents->damaged;
}

bool SettingsFile::contains(const QString &key) const
{
    return m_contents->held(normalizedKey(key)) != nullptr;
}

QVariant SettingsFile::value(const QString &key, const QVariant &fallback) const
{
    const QString name = normalizedKey(key);
    if (const QVariant *held = m_contents->held(name))
        return *held;
    // What this process takes the missing key for: setting it so later changes nothing.
    if (fallback.isValid())
        m_contents->assumed.insert(name, fallback);
    return fallback;
}

quint64 SettingsFile::setValue(const QString &key, const QVariant &value)
{
    m_contents->set(normalizedKey(key), value);
    return write();
}

quint64 SettingsFile::setValues(const QString &group, const QVariantMap &values, const QString &failure)
{
    const QString prefix = normalizedKey(group);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_contents->set(normalizedKey(prefix + QLatin1Char('/') + it.key()), it.value());
    return write(failure);
}

quint64 SettingsFile::remove(const QString &key)
{
    m_contents->removeKeys(normalizedKey(key));
    return write();
}

quint64 SettingsFile::write(const QString &failure)
{
    Contents::writing().insert(m_contents->path, m_contents);
    // The changes are taken when the write starts; the file is read, merged and made on the
    // writer's thread.
    const auto make = [contents = m_contents]() -> FileWriter::Work {
        if (contents->changes.isEmpty())
            return {};
        return [disk = contents->disk, path = contents->path, changes = contents->changes, revision = contents->revision] {
            return storeChanges(*disk, path, changes, revision);
        };
    };
    m_contents->lastTicket = FileWriter::shared().update(m_contents->path, make, failure);
    return m_contents->lastTicket;
}

bool SettingsFile::waitForWrites(int timeoutMs)
{
    if (!Contents::anyPending())
        return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    // After the files have taken their reports: connected later, called later.
    QObject::connect(&FileWriter::shared(), &FileWriter::written, &loop, [&loop] {
        if (!Contents::anyPending())
            loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return !Contents::anyPending();
}

} // namespace corvane
