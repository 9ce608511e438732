#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

// A label used as a lamp: a filled background colour and a free text tag that records its state.
class TagLabel : public QLabel {
    Q_OBJECT
public:
    explicit TagLabel(QWidget* parent = nullptr);

    QColor BackColor() const;
    void setBackColor(const QColor& color);
    void setForeColor(const QColor& color);

    QString Tag;
};
