#pragma once

#include <QColor>
#include <QWidget>

// A small filled circle with a thin dark outline, used as an indicator lamp.
class ShapeLamp : public QWidget {
    Q_OBJECT
public:
    explicit ShapeLamp(QWidget* parent = nullptr);

    QColor FillColor() const { return fill; }
    void setFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill = Qt::white;
};
