#include "AsUser.h"

#include <QFile>
#include <QtGlobal>
#include <pwd.h>
#include <unistd.h>

AsUser::AsUser(const QStringList& ownedPaths)
{
    if (::geteuid() != 0)
        return;
    if (const passwd* nobody = ::getpwnam("nobody")) {
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    for (const QString& path : ownedPaths)
        if (::chown(QFile::encodeName(path).constData(), uid, gid) != 0)
            usable = false;
    // The real ids change too, since access() checks those; the saved ones allow the return.
    if (usable && ::setresgid(gid, gid, 0) == 0) {
        if (::setresuid(uid, uid, 0) == 0)
            switched = true;
        else if (::setresgid(0, 0, 0) != 0)
            qFatal("cannot return to root");
    }
    usable = switched;
}

AsUser::~AsUser()
{
    if (switched && (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0))
        qFatal("cannot return to root");
}
