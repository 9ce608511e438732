#include "host/RelayHostAccounts.h"

#include <QFile>
#include <QStringDecoder>

RelayHostAccounts RelayHostAccounts::parse(QByteArrayView text, QStringList* problems)
{
    RelayHostAccounts accounts;
    const auto problem = [problems](int number, const QString& what) {
        if (problems)
            problems->append(QStringLiteral("line %1: %2").arg(number).arg(what));
    };
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);

    int number = 0;
    while (!text.isEmpty()) {
        ++number;
        const qsizetype lf = text.indexOf('\n');
        QByteArrayView raw = lf < 0 ? text : text.first(lf);
        text = lf < 0 ? QByteArrayView() : text.sliced(lf + 1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QByteArrayView trimmed = raw.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;

        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = decoder(raw);
        if (decoder.hasError()) {
            problem(number, QStringLiteral("not UTF-8, skipped"));
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            problem(number, QStringLiteral("no \"=\" between ID and key, skipped"));
            continue;
        }
        QString id = line.left(equals);
        const QString key = line.mid(equals + 1);
        const bool admin = id.startsWith(AdminMark);
        if (admin)
            id.remove(0, AdminMark.size());
        if (id.isEmpty()) {
            problem(number, QStringLiteral("empty ID, skipped"));
            continue;
        }
        if (id.contains(QLatin1Char(':')) || key.contains(QLatin1Char(':'))) {
            problem(number, QStringLiteral("\":\" in the ID or key can never log in, skipped"));
            continue;
        }
        if (accounts.keys.contains(id))
            problem(number, QStringLiteral("ID listed again, this key replaces the earlier one"));
        accounts.keys.insert(id, key);
        if (admin)
            accounts.admins.insert(id);
        else
            accounts.admins.remove(id);
    }
    return accounts;
}

std::optional<RelayHostAccounts> RelayHostAccounts::load(const QString& path, QString* error,
                                                         QStringList* problems)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray text = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    if (text.size() > MaxFileBytes) {
        if (error)
            *error = QStringLiteral("larger than %1 bytes").arg(MaxFileBytes);
        return std::nullopt;
    }
    return parse(text, problems);
}

bool RelayHostAccounts::accepts(const QString& id, const QString& key) const
{
    const auto found = keys.constFind(id);
    return found != keys.constEnd() && *found == key;
}
