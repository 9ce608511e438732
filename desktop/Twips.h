#pragma once

#include <QRect>

// Converts twips (1/1440 inch) to pixels and back at a given logical DPI.
class Twips {
public:
    static constexpr double PerInch = 1440.0;

    // Nearest whole pixel; results are kept within the range Qt accepts for widget geometry.
    // A DPI that is not a positive number counts as 96.
    static int toPixels(double twips, double dpi);
    static double fromPixels(double pixels, double dpi);
    // Left, top, width and height are converted one by one, as the layout tables give them.
    static QRect toPixels(double left, double top, double width, double height, double dpi);
    static QRectF fromPixels(const QRect& pixels, double dpi);
};
