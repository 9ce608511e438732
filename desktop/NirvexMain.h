#pragma once

#include "core/PortTable.h"

#include <QString>
#include <memory>

class frmMain;
class frmList;

// The start-up sequence and the state shared by the windows of one running copy of Nirvex.
// Each copy has its own object, so two copies can run side by side in one process.
class NirvexMain {
public:
    NirvexMain();
    ~NirvexMain();
    NirvexMain(const NirvexMain&) = delete;
    NirvexMain& operator=(const NirvexMain&) = delete;

    // The profile to use, and the earlier profile copied there by this start (empty if none).
    struct ProfileLocation {
        QString path;
        QString movedFrom;
    };

    // Runs the start-up sequence with the profile that locateProfile() gives.
    void Main();
    // The same with a given profile file, for tests and for running several copies.
    void Main(const QString& iniPath);
    // The same with a located profile; says on the status panel when one was moved.
    void Main(const ProfileLocation& profile);

    // Profile file beside the executable: folder, "/", name without extension, ".INI".
    static QString profilePathFor(const QString& executablePath);
    // Whether the install step put this executable where it is (it leaves a mark in the data
    // folder beside the program folder).
    static bool isInstalled(const QString& executablePath);
    // The same name under $XDG_CONFIG_HOME/nirvex/ (~/.config/nirvex/); makes the folder.
    static QString userProfilePathFor(const QString& executablePath);
    // An installed copy keeps its profile in the user's folder and never writes beside itself:
    // a profile beside it, left by an earlier version, is copied to the user's folder once,
    // when that holds none. Any other copy uses the profile beside itself when that file
    // exists, whatever its mode, or can be created there; otherwise the user's folder.
    static ProfileLocation locateProfile(const QString& executablePath);

    QString GetIniSetting(const QString& section, const QString& key, const QString& def) const;
    QString GetIniSetting(const QString& section, const QString& key, const char* def) const;
    QString GetIniSetting(const QString& section, const QString& key, long long def) const;
    QString GetIniSetting(const QString& section, const QString& key, int def) const;
    QString GetIniSetting(const QString& section, const QString& key, double def) const;

    // Stores nothing while the profile cannot be written (ProfileWritable false).
    void SaveIniSetting(const QString& section, const QString& key, const QString& value) const;
    void SaveIniSetting(const QString& section, const QString& key, const char* value) const;
    void SaveIniSetting(const QString& section, const QString& key, long long value) const;
    void SaveIniSetting(const QString& section, const QString& key, int value) const;
    // Window coordinates: the shortest decimal text that reads back as the same float.
    void SaveIniSetting(const QString& section, const QString& key, float value) const;

    QString IniPath;
    // Whether settings can be stored in the profile at IniPath; set by Main.
    bool ProfileWritable = true;
    frmMain* MainForm = nullptr;
    frmList* ListForm = nullptr;
    // COM numbers of this copy's serial ports, loaded with the main window.
    PortTable Ports;

    // Status text of a run whose profile cannot be written.
    static inline const QString SettingsNotKeptText =
        QStringLiteral("設定ファイルに書き込めないため、設定は保存されません。");
    // Status text of the start that moved an earlier profile from one path to the other.
    static QString profileMovedText(const QString& from, const QString& to);

private:
    std::unique_ptr<frmMain> mainWindow;
    std::unique_ptr<frmList> listWindow;
};
