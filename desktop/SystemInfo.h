#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Starts the desktop's system-information tool, or says that there is none.
class SystemInfo {
public:
    // The tools looked for, in order of preference.
    static QStringList programs();
    // The full path of the first of names found as an executable file in the folders of
    // searchPath (a PATH value); names earlier in the list win. Empty and relative folders are
    // skipped, so nothing is started from the current folder. Empty when none is found.
    static QString findProgram(const QStringList& names, const QString& searchPath);
    // Starts the first tool found on PATH without waiting for it; when none is found or it
    // cannot be started, shows "現時点ではｼｽﾃﾑ情報を使用できません" over parent. True when a tool
    // was started.
    static bool StartSysInfo(QWidget* parent = nullptr);
    static QString unavailableMessage();
};
