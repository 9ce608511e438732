#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

struct chmFile;

// Read access to a compiled HTML help file: its pages and pictures, its default topic, its title
// and its table of contents.
class ChmFile {
public:
    // Objects larger than this are refused rather than read into memory.
    static constexpr qint64 MaxObjectBytes = 32 * 1024 * 1024;

    // One entry of the table of contents; depth 0 is the top level.
    struct Topic {
        QString name;
        QString path;
        int depth = 0;
    };

    ChmFile() = default;
    ~ChmFile();
    ChmFile(const ChmFile&) = delete;
    ChmFile& operator=(const ChmFile&) = delete;

    // Closes any open file first. False when path is not a readable help file.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return handle != nullptr; }
    QString path() const { return filePath; }

    // The object at path ("/index.html"); empty when there is none, it cannot be read whole, or
    // it is larger than MaxObjectBytes.
    std::optional<QByteArray> read(const QString& objectPath) const;
    bool contains(const QString& objectPath) const;

    // The page to show first: the file's own default topic, else the first entry of its table of
    // contents, else /index.html or /index.htm; empty when none of them is in the file.
    QString defaultTopic() const;
    QString title() const { return fileTitle; }
    // The table of contents; empty when the file has none.
    QList<Topic> contents() const;

    // An absolute object path: "/" first, "." and ".." resolved, never above the root.
    static QString normalisePath(const QString& path);
    // The entries of a table of contents file (.hhc), nesting given by its lists.
    static QList<Topic> parseContents(const QByteArray& hhc);
    // Text stored by the help compiler: UTF-8 when valid, else Shift-JIS.
    static QString decodeText(const QByteArray& bytes);

private:
    void readSystem();

    chmFile* handle = nullptr;
    QString filePath;
    QString systemDefaultTopic;
    QString contentsFile;
    QString fileTitle;
};
