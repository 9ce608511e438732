#pragma once

#include <QString>
#include <cstdint>

// The number formed by the ASCII digits of text, taken in order wherever they stand; every
// other character (full-width digits included) is skipped. An empty or digit-free text gives 0.
// A digit run whose value passes 32767 gives 32767.
int16_t ExtractNumber(const QString& text);
