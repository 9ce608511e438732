#include "core/LogLine.h"

#include <QDateTime>
#include <cstdio>

void LogLine::write(const QString& message)
{
    const QByteArray line = (QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) +
                             QLatin1Char(' ') + message + QLatin1Char('\n'))
                                .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
