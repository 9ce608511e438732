#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// Builds and reads the text lines of the LAN link: pure functions, no window and no socket.
class LineCodec {
public:
    // Bytes carried by one DATA line.
    static constexpr int MaxDataBytes = 256;
    // The longest DATA line we build: "DATA:256:", 512 hex digits and the LF.
    static constexpr int MaxDataLineChars = 9 + 2 * MaxDataBytes + 1;
    // Largest byte count a received DATA line may ask for; anything above is ignored.
    static constexpr int MaxReceivedCount = 32767;

    // "DATA:<count>:<hex>" with two upper-case hex digits a byte and no LF.
    // A negative count is taken as 0.
    static QString buildDataLine(const uint8_t* bytes, int count);
    // The same line as buildDataLine, with its LF, appended to `out` in its wire form.
    static void appendDataLine(QByteArray& out, const uint8_t* bytes, int count);

    // Field `index` of a line, fields separated by colons. Index 1 or less is the text before
    // the first colon (all of it without one); index n >= 2 is the text after the (n-1)-th colon
    // up to the next colon or the end, empty when there are fewer colons or that colon ends the
    // text.
    static QString SplitField(const QString& text, int index);
    static QStringView fieldView(QStringView text, int index);

    // The longest leading decimal number after leading blanks (spaces, tabs): optional sign,
    // digits, optional fraction, an exponent only when digits follow it. 0 when there is none.
    // Values beyond double's range read as +/-infinity or 0.
    static double readNumber(QStringView field);

    // Nearest whole number, halves to the even neighbour. Empty for NaN and for values outside
    // the 64-bit range.
    static std::optional<int64_t> roundHalfEven(double value);

    // The byte count of a received DATA line (field 2 read as a number, rounded half to even).
    // Empty when it is below 1 or above MaxReceivedCount: such a line is to be ignored.
    static std::optional<int> dataCount(QStringView line);

    // Exactly `count` bytes from hex text: byte i comes from the characters 2i and 2i+1
    // (0-based), read as hex until the first non-hex character or the end of the text, 0 when
    // no digit is read. Characters beyond 2*count are ignored. A negative count gives nothing.
    static QByteArray decodeHex(QStringView hex, int count);

    // The bytes of a received DATA line (the caller has matched the keyword): dataCount bytes
    // decoded from field 3, or empty when the line is to be ignored.
    static std::optional<QByteArray> decodeDataLine(QStringView line);
};
