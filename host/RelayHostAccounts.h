#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// The ID=key pairs allowed to log in to the relay host service.
class RelayHostAccounts {
public:
    // A longer file is refused rather than read into memory.
    static constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

    // One "ID=key" a line, split at the first "="; blank lines and lines starting with "#"
    // (after blanks) are skipped, a CR ending a line and a UTF-8 byte order mark are dropped.
    // IDs and keys are otherwise kept exactly, blanks included. "admin:ID=key" marks the ID as
    // an administrator: an ID never holds ":" (the login line is split at it), so no line of
    // an older file that could log in reads differently. Lines that cannot be used are skipped
    // and described in `problems`; a repeated ID keeps its last line, key and mark.
    static RelayHostAccounts parse(QByteArrayView text, QStringList* problems = nullptr);
    // Empty with `error` set when the file cannot be read.
    static std::optional<RelayHostAccounts> load(const QString& path, QString* error,
                                                 QStringList* problems = nullptr);

    static constexpr QLatin1String AdminMark{"admin:"};

    bool accepts(const QString& id, const QString& key) const;
    bool isAdministrator(const QString& id) const { return admins.contains(id); }
    qsizetype size() const { return keys.size(); }
    qsizetype administratorCount() const { return admins.size(); }

private:
    QHash<QString, QString> keys;
    QSet<QString> admins;
};
