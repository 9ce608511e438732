#include "LanCopy.h"

#include "core/IntervalTimer.h"
#include "core/SocketControl.h"
#include "desktop/ColorButton.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/ShapeLamp.h"
#include "desktop/StatusBar.h"

#include <QAction>
#include <QRadioButton>
#include <QTest>

LanCopy::LanCopy(const QString& sourcePath, int role, const QString& speed)
    : TestCopy({{1, sourcePath}})
{
    w->Beep = [] {};
    w->Relay.wsocLan()->setBindAddress(QHostAddress(QHostAddress::LocalHost));
    w->findChild<QRadioButton*>("optLan")->setChecked(true);
    (role == 1   ? w->findChild<QRadioButton*>("optServer")
     : role == 2 ? w->findChild<QRadioButton*>("optClient")
                 : w->findChild<QRadioButton*>("optHost"))
        ->setChecked(true);
    w->findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM1"));
    setFraming8N1(speed);
    w->show();
}

void LanCopy::click()
{
    QTest::mouseClick(w->findChild<QPushButton*>("cmdRun"), Qt::LeftButton);
}

void LanCopy::holdBurst()
{
    w->Relay.tmrSer()->setInterval(3600 * 1000);
}

QString LanCopy::status() const
{
    return w->findChild<StatusBar*>("sbStatusBar")->panelText(QStringLiteral("status"));
}

bool LanCopy::lampOn() const
{
    return w->findChild<ShapeLamp*>("shpLan")->FillColor() == QColor(64, 255, 64);
}

bool LanCopy::listEnabled() const
{
    return w->findChild<QAction*>("mnuViewFlipList")->isEnabled();
}
