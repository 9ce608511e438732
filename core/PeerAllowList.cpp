#include "core/PeerAllowList.h"

#include <QRegularExpression>

namespace {

// An IPv4-mapped IPv6 address as the IPv4 address it stands for; any other unchanged.
QHostAddress unmapped(const QHostAddress& address)
{
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

// The address part of an entry must be a whole address: Qt also reads "10.1" or "192.168.1"
// as networks, and a number with a leading zero is octal to some tools, so neither is taken.
bool wholeAddress(const QString& address)
{
    static const QRegularExpression ipv4(
        QStringLiteral("^(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}$"));
    if (address.contains(QLatin1Char(':')))
        return QHostAddress().setAddress(address);
    return ipv4.match(address).hasMatch();
}

} // namespace

PeerAllowList PeerAllowList::parse(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    PeerAllowList list;
    for (const QString& entry : text.split(separators, Qt::SkipEmptyParts)) {
        const auto [network, length] = wholeAddress(entry.section(QLatin1Char('/'), 0, 0))
                                           ? QHostAddress::parseSubnet(entry)
                                           : std::pair<QHostAddress, int>{QHostAddress(), -1};
        if (network.isNull() || length < 0) {
            list.bad.append(entry);
            continue;
        }
        // A mapped network keeps the 96 bits of the mapping prefix, so it is an IPv4 network.
        const QHostAddress net = unmapped(network);
        const bool mapped = net.protocol() != network.protocol();
        list.nets.append({net, mapped ? length - 96 : length});
    }
    return list;
}

bool PeerAllowList::allows(const QHostAddress& peer) const
{
    const QHostAddress address = unmapped(peer);
    for (const auto& [network, length] : nets) {
        if (address.isInSubnet(network, length))
            return true;
    }
    return false;
}
