#include "platform/storage/iniformat.h"

#include <QDataStream>
#include <QDateTime>
#include <QIODevice>
#include <QMap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <iterator>
#include <utility>

namespace corvane {

namespace {

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
    // As QSettings encodes: one code unit at a time through a UTF-8 encoder that holds a surrogate
    // until the next unit it encodes, which completes the pair or turns it into U+FFFD; one held
    // at the end is lost.
    char16_t held = 0;
    const auto encode = [&out, &held](char16_t ch) {
        if (held != 0) {
            const char16_t first = std::exchange(held, char16_t(0));
            if (QChar::isHighSurrogate(first) && QChar::isLowSurrogate(ch)) {
                const QChar pair[] = {QChar(first), QChar(ch)};
                out += QStringView(pair, 2).toUtf8();
                return;
            }
            out += "\xef\xbf\xbd";
        }
        if (QChar::isSurrogate(ch))
            held = ch;
        else if (ch < 0x80)
            out += char(ch);
        else
            out += QStringView(&ch, 1).toUtf8();
    };
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
            } else {
                encode(ch);
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

// A value as QDataStream wrote it, walked without being built: QDataStream makes room for a
// list's whole count before it reads an item, so a damaged count would ask for gigabytes. Every
// length and count must fit in the bytes left. Types no setting of the program has are refused.
class StreamedValue
{
public:
    StreamedValue(QByteArrayView bytes, int version)
        : m_bytes(bytes)
        , m_version(version)
    {
    }

    bool fits() { return variant(0); }

private:
    static constexpr int MaxDepth = 64;
    static constexpr quint32 Null = 0xFFFFFFFF;

    bool take(qsizetype size)
    {
        if (size > m_bytes.size() - m_pos)
            return false;
        m_pos += size;
        return true;
    }

    bool number(quint32 &value)
    {
        if (m_bytes.size() - m_pos < 4)
            return false;
        value = qFromBigEndian<quint32>(m_bytes.data() + m_pos);
        m_pos += 4;
        return true;
    }

    // A count of items, each at least `smallest` bytes long.
    bool count(quint32 &items, qsizetype smallest)
    {
        return number(items) && qsizetype(items) <= (m_bytes.size() - m_pos) / smallest;
    }

    bool bytes(bool utf16 = false)
    {
        quint32 size = 0;
        if (!number(size))
            return false;
        return size == Null || (!(utf16 && size % 2) && take(size));
    }

    bool string() { return bytes(true); }

    bool date() { return take(m_version >= QDataStream::Qt_5_0 ? 8 : 4); }

    bool dateTime()
    {
        if (!date() || !take(4) || m_pos >= m_bytes.size())
            return false;
        const qint8 spec = qint8(m_bytes.at(m_pos++));
        if (m_version < QDataStream::Qt_5_2 || spec == Qt::LocalTime || spec == Qt::UTC)
            return true;
        if (spec == Qt::OffsetFromUTC)
            return take(4);
        if (spec != Qt::TimeZone)
            return true;
        const qsizetype id = m_pos + 4;
        if (!string())
            return false;
        // A zone saved by its offset: its id again, the offset, name, abbreviation, territory
        // and comment.
        static const QByteArray ByOffset = [] {
            QByteArray utf16;
            for (const char ch : QByteArrayView("OffsetFromUtc"))
                utf16.append('\0').append(ch);
            return utf16;
        }();
        if (m_pos - id != ByOffset.size() || m_bytes.sliced(id, ByOffset.size()) != ByOffset)
            return true;
        return string() && take(4) && string() && string() && take(4) && string();
    }

    bool variant(int depth)
    {
        quint32 type = 0;
        if (depth > MaxDepth || !number(type))
            return false;
        // Numbered as Qt 4 numbered them.
        if (m_version < QDataStream::Qt_5_0 && type >= 128)
            type -= 97;
        if (m_version >= QDataStream::Qt_4_2 && !take(1))
            return false;
        // Nothing, and with Qt 4's numbers a text after it.
        if (type == QMetaType::UnknownType)
            return m_version >= QDataStream::Qt_5_0 || string();
        return ofType(int(type), depth);
    }

    bool ofType(int type, int depth)
    {
        quint32 items = 0;
        switch (type) {
        case QMetaType::Bool:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return take(1);
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::QChar:
            return take(2);
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::QTime:
            return take(4);
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::QPoint:
        case QMetaType::QSize:
            return take(8);
        case QMetaType::Float:
            return take(m_version >= QDataStream::Qt_4_6 ? 8 : 4);
        case QMetaType::QRect:
        case QMetaType::QLine:
        case QMetaType::QPointF:
        case QMetaType::QSizeF:
        case QMetaType::QUuid:
            return take(16);
        case QMetaType::QRectF:
        case QMetaType::QLineF:
            return take(32);
        case QMetaType::QDate:
            return date();
        case QMetaType::QDateTime:
            return dateTime();
        case QMetaType::QString:
        case QMetaType::QUrl:
            return string();
        case QMetaType::QByteArray:
            return bytes();
        case QMetaType::QStringList:
        case QMetaType::QByteArrayList:
            if (!count(items, 4))
                return false;
            for (quint32 i = 0; i < items; ++i) {
                if (!bytes(type == QMetaType::QStringList))
                    return false;
            }
            return true;
        case QMetaType::QVariantList:
            if (!count(items, 4))
                return false;
            for (quint32 i = 0; i < items; ++i) {
                if (!variant(depth + 1))
                    return false;
            }
            return true;
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash:
            if (!count(items, 8))
                return false;
            for (quint32 i = 0; i < items; ++i) {
                if (!string() || !variant(depth + 1))
                    return false;
            }
            return true;
        default:
            return false;
        }
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    int m_version;
};

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
            const QDataStream::Version version = dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0;
            // A damaged value is no value: the rest of the file still reads.
            if (!StreamedValue(bytes, version).fits())
                return QVariant();
            QDataStream stream(bytes);
            stream.setVersion(version);
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
} // namespace

QByteArray IniFormat::text(const QVariantMap &values)
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

QVariantMap IniFormat::parsed(QByteArrayView data, bool &damaged)
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
        // As QSettings names keys ("a/b", not "/a//b/"): one it could not name would be written
        // back as a line ending in an escape, which no reader takes.
        values.insert(normalizedKey(section + unescapedKey(line.first(equals).trimmed())), parsedValue(line.sliced(equals + 1)));
    }
    return values;
}

QStringList IniFormat::differingKeys(const QVariantMap &before, const QVariantMap &after)
{
    QStringList keys;
    QByteArray first;
    QByteArray second;
    auto a = before.cbegin();
    auto b = after.cbegin();
    // Both in key order: one walk.
    while (a != before.cend() || b != after.cend()) {
        if (b == after.cend() || (a != before.cend() && a.key() < b.key())) {
            keys.append((a++).key());
        } else if (a == before.cend() || b.key() < a.key()) {
            keys.append((b++).key());
        } else {
            first.clear();
            second.clear();
            appendValue(first, a.value());
            appendValue(second, b.value());
            if (first != second)
                keys.append(a.key());
            ++a;
            ++b;
        }
    }
    return keys;
}

QString IniFormat::normalizedKey(const QString &key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

} // namespace corvane
