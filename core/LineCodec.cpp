#include "core/LineCodec.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

// The two upper-case hex digits of every byte value.
struct HexPairs {
    char16_t pair[256][2];
    constexpr HexPairs() : pair{}
    {
        constexpr char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i) {
            pair[i][0] = char16_t(digits[i >> 4]);
            pair[i][1] = char16_t(digits[i & 15]);
        }
    }
};
constexpr HexPairs hexPairs;

// The value of every ASCII hex digit, -1 for other characters.
struct HexValues {
    int8_t value[128];
    constexpr HexValues() : value{}
    {
        for (int c = 0; c < 128; ++c)
            value[c] = -1;
        for (int c = '0'; c <= '9'; ++c)
            value[c] = int8_t(c - '0');
        for (int c = 'A'; c <= 'F'; ++c) {
            value[c] = int8_t(c - 'A' + 10);
            value[c + ('a' - 'A')] = int8_t(c - 'A' + 10);
        }
    }
};
constexpr HexValues hexValues;

inline int hexValue(char16_t c)
{
    return c < 128 ? hexValues.value[c] : -1;
}

inline bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

} // namespace

QString LineCodec::buildDataLine(const uint8_t* bytes, int count)
{
    if (count < 0 || bytes == nullptr)
        count = 0;
    char digits[16];
    const auto converted = std::to_chars(digits, digits + sizeof digits, count);
    const qsizetype digitCount = converted.ptr - digits;

    static constexpr char16_t head[] = u"DATA:";
    QString line(5 + digitCount + 1 + 2 * qsizetype(count), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(line.data());
    for (int i = 0; i < 5; ++i)
        *out++ = head[i];
    for (qsizetype i = 0; i < digitCount; ++i)
        *out++ = char16_t(digits[i]);
    *out++ = u':';
    for (int i = 0; i < count; ++i) {
        const char16_t* pair = hexPairs.pair[bytes[i]];
        *out++ = pair[0];
        *out++ = pair[1];
    }
    return line;
}

void LineCodec::appendDataLine(QByteArray& out, const uint8_t* bytes, int count)
{
    if (count < 0 || bytes == nullptr)
        count = 0;
    char digits[16];
    const auto converted = std::to_chars(digits, digits + sizeof digits, count);
    const qsizetype digitCount = converted.ptr - digits;

    const qsizetype start = out.size();
    out.resize(start + 5 + digitCount + 1 + 2 * qsizetype(count) + 1);
    char* line = out.data() + start;
    std::memcpy(line, "DATA:", 5);
    line += 5;
    std::memcpy(line, digits, size_t(digitCount));
    line += digitCount;
    *line++ = ':';
    for (int i = 0; i < count; ++i) {
        const char16_t* pair = hexPairs.pair[bytes[i]];
        *line++ = char(pair[0]);
        *line++ = char(pair[1]);
    }
    *line = '\n';
}

QStringView LineCodec::fieldView(QStringView text, int index)
{
    if (index <= 1) {
        const qsizetype colon = text.indexOf(u':');
        return colon < 0 ? text : text.left(colon);
    }
    qsizetype colon = -1;
    for (int k = 1; k < index; ++k) {
        colon = text.indexOf(u':', colon + 1);
        if (colon < 0)
            return {};
    }
    if (colon == text.size() - 1)
        return {};
    const qsizetype next = text.indexOf(u':', colon + 1);
    return next < 0 ? text.mid(colon + 1) : text.mid(colon + 1, next - colon - 1);
}

QString LineCodec::SplitField(const QString& text, int index)
{
    return fieldView(text, index).toString();
}

double LineCodec::readNumber(QStringView field)
{
    const qsizetype n = field.size();
    qsizetype i = 0;
    while (i < n && (field[i] == u' ' || field[i] == u'\t'))
        ++i;

    bool negative = false;
    if (i < n && (field[i] == u'+' || field[i] == u'-')) {
        negative = field[i] == u'-';
        ++i;
    }
    const qsizetype intStart = i;
    while (i < n && isDigit(field[i]))
        ++i;
    const qsizetype intDigits = i - intStart;

    qsizetype fracStart = i;
    qsizetype fracDigits = 0;
    if (i < n && field[i] == u'.') {
        qsizetype j = i + 1;
        while (j < n && isDigit(field[j]))
            ++j;
        fracStart = i + 1;
        fracDigits = j - fracStart;
        if (intDigits > 0 || fracDigits > 0)
            i = j;
    }
    if (intDigits == 0 && fracDigits == 0)
        return 0.0;

    // Decimal exponent of the written exponent part, saturated so that no digit run overflows.
    long long exponent = 0;
    if (i < n && (field[i] == u'e' || field[i] == u'E')) {
        qsizetype j = i + 1;
        bool expNegative = false;
        if (j < n && (field[j] == u'+' || field[j] == u'-')) {
            expNegative = field[j] == u'-';
            ++j;
        }
        const qsizetype expStart = j;
        while (j < n && isDigit(field[j])) {
            exponent = std::min(exponent * 10 + (field[j].unicode() - u'0'), 1000000LL);
            ++j;
        }
        if (j > expStart) {
            i = j;
            if (expNegative)
                exponent = -exponent;
        } else {
            exponent = 0;
        }
    }

    std::string text;
    text.reserve(size_t(i - intStart + 1));
    if (negative)
        text.push_back('-');
    for (qsizetype k = intStart; k < i; ++k)
        text.push_back(char(field[k].unicode()));

    double value = 0.0;
    const auto parsed =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (parsed.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: tell which from the position of the first
        // significant digit and the exponent.
        long long magnitude = 0;
        bool found = false;
        for (qsizetype k = intStart; k < intStart + intDigits && !found; ++k) {
            if (field[k] != u'0') {
                magnitude = intStart + intDigits - k;
                found = true;
            }
        }
        for (qsizetype k = fracStart; k < fracStart + fracDigits && !found; ++k) {
            if (field[k] != u'0') {
                magnitude = -(k - fracStart);
                found = true;
            }
        }
        if (!found)
            return 0.0;
        const bool overflow = magnitude + exponent > 0;
        const double size = overflow ? std::numeric_limits<double>::infinity() : 0.0;
        return negative ? -size : size;
    }
    if (parsed.ec != std::errc())
        return 0.0;
    return value;
}

std::optional<int64_t> LineCodec::roundHalfEven(double value)
{
    if (std::isnan(value) || std::isinf(value))
        return std::nullopt;
    const double below = std::floor(value);
    const double fraction = value - below;
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        rounded = below + 1.0;
    // 2^63 is exactly representable; every double below it converts without overflow.
    constexpr double limit = 9223372036854775808.0;
    if (!(rounded >= -limit && rounded < limit))
        return std::nullopt;
    return static_cast<int64_t>(rounded);
}

std::optional<int> LineCodec::dataCount(QStringView line)
{
    const std::optional<int64_t> count = roundHalfEven(readNumber(fieldView(line, 2)));
    if (!count || *count < 1 || *count > MaxReceivedCount)
        return std::nullopt;
    return int(*count);
}

QByteArray LineCodec::decodeHex(QStringView hex, int count)
{
    if (count <= 0)
        return {};
    QByteArray bytes(count, '\0');
    char* out = bytes.data();
    const char16_t* text = reinterpret_cast<const char16_t*>(hex.utf16());
    const qsizetype length = hex.size();
    for (int i = 0; i < count; ++i) {
        const qsizetype at = 2 * qsizetype(i);
        if (at >= length)
            break;
        const int high = hexValue(text[at]);
        if (high < 0)
            continue;
        const int low = at + 1 < length ? hexValue(text[at + 1]) : -1;
        out[i] = char(low < 0 ? high : high * 16 + low);
    }
    return bytes;
}

std::optional<QByteArray> LineCodec::decodeDataLine(QStringView line)
{
    const std::optional<int> count = dataCount(line);
    if (!count)
        return std::nullopt;
    return decodeHex(fieldView(line, 3), *count);
}
