#include "desktop/DropDownComboBox.h"

DropDownComboBox::DropDownComboBox(QWidget* parent) : QComboBox(parent) {}

void DropDownComboBox::showPopup()
{
    emit DropDown();
    QComboBox::showPopup();
}
