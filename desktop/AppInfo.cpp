#include "desktop/AppInfo.h"

#include <QCoreApplication>
#include <mutex>

static void loadIconResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(resources); });
}

QString AppInfo::title()
{
    return QStringLiteral("Nirvex");
}

int AppInfo::versionMajor()
{
    return NIRVEX_VERSION_MAJOR;
}

int AppInfo::versionMinor()
{
    return NIRVEX_VERSION_MINOR;
}

int AppInfo::versionRevision()
{
    return NIRVEX_VERSION_PATCH;
}

QString AppInfo::formatVersion(int major, int minor, int revision)
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

QString AppInfo::versionText()
{
    return formatVersion(versionMajor(), versionMinor(), versionRevision());
}

QString AppInfo::homepage()
{
    return QStringLiteral(NIRVEX_HOMEPAGE);
}

QString AppInfo::copyright()
{
    return QStringLiteral("Copyright (C) Nirvex developers");
}

QString AppInfo::helpFileName()
{
    return QStringLiteral("Nirvex.chm");
}

QString AppInfo::helpFilePath(const QString& folder)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + helpFileName();
    return folder + QLatin1Char('/') + helpFileName();
}

QString AppInfo::helpFilePath()
{
    return helpFilePath(QCoreApplication::applicationDirPath());
}

QIcon AppInfo::icon()
{
    loadIconResources();
    QIcon result;
    for (int size : {16, 24, 32})
        result.addFile(QStringLiteral(":/nirvex/icons/nirvex-%1.png").arg(size), QSize(size, size));
    return result;
}

QPixmap AppInfo::logo()
{
    loadIconResources();
    return QPixmap(QStringLiteral(":/nirvex/icons/nirvex-32.png"));
}
