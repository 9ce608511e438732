#include "DataLines.h"

#include "core/LineCodec.h"

#include <QList>

QByteArray DataLines::numbered(int number)
{
    QByteArray bytes(256, '\0');
    for (int k = 0; k < bytes.size(); ++k)
        bytes[k] = char((number >> (8 * (k % 4))) + k);
    return "DATA:256:" + bytes.toHex().toUpper() + '\n';
}

QByteArray DataLines::stream(int count)
{
    QByteArray text;
    text.reserve(qsizetype(count) * 522);
    for (int n = 0; n < count; ++n)
        text += numbered(n);
    return text;
}

QByteArray DataLines::payload(const QByteArray& text)
{
    QByteArray bytes;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith("DATA:"))
            bytes += LineCodec::decodeDataLine(QString::fromLatin1(line)).value_or("?");
    return bytes;
}
