#pragma once

#include <QComboBox>

// A combo box that announces its list is about to open, so the list can be refilled first.
class DropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DropDownComboBox(QWidget* parent = nullptr);

    void showPopup() override;

signals:
    void DropDown();
};
