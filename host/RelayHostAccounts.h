#pragma once

#include <QByteArrayView>
#include <QHash>
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
    // IDs and keys are otherwise kept exactly, blanks included. Lines that cannot be used are
    // skipped and described in `problems`; a repeated ID keeps its last key.
    static RelayHostAccounts parse(QByteArrayView text, QStringList* problems = nullptr);
    // Empty with `error` set when the file cannot be read.
    static std::optional<RelayHostAccounts> load(const QString& path, QString* error,
                                                 QStringList* problems = nullptr);

    bool accepts(const QString& id, const QString& key) const;
    qsizetype size() const { return keys.size(); }

private:
    QHash<QString, QString> keys;
};
