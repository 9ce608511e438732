#pragma once

#include <QString>
#include <QStringList>

// Tells a user who may not open the serial devices which group would let them.
class PortAccess {
public:
    // The group that owns the device at path when this user may not open it for reading and
    // writing; empty when the user may, or when the device is missing.
    static QString DeniedGroup(const QString& path);
    // The status text for devices refused to this user, naming their groups (each once, in
    // order of first mention); empty when none was refused.
    static QString Note(const QStringList& deniedGroups);
};
