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
    w->Relay.Beep = [] {};
    w->wsocLan->setBindAddress(QHostAddress(QHostAddress::LocalHost));
    w->optLan->setChecked(true);
    (role == 1 ? w->optServer : role == 2 ? w->optClient : w->optHost)->setChecked(true);
    w->cmbComPort->setCurrentText(QStringLiteral("COM1"));
    setFraming8N1(speed);
    w->show();
}

void LanCopy::click()
{
    QTest::mouseClick(w->cmdRun, Qt::LeftButton);
}

void LanCopy::holdBurst()
{
    w->tmrSer->setInterval(3600 * 1000);
}

QString LanCopy::status() const
{
    return w->sbStatusBar->panelText(QStringLiteral("status"));
}

bool LanCopy::lampOn() const
{
    return w->shpLan->FillColor() == QColor(64, 255, 64);
}

bool LanCopy::listEnabled() const
{
    return w->mnuViewFlipList->isEnabled();
}
