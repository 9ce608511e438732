#include "core/RelayHostEndpoint.h"

#include "core/ProfileFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString variableSource = QStringLiteral("環境変数 NIRVEX_RELAY_HOST");

QString problemText(const QString& where, const QString& value, const QString& wanted)
{
    return QStringLiteral("中継ホストの設定 %1 の値「%2」が正しくありません（%3）。")
        .arg(where, value, wanted);
}

QString keySource(const char* key)
{
    return QStringLiteral("[RelayHost] ") + QLatin1String(key);
}

// 1 to 65535 in decimal digits only; 0 for anything else.
int portOf(const QString& text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : 0;
}

} // namespace

QByteArray RelayHostEndpoint::parseFingerprint(const QString& text)
{
    QByteArray hex;
    for (const QChar c : text) {
        if (c == QLatin1Char(':') || c.isSpace())
            continue;
        const char ch = char(c.toLower().unicode());
        if (c.unicode() > 0x7f || !((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')))
            return {};
        hex.append(char(c.unicode()));
    }
    if (hex.size() != 64)
        return {};
    return QByteArray::fromHex(hex);
}

RelayHostEndpoint RelayHostEndpoint::resolve(const QString& variable, const Section& section,
                                             const QString& builtInHost)
{
    RelayHostEndpoint endpoint;
    const auto fail = [&](const QString& where, const QString& value, const QString& wanted) {
        if (endpoint.problem.isEmpty())
            endpoint.problem = problemText(where, value, wanted);
    };

    const QString tlsText = section.tls.trimmed();
    if (tlsText == QLatin1String("1"))
        endpoint.tls = true;
    else if (!tlsText.isEmpty() && tlsText != QLatin1String("0"))
        fail(keySource("TLS"), tlsText, QStringLiteral("0 または 1"));

    QString host;
    QString portText;
    const QString given = variable.trimmed();
    if (!given.isEmpty()) {
        if (given.startsWith(QLatin1Char('['))) {
            const qsizetype close = given.indexOf(QLatin1Char(']'));
            const QString rest = close < 0 ? QString() : given.mid(close + 1);
            if (close < 0 || (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))) {
                fail(variableSource, given, QStringLiteral("[IPv6 アドレス]:ポート の形"));
            } else {
                host = given.mid(1, close - 1);
                portText = rest.mid(1);
                if (!rest.isEmpty() && portText.isEmpty())
                    fail(variableSource, given, QStringLiteral(": の後にポート"));
            }
        } else if (given.count(QLatin1Char(':')) == 1) {
            host = given.section(QLatin1Char(':'), 0, 0);
            portText = given.section(QLatin1Char(':'), 1);
            if (portText.isEmpty())
                fail(variableSource, given, QStringLiteral(": の後にポート"));
        } else {
            host = given;
        }
        if (host.trimmed().isEmpty())
            fail(variableSource, given, QStringLiteral("ホスト名またはアドレスがありません"));
        if (!portText.isEmpty() && portOf(portText) == 0)
            fail(variableSource, given, QStringLiteral("ポートは 1～65535 の数"));
    }
    if (host.trimmed().isEmpty())
        host = section.host.trimmed();
    if (host.isEmpty())
        host = builtInHost;
    endpoint.host = host.trimmed();

    const QString sectionPort = section.port.trimmed();
    if (portText.isEmpty() && !sectionPort.isEmpty()) {
        portText = sectionPort;
        if (portOf(portText) == 0)
            fail(keySource("Port"), portText, QStringLiteral("1～65535 の数"));
    }
    endpoint.port = portText.isEmpty() ? (endpoint.tls ? TlsPort : PlainPort) : portOf(portText);

    const QString pin = section.fingerprint.trimmed();
    if (!pin.isEmpty()) {
        endpoint.fingerprint = parseFingerprint(pin);
        if (endpoint.fingerprint.isEmpty())
            fail(keySource("Fingerprint"), pin, QStringLiteral("SHA-256 の16進数64桁"));
    }
    endpoint.caFile = section.caFile.trimmed();
    // Without TLS=1 a pin or a CA file would protect nothing: the link would be clear text.
    if (!endpoint.tls && !pin.isEmpty())
        fail(keySource("Fingerprint"), pin, QStringLiteral("TLS=1 のときだけ使えます"));
    if (!endpoint.tls && !endpoint.caFile.isEmpty())
        fail(keySource("CAFile"), endpoint.caFile, QStringLiteral("TLS=1 のときだけ使えます"));
    return endpoint;
}

RelayHostEndpoint RelayHostEndpoint::read(const QString& iniPath)
{
    const auto value = [&](const char* key) {
        return ProfileFile::readValue(iniPath, SectionName, QLatin1String(key), QString());
    };
    const Section section{value("Host"), value("Port"), value("TLS"), value("Fingerprint"),
                          value("CAFile")};
    RelayHostEndpoint endpoint = resolve(qEnvironmentVariable(qPrintable(VariableName)), section,
                                         QStringLiteral(NIRVEX_RELAY_HOST));
    if (!endpoint.caFile.isEmpty() && QFileInfo(endpoint.caFile).isRelative())
        endpoint.caFile = QFileInfo(iniPath).absoluteDir().filePath(endpoint.caFile);
    return endpoint;
}
