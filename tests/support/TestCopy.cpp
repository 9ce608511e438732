#include "TestCopy.h"

#include "desktop/DropDownComboBox.h"

#include <QComboBox>
#include <QFile>

TestCopy::TestCopy(const QMap<int, QString>& ports, const QByteArray& more, Start start)
{
    app.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
    QByteArray text = "[Ports]\n";
    for (auto it = ports.cbegin(); it != ports.cend(); ++it)
        text += QStringLiteral("COM%1=%2\n").arg(it.key()).arg(it.value()).toUtf8();
    text += more;
    QFile profile(app.IniPath);
    written = profile.open(QIODevice::WriteOnly) && profile.write(text) == text.size();
    profile.close();
    app.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
    if (start == Start::Window) {
        w = std::make_unique<frmMain>(app);
        w->Load();
    } else if (start == Start::Program) {
        app.Main(app.IniPath);
    }
}

void TestCopy::setFraming8N1(const QString& speed)
{
    const frmMain& f = window();
    const auto set = [&f](const char* name, const QString& text) {
        for (const QString& suffix : {QString(), QStringLiteral("2")})
            f.findChild<QComboBox*>(QLatin1String(name) + suffix)->setCurrentText(text);
    };
    set("cmbBPS", speed);
    set("cmbParity", QStringLiteral("None"));
    set("cmbBits", QStringLiteral("8"));
    set("cmbStopBits", QStringLiteral("1"));
}
