// libFuzzer target: the profile file reader and writer on arbitrary file contents.
// Input: byte 0 holds flags (bit 0: section from the name list, bit 1: key from the name list,
// bit 2: a plain value, bit 3 with bit 7 of byte 2: filler lines up to near the size bound first),
// bytes 1 to 3 give the lengths (or list positions) of section, key and value, which follow as
// UTF-8; the rest is the file. Any broken property aborts.
#include "core/ProfileFile.h"

#include <QByteArrayList>
#include <QStringEncoder>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

const QStringList Names = {
    QStringLiteral("Settings"), QStringLiteral("sETTINGS"), QStringLiteral("Ports"),
    QStringLiteral("COM3"),     QStringLiteral("HostID"),   QStringLiteral("シリアルポート２"),
    QStringLiteral("ゾーン"),   QStringLiteral("Server1"),  QStringLiteral(" a b "),
    QStringLiteral("[x"),       QStringLiteral(";c"),       QStringLiteral("k=v"),
    QStringLiteral("Ｓｅｔ"),   QStringLiteral("ア"),       QStringLiteral("x]y"),
    QStringLiteral("\t"),
};

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Takes up to n bytes from the front of the input.
QByteArrayView take(QByteArrayView& rest, qsizetype n)
{
    n = std::min(n, rest.size());
    const QByteArrayView part = rest.first(n);
    rest = rest.sliced(n);
    return part;
}

QString textOrName(QByteArrayView& rest, uint8_t n, bool fromList)
{
    return fromList ? Names.at(n % Names.size()) : QString::fromUtf8(take(rest, n % 40));
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r';
}

// The value as a reader sees it after a write: line breaks and NULs as blanks, blanks trimmed.
QString storedForm(const QString& value)
{
    QString flat = value;
    for (QChar& c : flat) {
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    }
    qsizetype begin = 0;
    qsizetype end = flat.size();
    while (begin < end && isBlank(flat.at(begin)))
        ++begin;
    while (end > begin && isBlank(flat.at(end - 1)))
        --end;
    return flat.mid(begin, end - begin);
}

qsizetype encodedSize(const QString& text, ProfileFile::Encoding encoding)
{
    if (encoding == ProfileFile::Encoding::Utf8)
        return text.toUtf8().size();
    QStringEncoder encoder("Shift_JIS");
    return encoder.isValid() ? QByteArray(encoder.encode(text)).size() : text.size();
}

// Outside one replaced line and up to three added ones, every line is where it was.
void checkLinesKept(const QByteArray& before, const QByteArray& after)
{
    // Only the lines around the bytes that differ are compared line by line.
    const qsizetype common = std::min(before.size(), after.size());
    qsizetype same = 0;
    while (same < common && before[same] == after[same])
        ++same;
    qsizetype sameEnd = 0;
    while (sameEnd < common - same &&
           before[before.size() - 1 - sameEnd] == after[after.size() - 1 - sameEnd])
        ++sameEnd;
    const qsizetype start = same == 0 ? 0 : before.lastIndexOf('\n', same - 1) + 1;
    const qsizetype oldEnd = before.size() - sameEnd;
    const qsizetype newEnd = after.size() - sameEnd;
    const bool atLineStart =
        (oldEnd == 0 || before[oldEnd - 1] == '\n') && (newEnd == 0 || after[newEnd - 1] == '\n');
    qsizetype widen = 0;
    if (!atLineStart) {
        const qsizetype lf = before.indexOf('\n', oldEnd);
        widen = lf < 0 ? sameEnd : lf + 1 - oldEnd;
    }
    QByteArrayList old = before.mid(start, oldEnd + widen - start).split('\n');
    QByteArrayList now = after.mid(start, newEnd + widen - start).split('\n');
    // A line keeps its text when a line break completes it.
    for (QByteArrayList* lines : {&old, &now})
        for (QByteArray& line : *lines)
            line.chop(line.endsWith('\r') ? 1 : 0);
    const qsizetype shorter = std::min(old.size(), now.size());
    qsizetype head = 0;
    while (head < shorter && old.at(head) == now.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < shorter - head && old.at(old.size() - 1 - tail) == now.at(now.size() - 1 - tail))
        ++tail;
    const qsizetype removed = old.size() - head - tail;
    const qsizetype added = now.size() - head - tail;
    check(removed <= 1 && added <= 3);
    if (removed == 1)
        check(old.at(head).contains('=') && added == 1);
}

bool isPlain(const QString& text)
{
    for (const QChar c : text) {
        if (!c.isLetterOrNumber() || c.unicode() >= 0x80)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint8_t flags = data[0];
    QByteArrayView rest(reinterpret_cast<const char*>(data) + 4, qsizetype(size - 4));
    const QString section = textOrName(rest, data[1], flags & 1);
    const QString key = textOrName(rest, data[2], flags & 2);
    const QString value = QString::fromUtf8(take(rest, data[3] % ((flags & 4) ? 16 : 255 + 64)));
    QByteArray content = rest.toByteArray();
    if ((flags & 8) && (data[2] & 0x80)) {
        // Filler lines up to a little before or after the bound, the input's text across it.
        const qsizetype target = ProfileFile::MaxFileBytes - 300 + data[3];
        QByteArray filler = ("; " + QByteArray(1021, 'f') + '\n').repeated(target / 1024);
        if (target % 1024 != 0)
            filler += QByteArray(target % 1024 - 1, ';') + '\n';
        content.prepend(filler);
    }

    const QString none = QStringLiteral("\uFFFF<none>");
    const QString before = ProfileFile::valueIn(content, section, key, none);
    const auto entries = ProfileFile::sectionIn(content, section);
    check(before == none || !entries.isEmpty());

    const auto written = ProfileFile::withValue(content, section, key, value);
    const bool plainWrite = Names.mid(0, 5).contains(section) && Names.mid(3, 5).contains(key) &&
                            isPlain(value) && content.size() < ProfileFile::MaxFileBytes - 2048;
    if (!written) {
        check(!plainWrite);
        return 0;
    }
    const QByteArray& out = *written;
    check(out.size() <= ProfileFile::MaxFileBytes);

    const ProfileFile::Encoding encoding = ProfileFile::encodingOf(content);
    const QString expected = storedForm(value);
    const QString got = ProfileFile::valueIn(out, section, key, none);
    if (encodedSize(expected, encoding) <= ProfileFile::MaxValueBytes) {
        check(got == expected);
    } else {
        // Cut on reading: a prefix of whole characters at most MaxValueBytes long.
        check(expected.startsWith(got));
        check(encodedSize(got, encoding) <= ProfileFile::MaxValueBytes);
        check(encodedSize(got, encoding) > ProfileFile::MaxValueBytes - 4);
    }

    // A byte-order mark belongs to the file, not to its first line.
    const QByteArray bom("\xEF\xBB\xBF");
    if (content.startsWith(bom) && out.startsWith(bom))
        checkLinesKept(content.sliced(3), out.sliced(3));
    else
        checkLinesKept(content, out);
    // Writing the same value again changes nothing.
    check(ProfileFile::withValue(out, section, key, value) == out);
    // Another key of the list reads as before while the file keeps its encoding.
    const QString other = Names.at(flags >> 4);
    if (ProfileFile::encodingOf(out) == encoding &&
        other.trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0) {
        check(ProfileFile::valueIn(out, section, other, none) ==
              ProfileFile::valueIn(content, section, other, none));
    }
    return 0;
}
