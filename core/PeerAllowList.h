#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

// The peer addresses and networks a server-role copy accepts, read from the profile's text.
class PeerAllowList {
public:
    // Entries are separated by commas and/or blanks. An entry is an IPv4 address written with
    // all four numbers, or an IPv6 address, alone or followed by "/" and a prefix length (or,
    // for IPv4, a dotted mask). Entries that cannot be read are kept aside and admit nobody.
    static PeerAllowList parse(const QString& text);

    // True when the text held any entry, readable or not: only then are peers checked, and a
    // list none of whose entries could be read admits nobody.
    bool restricts() const { return !nets.isEmpty() || !bad.isEmpty(); }
    // Whether peer lies in one of the networks; an IPv4-mapped IPv6 address (as a dual-stack
    // listener reports an IPv4 peer) counts as its IPv4 address.
    bool allows(const QHostAddress& peer) const;

    // The readable entries as network address and prefix length, IPv4-mapped ones as IPv4.
    const QList<std::pair<QHostAddress, int>>& networks() const { return nets; }
    // The entries that could not be read, as written.
    const QStringList& unreadable() const { return bad; }

private:
    QList<std::pair<QHostAddress, int>> nets;
    QStringList bad;
};
