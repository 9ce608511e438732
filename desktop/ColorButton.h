#pragma once

#include <QColor>
#include <QPushButton>

// A push button painted in a chosen background colour.
class ColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit ColorButton(QWidget* parent = nullptr);

    void setBackColor(const QColor& color);
};
