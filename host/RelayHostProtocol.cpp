#include "host/RelayHostProtocol.h"

#include "core/LineCodec.h"

#include <QHostAddress>
#include <QStringDecoder>

namespace {

// The line as text, empty when it is not valid UTF-8.
std::optional<QString> decoded(QByteArrayView line)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(line);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

RelayHostProtocol::Kind RelayHostProtocol::kind(QByteArrayView line)
{
    // Every keyword here has four letters: the keyword is the whole line or ends at line[4].
    if (line.size() < 4 || (line.size() > 4 && line[4] != ':'))
        return Kind::Ignored;
    const QByteArrayView word = line.first(4);
    if (word == "DATA" || word == "CTRL")
        return Kind::Relayed;
    if (word == "AUTH")
        return Kind::Auth;
    if (word == "LIST")
        return Kind::List;
    return Kind::Ignored;
}

std::optional<RelayHostProtocol::Login> RelayHostProtocol::parseAuth(QByteArrayView line)
{
    if (line.count(':') != 2)
        return std::nullopt;
    const std::optional<QString> text = decoded(line);
    if (!text)
        return std::nullopt;
    Login login{LineCodec::fieldView(*text, 2).toString(),
                LineCodec::fieldView(*text, 3).toString()};
    if (login.id.isEmpty())
        return std::nullopt;
    return login;
}

RelayHostProtocol::ListScope RelayHostProtocol::listScope(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return ListScope::Group;
    QByteArrayView second = line.sliced(colon + 1);
    const qsizetype next = second.indexOf(':');
    if (next >= 0)
        second = second.first(next);
    if (second.isEmpty())
        return ListScope::Group;
    return second == "ALL" ? ListScope::All : ListScope::None;
}

QByteArray RelayHostProtocol::authReply(int code)
{
    return "AUTH:" + QByteArray::number(code) + '\n';
}

QByteArray RelayHostProtocol::listRow(const QString& id, const QString& key, const QString& host)
{
    return (QLatin1String("LIST:") + id + QLatin1Char(':') + key + QLatin1Char(':') + host +
            QLatin1Char('\n'))
        .toUtf8();
}

QString RelayHostProtocol::hostText(const QHostAddress& address)
{
    bool v4Address = false;
    const quint32 v4 = address.toIPv4Address(&v4Address);
    if (v4Address)
        return QHostAddress(v4).toString();
    QString text = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        text.replace(QLatin1Char(':'), QLatin1Char('-'));
    return text;
}
