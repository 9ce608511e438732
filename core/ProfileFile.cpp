#include "core/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cstring>

namespace {

using Encoding = ProfileFile::Encoding;

constexpr QByteArrayView Bom("\xEF\xBB\xBF");
constexpr const char* ShiftJisName = "Shift_JIS";

// The file's bytes after an optional BOM, and how to read them.
struct Content {
    QByteArrayView body;
    bool bom = false;
    Encoding encoding = Encoding::Utf8;
};

// One line of the body: [begin, end) is its text, [end, next) its line break (may be empty).
struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

// What a line holds: a section header with its name, a key with its value, or anything else.
struct Entry {
    enum Kind { Other, Section, Key } kind = Other;
    QByteArrayView name;
    QByteArrayView value;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Blanks are below 0x40, so they never occur as the second byte of a Shift-JIS character and
// trimming them byte-wise is safe in both encodings.
QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool isShiftJisLead(uchar c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool isShiftJisTrail(uchar c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Byte length of the Shift-JIS character at i; a broken pair counts as one byte.
qsizetype shiftJisCharLength(QByteArrayView text, qsizetype i)
{
    return isShiftJisLead(uchar(text[i])) && i + 1 < text.size() &&
                   isShiftJisTrail(uchar(text[i + 1]))
               ? 2
               : 1;
}

// A multi-byte character cut short by a line break or by the end of the text counts as valid:
// that is what truncating a UTF-8 file leaves, and a later write may add lines after it.
bool isValidUtf8(QByteArrayView text)
{
    const auto* p = reinterpret_cast<const uchar*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const uchar c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        char32_t code;
        char32_t least;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, code = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, code = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        int present = 0;
        while (present < extra && p + 1 + present < end && (p[1 + present] & 0xC0) == 0x80) {
            code = (code << 6) | (p[1 + present] & 0x3F);
            ++present;
        }
        if (present < extra) {
            const auto* const stop = p + 1 + present;
            if (c < 0xC2 || c > 0xF4 || (stop < end && *stop != '\n' && *stop != '\r'))
                return false;
            p = stop;
            continue;
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

// What is read of a file: all of it, or of a larger one the lines ending within the bound.
QByteArrayView visiblePart(QByteArrayView bytes)
{
    if (bytes.size() <= ProfileFile::MaxFileBytes)
        return bytes;
    const QByteArrayView head = bytes.first(ProfileFile::MaxFileBytes);
    return head.first(head.lastIndexOf('\n') + 1);
}

Content split(QByteArrayView bytes)
{
    bytes = visiblePart(bytes);
    Content content;
    content.bom = bytes.startsWith(Bom);
    content.body = content.bom ? bytes.sliced(Bom.size()) : bytes;
    // A BOM declares UTF-8 even when stray bytes follow; without one the bytes decide.
    content.encoding =
        content.bom || isValidUtf8(content.body) ? Encoding::Utf8 : Encoding::ShiftJis;
    return content;
}

// Only the file's first bytes can be a byte-order mark, and split() has taken it off; anywhere
// else U+FEFF is text, so the decoder must not drop it at the start of a name or value.
QString decode(QByteArrayView bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8) {
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless |
                                   QStringConverter::Flag::ConvertInitialBom);
        return decoder.decode(bytes);
    }
    QStringDecoder decoder(ShiftJisName, QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

bool isAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// The text in the given encoding, or nothing when it would not read back as the same text.
std::optional<QByteArray> encode(const QString& text, Encoding encoding)
{
    QByteArray bytes;
    if (encoding == Encoding::Utf8) {
        bytes = text.toUtf8();
    } else {
        QStringEncoder encoder(ShiftJisName);
        if (!encoder.isValid()) {
            if (!isAscii(text))
                return std::nullopt;
            return text.toLatin1();
        }
        bytes = encoder.encode(text);
    }
    if (decode(bytes, encoding) != text)
        return std::nullopt;
    return bytes;
}

// A section or key name as it is compared against the file: encoded and trimmed.
std::optional<QByteArray> encodeName(const QString& name, Encoding encoding)
{
    auto bytes = encode(name, encoding);
    if (!bytes)
        return std::nullopt;
    const QByteArrayView name8 = trimmed(*bytes);
    if (name8.isEmpty())
        return std::nullopt;
    return name8.toByteArray();
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Compares a name from the file with a wanted one, folding case of ASCII letters only. The wanted
// name is well formed, so walking its characters also walks the file's while the bytes agree.
bool sameName(QByteArrayView found, QByteArrayView wanted, Encoding encoding)
{
    if (found.size() != wanted.size())
        return false;
    qsizetype i = 0;
    while (i < wanted.size()) {
        if (encoding == Encoding::ShiftJis && shiftJisCharLength(wanted, i) == 2) {
            if (found[i] != wanted[i] || found[i + 1] != wanted[i + 1])
                return false;
            i += 2;
        } else {
            if (asciiLower(found[i]) != asciiLower(wanted[i]))
                return false;
            ++i;
        }
    }
    return true;
}

Line lineAt(QByteArrayView body, qsizetype begin)
{
    const auto* start = body.data() + begin;
    const auto* lf =
        static_cast<const char*>(std::memchr(start, '\n', size_t(body.size() - begin)));
    if (!lf)
        return {begin, body.size(), body.size()};
    qsizetype end = lf - body.data();
    const qsizetype next = end + 1;
    if (end > begin && body[end - 1] == '\r')
        --end;
    return {begin, end, next};
}

// Offset of the "]" closing a header whose "[" is at 0, or -1. In Shift-JIS "]" (0x5D) can be the
// second byte of a character, so the search walks whole characters there.
qsizetype closingBracket(QByteArrayView text, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return text.indexOf(']', 1);
    for (qsizetype i = 1; i < text.size(); i += shiftJisCharLength(text, i)) {
        if (text[i] == ']')
            return i;
    }
    return -1;
}

Entry parse(QByteArrayView line, Encoding encoding)
{
    const QByteArrayView text = trimmed(line);
    if (text.isEmpty() || text.front() == ';')
        return {};
    if (text.front() == '[') {
        const qsizetype close = closingBracket(text, encoding);
        const QByteArrayView name = close < 0 ? text.sliced(1) : text.sliced(1, close - 1);
        return {Entry::Section, trimmed(name), {}};
    }
    // "=" is below 0x40, so the first one is a real "=" in Shift-JIS too.
    const qsizetype equals = text.indexOf('=');
    if (equals <= 0)
        return {};
    const QByteArrayView key = trimmed(text.first(equals));
    if (key.isEmpty())
        return {};
    return {Entry::Key, key, trimmed(text.sliced(equals + 1))};
}

// Calls visit(line, entry) for the header and every following line of the first section named
// `section`, until visit returns false or the next section starts. True when the section exists.
template <typename Visit>
bool visitSection(const Content& content, QByteArrayView section, Visit visit)
{
    bool found = false;
    for (qsizetype pos = 0; pos < content.body.size();) {
        const Line line = lineAt(content.body, pos);
        pos = line.next;
        const QByteArrayView text = content.body.sliced(line.begin, line.end - line.begin);
        const Entry entry = parse(text, content.encoding);
        if (entry.kind == Entry::Section) {
            if (found)
                return true;
            found = sameName(entry.name, section, content.encoding);
        }
        if (found && !visit(line, entry))
            return true;
    }
    return found;
}

// A stored value as the caller sees it: up to a NUL, at most MaxValueBytes, whole characters.
QString readBack(QByteArrayView value, Encoding encoding)
{
    const qsizetype nul = value.indexOf('\0');
    if (nul >= 0)
        value = value.first(nul);
    if (value.size() > ProfileFile::MaxValueBytes) {
        qsizetype cut = 0;
        if (encoding == Encoding::Utf8) {
            cut = ProfileFile::MaxValueBytes;
            // Back off over at most three continuation bytes to the start of the character.
            for (int i = 0; i < 3 && (uchar(value[cut]) & 0xC0) == 0x80; ++i)
                --cut;
        } else {
            while (cut < value.size()) {
                const qsizetype step = shiftJisCharLength(value, cut);
                if (cut + step > ProfileFile::MaxValueBytes)
                    break;
                cut += step;
            }
        }
        value = value.first(cut);
    }
    return decode(value, encoding);
}

// The file's bytes: empty when it does not exist, nothing when it exists but cannot be read.
std::optional<QByteArray> load(const QString& path, bool& exists)
{
    const QFileInfo info(path);
    exists = info.exists();
    if (!exists)
        return QByteArray();
    if (!info.isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // One byte past the bound tells a file that is too large; the rest of it is never needed.
    QByteArray bytes = file.read(ProfileFile::MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

QByteArray lineBreakOf(QByteArrayView body)
{
    const qsizetype lf = body.indexOf('\n');
    return lf > 0 && body[lf - 1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");
}

// What ends the last line of body when it has no line feed: a CR left by a cut CR LF gets
// its LF, so that the line keeps its bytes.
QByteArray lineEnd(QByteArrayView body, const QByteArray& lineBreak)
{
    return body.endsWith('\r') ? QByteArray("\n") : lineBreak;
}

} // namespace

ProfileFile::Encoding ProfileFile::encodingOf(QByteArrayView content)
{
    return split(content).encoding;
}

bool ProfileFile::shiftJisAvailable()
{
    return QStringDecoder(ShiftJisName).isValid() && QStringEncoder(ShiftJisName).isValid();
}

namespace {

// The stored value of key in section, or nothing.
std::optional<QString> lookup(QByteArrayView bytes, const QString& section, const QString& key)
{
    const Content content = split(bytes);
    const auto section8 = encodeName(section, content.encoding);
    const auto key8 = encodeName(key, content.encoding);
    if (!section8 || !key8)
        return std::nullopt;
    std::optional<QByteArrayView> value;
    visitSection(content, *section8, [&](const Line&, const Entry& entry) {
        if (entry.kind == Entry::Key && sameName(entry.name, *key8, content.encoding)) {
            value = entry.value;
            return false;
        }
        return true;
    });
    if (!value)
        return std::nullopt;
    return readBack(*value, content.encoding);
}

} // namespace

QString ProfileFile::valueIn(QByteArrayView bytes, const QString& section, const QString& key,
                             const QString& def)
{
    return lookup(bytes, section, key).value_or(def);
}

QList<std::pair<QString, QString>> ProfileFile::sectionIn(QByteArrayView bytes,
                                                          const QString& section)
{
    const Content content = split(bytes);
    QList<std::pair<QString, QString>> entries;
    const auto section8 = encodeName(section, content.encoding);
    if (!section8)
        return entries;
    visitSection(content, *section8, [&](const Line&, const Entry& entry) {
        if (entry.kind == Entry::Key)
            entries.append(
                {decode(entry.name, content.encoding), readBack(entry.value, content.encoding)});
        return true;
    });
    return entries;
}

std::optional<QByteArray> ProfileFile::withValue(QByteArrayView bytes, const QString& section,
                                                 const QString& key, const QString& value)
{
    if (bytes.size() > MaxFileBytes)
        return std::nullopt;
    const Content content = split(bytes);
    const auto section8 = encodeName(section, content.encoding);
    const auto key8 = encodeName(key, content.encoding);
    if (!section8 || !key8)
        return std::nullopt;
    // Names that would not parse back as the same section or key are refused. "[", ";", "=" and
    // control bytes are below 0x40, so byte checks are exact in both encodings; "]" is checked on
    // the text because 0x5D can be the second byte of a Shift-JIS character.
    if (section.contains(u']') || section8->contains('\n') || section8->contains('\r') ||
        section8->contains('\0') || key8->contains('=') || key8->contains('\n') ||
        key8->contains('\r') || key8->contains('\0') || key8->front() == '[' ||
        key8->front() == ';')
        return std::nullopt;

    // A value must stay on its own line.
    QString flat = value;
    for (QChar& c : flat) {
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    }
    const auto value8 = encode(flat, content.encoding);
    if (!value8)
        return std::nullopt;

    std::optional<Line> keyLine;
    QByteArrayView fileKey;
    Line last; // the header or the last key line of the section
    const bool found = visitSection(content, *section8, [&](const Line& line, const Entry& entry) {
        if (entry.kind == Entry::Key && sameName(entry.name, *key8, content.encoding)) {
            keyLine = line;
            fileKey = entry.name;
            return false;
        }
        if (entry.kind != Entry::Other)
            last = line;
        return true;
    });

    const QByteArrayView body = content.body;
    const QByteArray lineBreak = lineBreakOf(body);
    QByteArray out;
    out.reserve(bytes.size() + section8->size() + key8->size() + value8->size() + 8);
    if (content.bom)
        out += Bom;
    if (keyLine) {
        // The key keeps its spelling from the file; the line keeps its own line break.
        out += body.first(keyLine->begin);
        out += fileKey;
        out += '=';
        out += *value8;
        out += body.sliced(keyLine->end);
    } else if (found) {
        out += body.first(last.next);
        if (last.next == last.end)
            out += lineEnd(body, lineBreak);
        out += *key8 + '=' + *value8 + lineBreak;
        out += body.sliced(last.next);
    } else {
        out += body;
        if (!body.isEmpty() && !body.endsWith('\n'))
            out += lineEnd(body, lineBreak);
        out += '[' + *section8 + ']' + lineBreak + *key8 + '=' + *value8 + lineBreak;
    }
    if (out.size() > MaxFileBytes)
        return std::nullopt;
    // The new bytes can change how the whole file reads (a Shift-JIS file that loses its last
    // bytes that are no UTF-8 with the old value reads as UTF-8): refuse what would not come back.
    if (lookup(out, section, key) != readBack(trimmed(*value8), content.encoding))
        return std::nullopt;
    return out;
}

QString ProfileFile::readValue(const QString& path, const QString& section, const QString& key,
                               const QString& def)
{
    bool exists = false;
    const auto bytes = load(path, exists);
    if (!bytes || !exists)
        return def;
    return valueIn(*bytes, section, key, def);
}

bool ProfileFile::canWrite(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.isFile() && info.isReadable() && info.isWritable() &&
               info.size() <= MaxFileBytes;
    const QFileInfo folder(info.absolutePath());
    return folder.isDir() && folder.isWritable() && folder.isExecutable();
}

QList<std::pair<QString, QString>> ProfileFile::readSection(const QString& path,
                                                            const QString& section)
{
    bool exists = false;
    const auto bytes = load(path, exists);
    if (!bytes)
        return {};
    return sectionIn(*bytes, section);
}

bool ProfileFile::writeValue(const QString& path, const QString& section, const QString& key,
                             const QString& value)
{
    bool exists = false;
    const auto bytes = load(path, exists);
    if (!bytes)
        return false;
    const auto updated = withValue(*bytes, section, key, value);
    if (!updated)
        return false;
    if (exists && *updated == *bytes)
        return true;
    // The new contents go to a temporary file that replaces the old one only when complete;
    // where the folder takes no temporary file, the file itself is rewritten.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(*updated) != updated->size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
