#include "host/RelayHostLog.h"

#include "core/LogLine.h"

void RelayHostLog::write(const QString& message)
{
    LogLine::write(message);
}

QString RelayHostLog::printable(QStringView text, int limit)
{
    QString out;
    out.reserve(qMin(text.size(), qsizetype(limit)) + 3);
    int kept = 0;
    for (const QChar c : text) {
        if (kept == limit) {
            out += QLatin1String("...");
            break;
        }
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
        ++kept;
    }
    return out;
}
