#include "core/TrafficLog.h"

#include <QDateTime>
#include <QSaveFile>
#include <algorithm>

namespace {

const char hexDigits[] = "0123456789ABCDEF";

QString directionText(TrafficLog::Direction direction)
{
    return direction == TrafficLog::Direction::ToDestination ? QStringLiteral("転送元→転送先")
                                                             : QStringLiteral("転送先→転送元");
}

QString lineName(ModemLine line)
{
    switch (line) {
    case ModemLine::CTS:
        return QStringLiteral("CTS");
    case ModemLine::DSR:
        return QStringLiteral("DSR");
    case ModemLine::RTS:
        return QStringLiteral("RTS");
    case ModemLine::DTR:
        return QStringLiteral("DTR");
    }
    return {};
}

} // namespace

void TrafficLog::appendBytes(Direction direction, const QByteArray& bytes, qint64 atMs)
{
    counts[int(direction)] += bytes.size();
    if (paused || bytes.isEmpty())
        return;
    qint64 offset = counts[int(direction)] - bytes.size();
    // A read joins the burst before it whole or not at all, so bursts end between reads.
    if (!entries.empty()) {
        Entry& last = entries.back();
        if (last.kind == LineKind::Header && last.direction == direction &&
            last.offset + last.bytes.size() == offset && atMs - last.lastMs < BurstGapMs &&
            last.bytes.size() + bytes.size() <= MaxBurst) {
            last.bytes.append(bytes);
            last.lastMs = atMs;
            used += bytes.size();
            trim();
            return;
        }
    }
    for (qsizetype at = 0; at < bytes.size(); at += MaxBurst, offset += MaxBurst) {
        // A read that fits is kept shared, not copied.
        const QByteArray part = bytes.size() <= MaxBurst ? bytes : bytes.mid(at, MaxBurst);
        push({LineKind::Header, direction, 0, atMs, atMs, offset, part, {}});
    }
    trim();
}

void TrafficLog::appendLineChange(RelayPort port, ModemLine line, bool on, qint64 atMs)
{
    if (paused)
        return;
    const QString text =
        (port == RelayPort::Source ? QStringLiteral("転送元 ") : QStringLiteral("転送先 ")) +
        lineName(line) + (on ? QStringLiteral(" ON") : QStringLiteral(" OFF"));
    push({LineKind::Event, Direction::ToDestination, 0, atMs, atMs, 0, {}, text});
    trim();
}

void TrafficLog::push(Entry entry)
{
    entry.firstLine =
        entries.empty() ? nextLine : entries.back().firstLine + entries.back().lines();
    used += entry.bytes.size() + EntryCost;
    entries.push_back(std::move(entry));
}

void TrafficLog::trim()
{
    while (used > limit && !entries.empty()) {
        const Entry& first = entries.front();
        used -= first.bytes.size() + EntryCost;
        nextLine = first.firstLine + first.lines();
        entries.pop_front();
    }
}

void TrafficLog::clear()
{
    if (!entries.empty())
        nextLine = entries.back().firstLine + entries.back().lines();
    entries.clear();
    used = 0;
    counts[0] = counts[1] = 0;
}

qint64 TrafficLog::lineCount() const
{
    if (entries.empty())
        return 0;
    return entries.back().firstLine + entries.back().lines() - entries.front().firstLine;
}

TrafficLog::Line TrafficLog::line(qint64 index) const
{
    if (index < 0 || index >= lineCount())
        return {LineKind::Event, Direction::ToDestination, {}};
    const qint64 wanted = entries.front().firstLine + index;
    const auto after = std::upper_bound(
        entries.begin(), entries.end(), wanted,
        [](qint64 number, const Entry& entry) { return number < entry.firstLine; });
    const Entry& entry = *std::prev(after);
    const qint64 within = wanted - entry.firstLine;
    if (entry.kind == LineKind::Event)
        return {LineKind::Event, entry.direction,
                timeText(entry.atMs) + QStringLiteral("  ") + entry.event};
    if (within == 0)
        return {LineKind::Header, entry.direction,
                timeText(entry.atMs) + QStringLiteral("  ") + directionText(entry.direction) +
                    QStringLiteral("  %1 バイト").arg(entry.bytes.size())};
    const qint64 start = (within - 1) * BytesPerLine;
    const int size = int(std::min<qint64>(BytesPerLine, entry.bytes.size() - start));
    return {LineKind::Data, entry.direction,
            dataLine(entry.offset + start, entry.bytes.constData() + start, size)};
}

QString TrafficLog::countsText() const
{
    return directionText(Direction::ToDestination) +
           QStringLiteral(" %1 バイト  ").arg(count(Direction::ToDestination)) +
           directionText(Direction::ToSource) +
           QStringLiteral(" %1 バイト").arg(count(Direction::ToSource));
}

QByteArray TrafficLog::text() const
{
    QString all = countsText() + QLatin1Char('\n');
    const qint64 lines = lineCount();
    for (qint64 i = 0; i < lines; ++i)
        all += line(i).text + QLatin1Char('\n');
    return all.toUtf8();
}

bool TrafficLog::save(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text();
    return file.write(bytes) == bytes.size() && file.commit();
}

QString TrafficLog::timeText(qint64 atMs)
{
    return QDateTime::fromMSecsSinceEpoch(atMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString TrafficLog::dataLine(qint64 offset, const char* bytes, int size)
{
    QString line = QString::number(offset, 16).toUpper().rightJustified(8, QLatin1Char('0'));
    line += QLatin1String("  ");
    for (int i = 0; i < BytesPerLine; ++i) {
        if (i < size) {
            const auto byte = uchar(bytes[i]);
            line += QLatin1Char(hexDigits[byte >> 4]);
            line += QLatin1Char(hexDigits[byte & 0xf]);
        } else {
            line += QLatin1String("  ");
        }
        line += QLatin1Char(' ');
        if (i == BytesPerLine / 2 - 1)
            line += QLatin1Char(' ');
    }
    line += QLatin1Char(' ');
    for (int i = 0; i < size; ++i) {
        const auto byte = uchar(bytes[i]);
        line += byte >= 0x20 && byte < 0x7f ? QLatin1Char(char(byte)) : QLatin1Char('.');
    }
    return line;
}
