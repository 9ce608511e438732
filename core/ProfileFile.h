#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// Reads and writes Windows-style profile (INI) files the way the Windows profile calls do.
class ProfileFile {
public:
    // A line "[name]" starts a section; "key=value" lines hold the values. Section and key names
    // match without regard to ASCII letter case (other characters match exactly); blanks around
    // names and values are ignored. Lines starting with ";" are comments. A file that is valid
    // UTF-8 (with or without a BOM) is UTF-8, any other file is Shift-JIS (code page 932) and is
    // written back in Shift-JIS. A UTF-8 character cut short by the end of a line or of the file
    // (a truncated file) does not make the file Shift-JIS. A write changes only the line of the key
    // it stores (or adds one) and keeps every other byte of the file, line ending style included.
    enum class Encoding { Utf8, ShiftJis };

    // Values read back are cut to this many bytes of the file's encoding, on a character boundary.
    static constexpr qsizetype MaxValueBytes = 254;
    // Of a larger file only the lines that end within its first MaxFileBytes bytes are read, and
    // it is never written; no write makes a file larger than this. A profile of this program
    // takes a few kilobytes, so a file of that size is damaged, and reading or rewriting all of
    // it for every value would stall start-up and exit.
    static constexpr qsizetype MaxFileBytes = 1024 * 1024;

    // The stored value of key in section, or def when the file, section or key is missing.
    static QString readValue(const QString& path, const QString& section, const QString& key,
                             const QString& def);
    // Replaces the key's value or adds the key (and the section); false when nothing was written,
    // in which case the file is left as it was. Line breaks and NULs in value become blanks.
    static bool writeValue(const QString& path, const QString& section, const QString& key,
                           const QString& value);
    // Whether writeValue() can store values at path: an existing file that this user may read
    // and write and that is within MaxFileBytes, or a missing file whose folder takes new files.
    // A file in a folder that takes no new files is written in place.
    static bool canWrite(const QString& path);
    // Every key=value line of a section, in file order.
    static QList<std::pair<QString, QString>> readSection(const QString& path,
                                                          const QString& section);

    // The same operations on file contents held in memory.
    static Encoding encodingOf(QByteArrayView content);
    static QString valueIn(QByteArrayView content, const QString& section, const QString& key,
                           const QString& def);
    static QList<std::pair<QString, QString>> sectionIn(QByteArrayView content,
                                                        const QString& section);
    // The new contents, or nothing when the names are unusable (empty, holding a line break,
    // "=" in a key, "]" in a section), the text cannot be stored in the content's encoding, the
    // content or the result is larger than MaxFileBytes, or the value would not read back as
    // written (with its blanks trimmed and cut as on reading).
    static std::optional<QByteArray> withValue(QByteArrayView content, const QString& section,
                                               const QString& key, const QString& value);

    // Whether this Qt build can convert Shift-JIS; without it only ASCII is written to such files.
    static bool shiftJisAvailable();
};
