#pragma once

#include <QColor>
#include <cstdint>

// Colours written as 0x00BBGGRR values (blue in the high byte, red in the low byte).
class BgrColor {
public:
    static QColor toQColor(uint32_t bgr);
    static uint32_t fromQColor(const QColor& color);
};
