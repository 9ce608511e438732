#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own properties: title, version, author's page, copyright line, icon and help file.
class AppInfo {
public:
    static QString title();
    static int versionMajor();
    static int versionMinor();
    static int versionRevision();
    // Decimal numbers without leading zeros joined by ".": 0, 50, 0 gives "0.50.0".
    static QString formatVersion(int major, int minor, int revision);
    static QString versionText();
    static QString homepage();
    static QString copyright();

    static QString helpFileName();
    // The help file in folder, with exactly one "/" between folder and file name.
    static QString helpFilePath(const QString& folder);
    // The help file beside the running executable.
    static QString helpFilePath();

    // The program icon with its 16, 24 and 32 pixel images.
    static QIcon icon();
    // The 32 pixel image shown by the splash and about windows.
    static QPixmap logo();
};
