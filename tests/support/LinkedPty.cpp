#include "LinkedPty.h"

#include <QFile>

LinkedPty::LinkedPty()
{
    if (plugIn())
        link = dir.filePath(QStringLiteral("adapter"));
}

bool LinkedPty::plugIn()
{
    const QString name = dir.filePath(QStringLiteral("adapter"));
    pty = std::make_unique<PtyPair>();
    QFile::remove(name);
    return pty->isValid() && QFile::link(pty->slavePath(), name);
}
