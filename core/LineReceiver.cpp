#include "core/LineReceiver.h"

QStringList LineReceiver::feed(const QString& chunk)
{
    QStringList lines;
    feed(chunk, [&lines](const QString& line) { lines.append(line); });
    return lines;
}

void LineReceiver::clear()
{
    pending.clear();
    dropping = false;
}

bool LineReceiver::keep(QStringView part)
{
    if (pending.size() + part.size() > MaxLineLength) {
        pending.clear();
        ++dropped;
        return false;
    }
    pending.append(part);
    return true;
}
