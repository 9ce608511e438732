#include "LanCopy.h"

#include "core/SocketControl.h"

#include <QComboBox>
#include <QRadioButton>

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
    for (const QString& side : {QString(), QStringLiteral("2")}) {
        const auto set = [&](const char* name, const QString& text) {
            w->findChild<QComboBox*>(QLatin1String(name) + side)->setCurrentText(text);
        };
        set("cmbBPS", speed);
        set("cmbParity", QStringLiteral("None"));
        set("cmbBits", QStringLiteral("8"));
        set("cmbStopBits", QStringLiteral("1"));
    }
    w->show();
}
