#include "desktop/ShapeLamp.h"

#include <QPainter>

ShapeLamp::ShapeLamp(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void ShapeLamp::setFillColor(const QColor& color)
{
    if (fill == color)
        return;
    fill = color;
    update();
}

void ShapeLamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
