#include "desktop/SystemInfo.h"

#include "desktop/InfoBox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

QStringList SystemInfo::programs()
{
    return {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("lshw-gtk"), QStringLiteral("cpu-x")};
}

QString SystemInfo::findProgram(const QStringList& names, const QString& searchPath)
{
    const QStringList folders = searchPath.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        for (const QString& folder : folders) {
            if (!QDir::isAbsolutePath(folder))
                continue;
            const QFileInfo candidate(QDir(folder).filePath(name));
            if (candidate.isFile() && candidate.isExecutable())
                return candidate.absoluteFilePath();
        }
    }
    return {};
}

bool SystemInfo::StartSysInfo(QWidget* parent)
{
    const QString program = findProgram(programs(), qEnvironmentVariable("PATH"));
    if (!program.isEmpty() && QProcess::startDetached(program, {}))
        return true;
    InfoBox::show(parent, unavailableMessage());
    return false;
}

QString SystemInfo::unavailableMessage()
{
    return QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");
}
