#include "core/CharacterTime.h"

#include <cmath>

int CharacterTime::rounded(const QString& speed, const QString& dataBits, const QString& stopBits)
{
    bool speedOk = false;
    const double bitsPerSecond = speed.trimmed().toDouble(&speedOk);
    if (!speedOk || !(bitsPerSecond > 0))
        return 0;
    const double bits = dataBits.trimmed().toDouble() + stopBits.trimmed().toDouble() + 3;
    const double ms = bits * 1000.0 / bitsPerSecond;
    if (!std::isfinite(ms) || ms <= 0)
        return 0;
    if (ms > 1e9)
        return 1000000000;
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    return int(std::nearbyint(ms));
}

int CharacterTime::timerInterval(const QString& speed, const QString& dataBits,
                                 const QString& stopBits)
{
    const int ms = rounded(speed, dataBits, stopBits);
    return ms < 1 ? 1 : ms;
}
