#include "desktop/ColorButton.h"

#include <QPalette>

ColorButton::ColorButton(QWidget* parent) : QPushButton(parent) {}

void ColorButton::setBackColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Button, color);
    p.setColor(QPalette::Window, color);
    setPalette(p);
    setAutoFillBackground(true);
}
