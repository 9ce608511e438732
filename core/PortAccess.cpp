#include "core/PortAccess.h"

#include <QFile>
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

QString PortAccess::DeniedGroup(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::access(name.constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return QString();
    struct stat status {};
    if (::stat(name.constData(), &status) != 0)
        return QString();
    if (const group* owner = ::getgrgid(status.st_gid))
        return QString::fromLocal8Bit(owner->gr_name);
    return QString::number(status.st_gid);
}

QString PortAccess::Note(const QStringList& deniedGroups)
{
    QStringList groups = deniedGroups;
    groups.removeDuplicates();
    groups.removeAll(QString());
    if (groups.isEmpty())
        return QString();
    return QStringLiteral("シリアルポートを開く権限がありません。ユーザーを %1 "
                          "グループに追加してください。")
        .arg(groups.join(QStringLiteral("、")));
}
