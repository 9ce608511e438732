#include "desktop/NirvexMain.h"

#include "core/ProfileFile.h"
#include "desktop/AppInfo.h"
#include "desktop/frmList.h"
#include "desktop/frmMain.h"
#include "desktop/frmSplash.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <charconv>

NirvexMain::NirvexMain() = default;
NirvexMain::~NirvexMain() = default;

void NirvexMain::Main()
{
    Main(locateProfile(QCoreApplication::applicationFilePath()));
}

void NirvexMain::Main(const QString& iniPath)
{
    Main(ProfileLocation{iniPath, {}});
}

void NirvexMain::Main(const ProfileLocation& profile)
{
    IniPath = profile.path;
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
        MainForm->ShowStatus(SettingsNotKeptText);
    else if (!profile.movedFrom.isEmpty())
        MainForm->ShowStatus(profileMovedText(profile.movedFrom, profile.path));

    listWindow = std::make_unique<frmList>(*this);
    ListForm = listWindow.get();
    ListForm->Load();
    MainForm->AddLoadedWindow(ListForm);
    QObject::connect(&MainForm->Relay, &RelayCore::listRowReceived, ListForm, &frmList::AddListRow);

    splash.reset();

    MainForm->show();
}

QString NirvexMain::profilePathFor(const QString& executablePath)
{
    const QFileInfo exe(executablePath);
    return exe.absolutePath() + QLatin1Char('/') + exe.completeBaseName() + QLatin1String(".INI");
}

bool NirvexMain::isInstalled(const QString& executablePath)
{
    return QFileInfo::exists(QFileInfo(executablePath).absolutePath() + QLatin1Char('/') +
                             QLatin1String(NIRVEX_INSTALL_MARK));
}

QString NirvexMain::userProfilePathFor(const QString& executablePath)
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QLatin1String("/.config");
    const QString folder = config + QLatin1String("/nirvex");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QFileInfo(profilePathFor(executablePath)).fileName();
}

NirvexMain::ProfileLocation NirvexMain::locateProfile(const QString& executablePath)
{
    const QString beside = profilePathFor(executablePath);
    if (isInstalled(executablePath)) {
        const QString user = userProfilePathFor(executablePath);
        if (QFileInfo::exists(user) || !QFileInfo::exists(beside))
            return {user, {}};
        // The earlier profile is copied byte for byte, so its encoding stays; it is left where
        // it is, in a folder the user may not write.
        QFile earlier(beside);
        if (!earlier.open(QIODevice::ReadOnly))
            return {user, {}};
        const QByteArray bytes = earlier.readAll();
        QSaveFile copy(user);
        if (earlier.error() != QFileDevice::NoError || !copy.open(QIODevice::WriteOnly) ||
            copy.write(bytes) != bytes.size() || !copy.commit())
            return {user, {}};
        return {user, beside};
    }
    if (QFileInfo::exists(beside))
        return {beside, {}};
    {
        QFile probe(beside);
        if (probe.open(QIODevice::Append)) {
            probe.close();
            probe.remove();
            return {beside, {}};
        }
    }
    return {userProfilePathFor(executablePath), {}};
}

QString NirvexMain::profileMovedText(const QString& from, const QString& to)
{
    // Paths in the home folder are shown from "~".
    const auto shown = [](const QString& path) -> QString {
        const QString home = QDir::homePath();
        if (home.size() > 1 && path.startsWith(home + QLatin1Char('/')))
            return QLatin1Char('~') + path.mid(home.size());
        return path;
    };
    return QStringLiteral("以前の設定ファイル %1 を %2 に移しました。").arg(shown(from), shown(to));
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
