#pragma once

#include <QList>
#include <QString>
#include <utility>

// Reads and writes Windows-style profile (INI) files the way the Windows profile calls do.
class ProfileFile {
public:
    // The stored value of key in section, or def when the file, section or key is missing.
    static QString readValue(const QString& path, const QString& section, const QString& key,
                             const QString& def);
    // Replaces the key's value or adds the key (and the section); false when nothing was written.
    static bool writeValue(const QString& path, const QString& section, const QString& key,
                           const QString& value);
    // Every key=value line of a section, in file order.
    static QList<std::pair<QString, QString>> readSection(const QString& path,
                                                          const QString& section);
};
