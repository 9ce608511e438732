#include "desktop/Twips.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double fallbackDpi = 96.0;
// QWIDGETSIZE_MAX: larger values mean nothing to a widget and would overflow an int.
constexpr double pixelLimit = 16777215.0;

double usableDpi(double dpi)
{
    return std::isfinite(dpi) && dpi > 0 ? dpi : fallbackDpi;
}

} // namespace

int Twips::toPixels(double twips, double dpi)
{
    if (std::isnan(twips))
        return 0;
    const double pixels = std::clamp(twips * usableDpi(dpi) / PerInch, -pixelLimit, pixelLimit);
    return int(std::lround(pixels));
}

double Twips::fromPixels(double pixels, double dpi)
{
    return pixels * PerInch / usableDpi(dpi);
}

QRect Twips::toPixels(double left, double top, double width, double height, double dpi)
{
    return QRect(toPixels(left, dpi), toPixels(top, dpi), toPixels(width, dpi),
                 toPixels(height, dpi));
}

QRectF Twips::fromPixels(const QRect& pixels, double dpi)
{
    return QRectF(fromPixels(pixels.x(), dpi), fromPixels(pixels.y(), dpi),
                  fromPixels(pixels.width(), dpi), fromPixels(pixels.height(), dpi));
}
