#include "desktop/TagLabel.h"

#include <QPalette>

TagLabel::TagLabel(QWidget* parent) : QLabel(parent)
{
    setAutoFillBackground(true);
}

QColor TagLabel::BackColor() const
{
    return palette().color(QPalette::Window);
}

void TagLabel::setBackColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
}

void TagLabel::setForeColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}
