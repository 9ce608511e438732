#include "core/SerialFraming.h"

#include "core/ComError.h"

#include <QStringList>

int SerialFraming::parse(const QString& text, SerialFraming* out)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return ComError::InvalidPropertyValue;

    SerialFraming f;

    bool ok = false;
    const QString speed = fields.at(0).trimmed();
    f.baudRate = speed.toInt(&ok);
    if (!ok || f.baudRate <= 0 || speed.startsWith(QLatin1Char('+')))
        return ComError::InvalidPropertyValue;

    const QString parity = fields.at(1).trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("EMNOS").contains(parity.at(0)))
        return ComError::InvalidPropertyValue;
    f.parity = parity.at(0).toLatin1();

    const QString bits = fields.at(2).trimmed();
    f.dataBits = bits.toInt(&ok);
    if (!ok || bits.size() != 1 || f.dataBits < 5 || f.dataBits > 8)
        return ComError::InvalidPropertyValue;

    const QString stop = fields.at(3).trimmed();
    if (stop == QLatin1String("1"))
        f.stopBits = StopBits::One;
    else if (stop == QLatin1String("1.5"))
        f.stopBits = StopBits::OneAndHalf;
    else if (stop == QLatin1String("2"))
        f.stopBits = StopBits::Two;
    else
        return ComError::InvalidPropertyValue;

    if (out)
        *out = f;
    return ComError::None;
}

QString SerialFraming::toString() const
{
    const char* stop = stopBits == StopBits::One ? "1" : stopBits == StopBits::Two ? "2" : "1.5";
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(QLatin1String(stop));
}
