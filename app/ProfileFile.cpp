#include "app/ProfileFile.h"

QString ProfileFile::readValue(const QString&, const QString&, const QString&, const QString& def)
{
    return def;
}

bool ProfileFile::writeValue(const QString&, const QString&, const QString&, const QString&)
{
    return false;
}

QList<std::pair<QString, QString>> ProfileFile::readSection(const QString&, const QString&)
{
    return {};
}
