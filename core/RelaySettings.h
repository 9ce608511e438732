#pragma once

#include "core/RelayHostEndpoint.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// Where the relay's destination is: another serial port, the source port itself, or the LAN.
// Stored in the profile as these numbers; any other number opens no destination.
enum class DestinationKind : int32_t { Serial = 1, Echo = 2, Lan = 3 };
// The part a copy plays on the LAN; stored in the profile as these numbers.
enum class LanRole : int32_t { Server = 1, Client = 2, Host = 3 };

// Everything one relay start needs, and the rules that turn picker and profile texts into it, so
// that the window and a program without one read the same profile the same way.
class RelaySettings {
public:
    // One serial side: its COM number and the texts of its four framing pickers.
    struct Side {
        int comPort = 0;
        QString speed;
        QString parity;
        QString bits;
        QString stopBits;

        // The port control's framing text ("9600,N,8,1").
        QString framingText() const;
        bool operator==(const Side&) const = default;
    };

    Side source;
    Side destination;
    DestinationKind kind = DestinationKind::Serial;
    LanRole role = LanRole::Server;
    // Server role: the port to listen on.
    int listenPort = 1000;
    // Client role: the peer copy.
    QString peerHost = QStringLiteral("127.0.0.1");
    int peerPort = 1000;
    // Host role: the login, and where the relay host service is.
    QString hostId = QStringLiteral("Guest");
    QString hostKey = QStringLiteral("Vorm");
    // A host-role start is refused with relayHost.problem when it is set.
    RelayHostEndpoint relayHost;
    // Server role: the peers it accepts, as PeerAllowList reads them; empty admits everyone.
    QString allowedPeers;

    bool operator==(const RelaySettings&) const = default;

    // The items of the framing pickers, in list order.
    static const QStringList& speedItems();
    static const QStringList& parityItems();
    static const QStringList& bitsItems();
    static const QStringList& stopBitsItems();
    // A speed text naming a whole rate above 0 that fits 32 bits, in plain digits ("250000").
    static bool isWholeRate(const QString& text);
    // Where a stored whole rate that items lack goes to keep them ascending; -1 when the text is
    // listed already or names no whole rate.
    static int speedInsertIndex(const QStringList& items, const QString& stored);
    // The speed items, with a stored rate they lack added in its place.
    static QStringList speedItemsWith(const QString& stored);

    // "<speed>,<first letter of parity>,<bits>,<stop bits>".
    static QString framingText(const QString& speed, const QString& parity, const QString& bits,
                               const QString& stopBits);
    // A TCP port text read from its leading number (leading blanks skipped), rounded half to
    // even; 0 when the text does not begin with a number, -1 when it is beyond 32 bits.
    static int portNumber(const QString& text);

    // A stored whole number: blanks around it allowed, a fraction rounded half to even.
    // Nothing when the text is no number or the result lies outside [min, max].
    static std::optional<qint64> toInteger(const QString& text, qint64 min, qint64 max);
    // The first item whose port number is n; -1 when n is negative or no item has it.
    static int portIndex(const QStringList& items, int n);
    // The first item equal to text, letter case significant; -1 when none is.
    static int itemIndex(const QStringList& items, const QString& text);

    // The [Settings] keys and the defaults the window restores with. Keys of the destination
    // side end in DestinationSuffix.
    static inline const QString Section = QStringLiteral("Settings");
    static inline const QString DestinationSuffix = QStringLiteral("２");
    static inline const QString PortKey = QStringLiteral("シリアルポート");
    static inline const QString SpeedKey = QStringLiteral("速度");
    static inline const QString ParityKey = QStringLiteral("パリティ");
    static inline const QString BitsKey = QStringLiteral("ビット");
    static inline const QString StopBitsKey = QStringLiteral("ストップビット");
    static inline const QString DefaultSpeed = QStringLiteral("9600");
    static inline const QString DefaultParity = QStringLiteral("None");
    static inline const QString DefaultBits = QStringLiteral("8");
    static inline const QString DefaultStopBits = QStringLiteral("1");
    static inline const QString DefaultHostId = QStringLiteral("Guest");
    static inline const QString DefaultHostKey = QStringLiteral("Vorm");
    static inline const QString DefaultPort = QStringLiteral("1000");
    static inline const QString DefaultPeerHost = QStringLiteral("127.0.0.1");
    static constexpr qint64 DefaultDestType = 1;
    static constexpr qint64 DefaultDestMode = 1;

    // A picker's restored text: the stored text when the list holds it, else none.
    static QString listedText(const QStringList& items, const QString& stored);
    // [LanAccess]: every Allow= line of the section joined by commas, in file order. A value
    // long enough to have been cut on reading ends in "…", so its last entry cannot be read.
    static inline const QString AccessSection = QStringLiteral("LanAccess");
    static inline const QString AllowKey = QStringLiteral("Allow");
    static QString allowedPeersIn(const QString& iniPath);

    // The value the window's restore would build from the profile at iniPath: the same keys,
    // defaults and handling of values that are no number or not listed. The COM numbers are
    // taken as stored (0 when missing or unusable), not matched against the ports present.
    // The relay host comes from RelayHostEndpoint::read, as the window's relay start takes it.
    static RelaySettings fromProfile(const QString& iniPath);
};
