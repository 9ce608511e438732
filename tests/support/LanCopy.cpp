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
    w->Relay.Beep = [] {};
    w->wsocLan->setBindAddress(QHostAddress(QHostAddress::LocalHost));
    w->findChild<QRadioButton*>("optLan")->setChecked(true);
    (role == 1   ? w->findChild<QRadioButton*>("optServer")
     : role == 2 ? w->findChild<QRadioButton*>("optClient")
                 : w->findChild<QRadioButton*>("optHost"))
        ->setChecked(true);
    w->findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM1"));
    w->findChild<QComboBox*>("cmbBPS")->setCurrentText(speed);
    w->findChild<QComboBox*>("cmbParity")->setCurrentText(QStringLiteral("None"));
    w->findChild<QComboBox*>("cmbBits")->setCurrentText(QStringLiteral("8"));
    w->findChild<QComboBox*>("cmbStopBits")->setCurrentText(QStringLiteral("1"));
    w->show();
}

void LanCopy::click()
{
    QTest::mouseClick(w->findChild<QPushButton*>("cmdRun"), Qt::LeftButton);
}

void LanCopy::holdBurst()
{
    w->tmrSer->setInterval(3600 * 1000);
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
