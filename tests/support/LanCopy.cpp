#include "LanCopy.h"

#include "core/IntervalTimer.h"
#include "core/SocketControl.h"
#include "desktop/ColorButton.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/ShapeLamp.h"
#include "desktop/StatusBar.h"

#include <QAction>
#include <QFile>
#include <QRadioButton>
#include <QTest>

LanCopy::LanCopy(const QString& sourcePath, int role, const QString& speed)
{
    app.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
    QFile profile(app.IniPath);
    if (profile.open(QIODevice::WriteOnly))
        profile.write(QStringLiteral("[Ports]\nCOM1=%1\n").arg(sourcePath).toUtf8());
    profile.close();
    app.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
    w = std::make_unique<frmMain>(app);
    w->Load();
    w->Beep = [] {};
    w->Relay.wsocLan()->setBindAddress(QHostAddress(QHostAddress::LocalHost));
    w->optLan->setChecked(true);
    (role == 1 ? w->optServer : role == 2 ? w->optClient : w->optHost)->setChecked(true);
    w->cmbComPort->setCurrentText(QStringLiteral("COM1"));
    w->cmbBPS->setCurrentText(speed);
    w->cmbParity->setCurrentText(QStringLiteral("None"));
    w->cmbBits->setCurrentText(QStringLiteral("8"));
    w->cmbStopBits->setCurrentText(QStringLiteral("1"));
    w->show();
}

void LanCopy::click()
{
    QTest::mouseClick(w->cmdRun, Qt::LeftButton);
}

void LanCopy::holdBurst()
{
    w->Relay.tmrSer()->setInterval(3600 * 1000);
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
