#include "app/NirvexMain.h"

#include "app/AppInfo.h"
#include "app/ProfileFile.h"
#include "app/StatusBar.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "lan/frmList.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <charconv>

NirvexMain::NirvexMain() = default;
NirvexMain::~NirvexMain() = default;

void NirvexMain::Main()
{
    Main(resolveProfilePath(QCoreApplication::applicationFilePath()));
}

void NirvexMain::Main(const QString& iniPath)
{
    IniPath = iniPath;
    {
        QFile touch(IniPath);
        touch.open(QIODevice::Append);
    }
    ProfileWritable = ProfileFile::canWrite(IniPath);

    QApplication::setWindowIcon(AppInfo::icon());
    auto splash = std::make_unique<frmSplash>();
    splash->Load();
    splash->showNow();

    mainWindow = std::make_unique<frmMain>(*this);
    MainForm = mainWindow.get();
    MainForm->Load();
    if (!ProfileWritable)
        MainForm->sbStatusBar->setPanelText(QStringLiteral("status"), SettingsNotKeptText);

    listWindow = std::make_unique<frmList>(*this);
    ListForm = listWindow.get();
    ListForm->Load();
    MainForm->AddLoadedWindow(ListForm);
    QObject::connect(&MainForm->Lan, &LanLink::listRowReceived, ListForm, &frmList::AddListRow);

    RelayRunning = false;
    SendCount = 0;

    splash.reset();

    MainForm->show();
}

QString NirvexMain::profilePathFor(const QString& executablePath)
{
    const QFileInfo exe(executablePath);
    return exe.absolutePath() + QLatin1Char('/') + exe.completeBaseName() + QLatin1String(".INI");
}

QString NirvexMain::resolveProfilePath(const QString& executablePath)
{
    const QString beside = profilePathFor(executablePath);
    if (QFileInfo::exists(beside))
        return beside;
    {
        QFile probe(beside);
        if (probe.open(QIODevice::Append)) {
            probe.close();
            probe.remove();
            return beside;
        }
    }
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QLatin1String("/.config");
    const QString folder = config + QLatin1String("/nirvex");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QFileInfo(beside).fileName();
}

QString NirvexMain::GetIniSetting(const QString& section, const QString& key,
                                  const QString& def) const
{
    return ProfileFile::readValue(IniPath, section, key, def);
}

QString NirvexMain::GetIniSetting(const QString& section, const QString& key, const char* def) const
{
    return GetIniSetting(section, key, QString::fromUtf8(def));
}

QString NirvexMain::GetIniSetting(const QString& section, const QString& key, long long def) const
{
    return GetIniSetting(section, key, QString::number(def));
}

QString NirvexMain::GetIniSetting(const QString& section, const QString& key, int def) const
{
    return GetIniSetting(section, key, QString::number(def));
}

QString NirvexMain::GetIniSetting(const QString& section, const QString& key, double def) const
{
    return GetIniSetting(section, key, QString::number(def, 'g', 17));
}

void NirvexMain::SaveIniSetting(const QString& section, const QString& key,
                                const QString& value) const
{
    if (!ProfileWritable)
        return;
    ProfileFile::writeValue(IniPath, section, key, value);
}

void NirvexMain::SaveIniSetting(const QString& section, const QString& key, const char* value) const
{
    SaveIniSetting(section, key, QString::fromUtf8(value));
}

void NirvexMain::SaveIniSetting(const QString& section, const QString& key, long long value) const
{
    SaveIniSetting(section, key, QString::number(value));
}

void NirvexMain::SaveIniSetting(const QString& section, const QString& key, int value) const
{
    SaveIniSetting(section, key, QString::number(value));
}

void NirvexMain::SaveIniSetting(const QString& section, const QString& key, float value) const
{
    // Plain decimal, the fewest digits that read back as the same number: 100000, never 1e+05;
    // -0 as 0. The largest float takes 39 digits before the point.
    char text[64];
    const float plain = value == 0 ? 0.0f : value;
    const auto result = std::to_chars(text, text + sizeof text, plain, std::chars_format::fixed);
    SaveIniSetting(section, key, QString::fromLatin1(text, int(result.ptr - text)));
}
