#include "core/ExtractNumber.h"

#include <limits>

int16_t ExtractNumber(const QString& text)
{
    constexpr int limit = std::numeric_limits<int16_t>::max();
    int result = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < u'0' || unit > u'9')
            continue;
        result = result * 10 + (unit - u'0');
        // Further digits can only make it larger, so stop before the int could overflow.
        if (result > limit)
            return limit;
    }
    return int16_t(result);
}
