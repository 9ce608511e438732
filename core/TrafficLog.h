#pragma once

#include "core/ModemLine.h"

#include <QByteArray>
#include <QString>
#include <deque>

// What a relay passed each way, kept as timed bursts and modem line events within a byte budget
// (oldest dropped first), readable as hex dump lines; the byte counts cover everything seen.
class TrafficLog {
public:
    // Bytes taken from the source port, and bytes written to it.
    enum class Direction { ToDestination, ToSource };
    enum class LineKind { Header, Data, Event };
    struct Line {
        LineKind kind;
        Direction direction;
        QString text;
    };

    static constexpr qsizetype DefaultLimit = 1024 * 1024;
    static constexpr int BytesPerLine = 16;
    // Bytes of one direction that follow within this time continue the burst before them.
    static constexpr qint64 BurstGapMs = 50;
    static constexpr qsizetype MaxBurst = 16 * 1024;
    // Bookkeeping charged to the budget per burst or event, so that tiny bursts stay bounded too.
    static constexpr qsizetype EntryCost = 64;

    explicit TrafficLog(qsizetype limit = DefaultLimit) : limit(limit) {}

    // atMs: milliseconds since the epoch. While paused only the counts move.
    void appendBytes(Direction direction, const QByteArray& bytes, qint64 atMs);
    void appendLineChange(RelayPort port, ModemLine line, bool on, qint64 atMs);
    // Forgets every burst and event and sets the counts back to zero.
    void clear();
    void setPaused(bool on) { paused = on; }
    bool isPaused() const { return paused; }

    qint64 count(Direction direction) const { return counts[int(direction)]; }
    // The budget in use: bytes kept plus EntryCost per burst or event.
    qsizetype retained() const { return used; }
    qint64 lineCount() const;
    // Number of the first line kept, counted since construction: grows as old lines go.
    qint64 firstLineNumber() const
    {
        return entries.empty() ? nextLine : entries.front().firstLine;
    }
    Line line(qint64 index) const;
    // "転送元→転送先 N バイト  転送先→転送元 M バイト".
    QString countsText() const;
    // The counts line, then every line kept, each ended by a line feed; UTF-8.
    QByteArray text() const;
    bool save(const QString& path) const;

    static QString timeText(qint64 atMs);
    // One dump line: offset, hex column padded for a full line, printable text ("." for others).
    static QString dataLine(qint64 offset, const char* bytes, int size);

private:
    struct Entry {
        LineKind kind;
        Direction direction;
        qint64 firstLine;
        qint64 atMs;
        qint64 lastMs;
        qint64 offset;
        QByteArray bytes;
        QString event;

        qint64 lines() const
        {
            return kind == LineKind::Event ? 1
                                           : 1 + (bytes.size() + BytesPerLine - 1) / BytesPerLine;
        }
    };

    void push(Entry entry);
    void trim();

    qsizetype limit;
    qsizetype used = 0;
    qint64 counts[2] = {0, 0};
    qint64 nextLine = 0;
    bool paused = false;
    std::deque<Entry> entries;
};
