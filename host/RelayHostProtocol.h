#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

class QHostAddress;

// Reads the requests and builds the replies of the relay host service: pure functions on the
// bytes of one line (without its LF).
class RelayHostProtocol {
public:
    // Codes of the "AUTH:<code>" reply.
    enum AuthCode : int {
        Accepted = 0,
        // Unknown ID or wrong key; the connection is closed after the reply.
        Refused = 1,
        // 2 is not used: an ID may be logged in on several connections at once.
        // Not "AUTH:ID:key": a field missing or extra (a colon in the ID or key), an empty ID,
        // or text that is not UTF-8.
        Malformed = 3,
    };

    enum class Kind { Relayed, Auth, List, Ignored };
    // DATA and CTRL lines are relayed; AUTH and LIST are requests; anything else is ignored.
    static Kind kind(QByteArrayView line);

    struct Login {
        QString id;
        QString key;
    };
    // ID and key of an "AUTH:ID:key" request; empty when the request is malformed.
    static std::optional<Login> parseAuth(QByteArrayView line);

    enum class ListScope { Group, All, None };
    // "LIST" (or "LIST:") asks for the caller's group, "LIST:ALL" for every logged-in copy;
    // any other second field is not a request.
    static ListScope listScope(QByteArrayView line);

    static QByteArray authReply(int code);
    // "LIST:ID:key:host" and its LF.
    static QByteArray listRow(const QString& id, const QString& key, const QString& host);
    // The key shown in "LIST:ALL" rows of other groups.
    static QString maskedKey() { return QStringLiteral("*"); }

    // The peer address as a list row shows it: IPv4 for IPv4-mapped addresses, and IPv6 with
    // "-" in place of ":" so that the row keeps its four fields.
    static QString hostText(const QHostAddress& address);
};
