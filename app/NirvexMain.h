#pragma once

#include "serial/PortTable.h"

#include <QString>
#include <array>
#include <cstdint>
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

    // Runs the start-up sequence with the profile file beside the executable.
    void Main();
    // The same with a given profile file, for tests and for running several copies.
    void Main(const QString& iniPath);

    // Profile file beside the executable: folder, "/", name without extension, ".INI".
    static QString profilePathFor(const QString& executablePath);
    // The profile path to use: beside the executable when that file exists, whatever its mode,
    // or can be created there; otherwise the same name under $XDG_CONFIG_HOME/nirvex/.
    static QString resolveProfilePath(const QString& executablePath);

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
    int32_t DestType = 0;
    int32_t DestMode = 0;
    bool RelayRunning = false;
    std::array<uint8_t, 256> SendBuffer{};
    int16_t SendCount = 0;
    // COM numbers of this copy's serial ports, loaded with the main window.
    PortTable Ports;

    // Status text of a run whose profile cannot be written.
    static inline const QString SettingsNotKeptText =
        QStringLiteral("設定ファイルに書き込めないため、設定は保存されません。");

private:
    std::unique_ptr<frmMain> mainWindow;
    std::unique_ptr<frmList> listWindow;
};
