#pragma once

#include <QString>
#include <QStringList>
#include <utility>

// Cuts received text into lines at LF, keeping the unfinished tail for the next chunk.
class LineReceiver {
public:
    // A longer line is dropped up to its LF, so a peer cannot make the pending text grow
    // without bound. CR is an ordinary character; the tail is kept until clear().
    static constexpr qsizetype MaxLineLength = 32767;

    // Calls onLine(const QString&) for every line the chunk completes, in order, without its
    // LF. onLine must not feed this receiver.
    template <class F> void feed(const QString& chunk, F&& onLine);
    QStringList feed(const QString& chunk);

    // Text of the line received so far (empty while an over-long line is being dropped).
    const QString& buffer() const { return pending; }
    // True while the rest of an over-long line is being dropped.
    bool discarding() const { return dropping; }
    // Over-long lines dropped since construction.
    qint64 droppedLines() const { return dropped; }
    void clear();

private:
    // Appends the text of an unfinished line; false once the line is too long.
    bool keep(QStringView part);

    QString pending;
    bool dropping = false;
    qint64 dropped = 0;
};

template <class F> void LineReceiver::feed(const QString& chunk, F&& onLine)
{
    const QStringView text(chunk);
    qsizetype from = 0;
    for (;;) {
        const qsizetype lf = text.indexOf(u'\n', from);
        if (lf < 0) {
            if (!dropping && from < text.size() && !keep(text.mid(from)))
                dropping = true;
            return;
        }
        const QStringView part = text.mid(from, lf - from);
        from = lf + 1;
        if (dropping) {
            dropping = false;
            continue;
        }
        if (pending.size() + part.size() > MaxLineLength) {
            pending.clear();
            ++dropped;
            continue;
        }
        QString line;
        if (pending.isEmpty()) {
            line = part.toString();
        } else {
            line = std::move(pending);
            line.append(part);
            pending = QString();
        }
        onLine(std::as_const(line));
    }
}
