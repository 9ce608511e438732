#include "core/RelaySettings.h"

#include "core/ExtractNumber.h"
#include "core/LineCodec.h"
#include "core/ProfileFile.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 int16Min = std::numeric_limits<int16_t>::min();
constexpr qint64 int16Max = std::numeric_limits<int16_t>::max();
constexpr qint64 int32Min = std::numeric_limits<int32_t>::min();
constexpr qint64 int32Max = std::numeric_limits<int32_t>::max();

} // namespace

QString RelaySettings::Side::framingText() const
{
    return RelaySettings::framingText(speed, parity, bits, stopBits);
}

const QStringList& RelaySettings::speedItems()
{
    static const QStringList items = {
        QStringLiteral("110"),    QStringLiteral("300"),    QStringLiteral("600"),
        QStringLiteral("1200"),   QStringLiteral("2400"),   QStringLiteral("4800"),
        QStringLiteral("9600"),   QStringLiteral("14400"),  QStringLiteral("19200"),
        QStringLiteral("28800"),  QStringLiteral("38400"),  QStringLiteral("56000"),
        QStringLiteral("57600"),  QStringLiteral("115200"), QStringLiteral("128000"),
        QStringLiteral("230400"), QStringLiteral("256000"), QStringLiteral("460800"),
        QStringLiteral("921600")};
    return items;
}

bool RelaySettings::isWholeRate(const QString& text)
{
    // Plain decimal digits only, as an item text would read: no sign, blank or leading zero.
    if (text.isEmpty() || text.size() > 10 || text.front() == QLatin1Char('0'))
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return text.toLongLong() <= int32Max;
}

int RelaySettings::speedInsertIndex(const QStringList& items, const QString& stored)
{
    if (!isWholeRate(stored) || itemIndex(items, stored) >= 0)
        return -1;
    const qint64 rate = stored.toLongLong();
    int at = 0;
    while (at < items.size() && items.at(at).toLongLong() < rate)
        ++at;
    return at;
}

QStringList RelaySettings::speedItemsWith(const QString& stored)
{
    QStringList items = speedItems();
    const int at = speedInsertIndex(items, stored);
    if (at >= 0)
        items.insert(at, stored);
    return items;
}

const QStringList& RelaySettings::parityItems()
{
    static const QStringList items = {QStringLiteral("Even"), QStringLiteral("Mark"),
                                      QStringLiteral("None"), QStringLiteral("Odd"),
                                      QStringLiteral("Space")};
    return items;
}

const QStringList& RelaySettings::bitsItems()
{
    static const QStringList items = {QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                      QStringLiteral("7"), QStringLiteral("8")};
    return items;
}

const QStringList& RelaySettings::stopBitsItems()
{
    static const QStringList items = {QStringLiteral("1"), QStringLiteral("1.5"),
                                      QStringLiteral("2")};
    return items;
}

QString RelaySettings::framingText(const QString& speed, const QString& parity, const QString& bits,
                                   const QString& stopBits)
{
    return speed + QLatin1Char(',') + parity.left(1) + QLatin1Char(',') + bits + QLatin1Char(',') +
           stopBits;
}

int RelaySettings::portNumber(const QString& text)
{
    const std::optional<int64_t> number = LineCodec::roundHalfEven(LineCodec::readNumber(text));
    if (!number || *number < int32Min || *number > int32Max)
        return -1;
    return int(*number);
}

std::optional<qint64> RelaySettings::toInteger(const QString& text, qint64 min, qint64 max)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // The default rounding mode rounds halves to the even neighbour.
    const double rounded = std::nearbyint(value);
    if (rounded < double(min) || rounded > double(max))
        return std::nullopt;
    return qint64(rounded);
}

int RelaySettings::portIndex(const QStringList& items, int n)
{
    if (n < 0)
        return -1;
    for (int i = 0; i < items.size(); ++i) {
        if (ExtractNumber(items.at(i)) == n)
            return i;
    }
    return -1;
}

int RelaySettings::itemIndex(const QStringList& items, const QString& text)
{
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i) == text)
            return i;
    }
    return -1;
}

QString RelaySettings::listedText(const QStringList& items, const QString& stored)
{
    return itemIndex(items, stored) >= 0 ? stored : QString();
}

RelaySettings RelaySettings::fromProfile(const QString& iniPath)
{
    const auto text = [&](const QString& key, const QString& def) {
        return ProfileFile::readValue(iniPath, Section, key, def);
    };
    const auto number = [&](const QString& key, qint64 def, qint64 min, qint64 max) {
        return toInteger(text(key, QString::number(def)), min, max).value_or(def);
    };
    const auto side = [&](const QString& suffix) {
        Side s;
        // No stored port reads as no picker selection: COM number 0.
        s.comPort = int(std::max<qint64>(0, number(PortKey + suffix, -1, int16Min, int16Max)));
        const QString speed = text(SpeedKey + suffix, DefaultSpeed);
        s.speed = listedText(speedItemsWith(speed), speed);
        s.parity = listedText(parityItems(), text(ParityKey + suffix, DefaultParity));
        s.bits = listedText(bitsItems(), text(BitsKey + suffix, DefaultBits));
        s.stopBits = listedText(stopBitsItems(), text(StopBitsKey + suffix, DefaultStopBits));
        return s;
    };

    RelaySettings settings;
    settings.source = side(QString());
    settings.destination = side(DestinationSuffix);
    settings.hostId = text(QStringLiteral("HostID"), DefaultHostId);
    settings.hostKey = text(QStringLiteral("HostKey"), DefaultHostKey);
    settings.listenPort = portNumber(text(QStringLiteral("Port"), DefaultPort));
    settings.peerPort = portNumber(text(QStringLiteral("ServerPort"), DefaultPort));
    settings.peerHost = text(QStringLiteral("Server0"), DefaultPeerHost);
    settings.kind = DestinationKind(
        int32_t(number(QStringLiteral("DestType"), DefaultDestType, int32Min, int32Max)));
    settings.role =
        LanRole(int32_t(number(QStringLiteral("DestMode"), DefaultDestMode, int32Min, int32Max)));
    settings.relayHost = RelayHostEndpoint::read(iniPath);
    settings.allowedPeers = allowedPeersIn(iniPath);
    return settings;
}

QString RelaySettings::allowedPeersIn(const QString& iniPath)
{
    QStringList values;
    for (const auto& [key, value] : ProfileFile::readSection(iniPath, AccessSection)) {
        if (key.compare(AllowKey, Qt::CaseInsensitive) != 0)
            continue;
        // Reading cuts a value at MaxValueBytes (backing off to a character start), and a cut
        // entry may read as another address or a wider network.
        const bool maybeCut = value.toUtf8().size() >= ProfileFile::MaxValueBytes - 3;
        values.append(maybeCut ? value + QStringLiteral("…") : value);
    }
    return values.join(QLatin1Char(','));
}
