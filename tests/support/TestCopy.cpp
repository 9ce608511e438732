#include "TestCopy.h"

#include <QFile>

TestCopy::TestCopy(const QMap<int, QString>& ports, const QByteArray& more)
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
    w = std::make_unique<frmMain>(app);
    w->Load();
}
