#pragma once

#include <QString>
#include <QStringList>
#include <type_traits>
#include <utility>

// Cuts received text into lines at LF, keeping the unfinished tail for the next chunk.
class LineReceiver {
public:
    // A longer line is dropped up to its LF, so a peer cannot make the pending text grow
    // without bound. CR is an ordinary character; the tail is kept until clear().
    static constexpr qsizetype MaxLineLength = 32767;

    // Calls onLine(const QString&) for every line the chunk completes, in order, without its
    // LF. onLine must not feed this receiver. An onLine that returns bool stops the cut when it
    // returns false. Returns how many characters of the chunk were taken: the whole chunk unless
    // onLine stopped it, else the characters up to and including the LF of the last line handed
    // out; the caller keeps the rest for a later call.
    template <class F> qsizetype feed(const QString& chunk, F&& onLine);
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

template <class F> qsizetype LineReceiver::feed(const QString& chunk, F&& onLine)
{
    const QStringView text(chunk);
    qsizetype from = 0;
    for (;;) {
        const qsizetype lf = text.indexOf(u'\n', from);
        if (lf < 0) {
            if (!dropping && from < text.size() && !keep(text.mid(from)))
                dropping = true;
            return text.size();
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
        if constexpr (std::is_same_v<std::invoke_result_t<F, const QString&>, bool>) {
            if (!onLine(std::as_const(line)))
                return from;
        } else {
            onLine(std::as_const(line));
        }
    }
}
