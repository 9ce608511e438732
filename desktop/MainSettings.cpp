#include "desktop/MainSettings.h"

#include "core/ExtractNumber.h"
#include "core/ProfileFile.h"
#include "core/RelaySettings.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/UiText.h"
#include "desktop/frmMain.h"

#include <QHash>
#include <QLineEdit>
#include <QRadioButton>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

namespace {

const QString& section = RelaySettings::Section;

constexpr qint64 int16Min = std::numeric_limits<int16_t>::min();
constexpr qint64 int16Max = std::numeric_limits<int16_t>::max();
constexpr qint64 int32Min = std::numeric_limits<int32_t>::min();
constexpr qint64 int32Max = std::numeric_limits<int32_t>::max();

// The five pickers of one side and the keys they are kept under.
struct Side {
    QComboBox* port;
    QComboBox* speed;
    QComboBox* parity;
    QComboBox* bits;
    QComboBox* stopBits;
    QString suffix;
};

QStringList itemsOf(const QComboBox* combo)
{
    QStringList items;
    items.reserve(combo->count());
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

// Side 0 is the source, side 1 the destination; pickers as MainSettings::pickers gives them.
Side sideOf(const QList<QComboBox*>& pickers, int side)
{
    const auto at = [&](int i) { return pickers.at(5 * side + i); };
    return {at(0), at(1), at(2),
            at(3), at(4), side == 0 ? QString() : RelaySettings::DestinationSuffix};
}

class Reader {
public:
    explicit Reader(const NirvexMain& app) : app(app) {}

    QString text(const QString& key, const QString& def) const
    {
        return app.GetIniSetting(section, key, def);
    }
    // A value that is no number, or does not fit, counts as missing.
    qint64 number(const QString& key, qint64 def, qint64 min, qint64 max) const
    {
        return RelaySettings::toInteger(app.GetIniSetting(section, key, def), min, max)
            .value_or(def);
    }

private:
    const NirvexMain& app;
};

void restoreItem(QComboBox* combo, const QString& stored)
{
    combo->setCurrentIndex(RelaySettings::itemIndex(itemsOf(combo), stored));
}

void restoreSide(const Reader& read, const Side& side)
{
    const qint64 port = read.number(RelaySettings::PortKey + side.suffix, -1, int16Min, int16Max);
    const int found = RelaySettings::portIndex(itemsOf(side.port), int(port));
    // Without a match the picker keeps what the port listing left.
    if (found >= 0)
        side.port->setCurrentIndex(found);
    // A rate the list lacks (typed into the profile) becomes one more item, so it comes back.
    const QString speed =
        read.text(RelaySettings::SpeedKey + side.suffix, RelaySettings::DefaultSpeed);
    const int at = RelaySettings::speedInsertIndex(itemsOf(side.speed), speed);
    if (at >= 0)
        side.speed->insertItem(at, speed);
    restoreItem(side.speed, speed);
    restoreItem(side.parity,
                read.text(RelaySettings::ParityKey + side.suffix, RelaySettings::DefaultParity));
    restoreItem(side.bits,
                read.text(RelaySettings::BitsKey + side.suffix, RelaySettings::DefaultBits));
    restoreItem(side.stopBits, read.text(RelaySettings::StopBitsKey + side.suffix,
                                         RelaySettings::DefaultStopBits));
}

// Checks the option and runs its click handler, also when it was checked already.
void select(QRadioButton* option, const std::function<void()>& click)
{
    if (option->isChecked())
        click();
    else
        option->setChecked(true);
}

QString asciiLower(QString text)
{
    for (QChar& c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return text;
}

// The numbered destination keys of the section, by name in lower case; the first line of a
// name counts, as it does for a single read.
QHash<QString, QString> serverEntries(const QString& path)
{
    QHash<QString, QString> entries;
    for (const auto& [name, value] : ProfileFile::readSection(path, section)) {
        const QString key = asciiLower(name);
        if (key.startsWith(QLatin1String("server")) && !entries.contains(key))
            entries.insert(key, value);
    }
    return entries;
}

void storeSide(const NirvexMain& app, const Side& side)
{
    const int port = side.port->currentIndex() < 0 ? -1 : ExtractNumber(side.port->currentText());
    app.SaveIniSetting(section, RelaySettings::PortKey + side.suffix, port);
    app.SaveIniSetting(section, RelaySettings::SpeedKey + side.suffix, side.speed->currentText());
    app.SaveIniSetting(section, RelaySettings::ParityKey + side.suffix, side.parity->currentText());
    app.SaveIniSetting(section, RelaySettings::BitsKey + side.suffix, side.bits->currentText());
    app.SaveIniSetting(section, RelaySettings::StopBitsKey + side.suffix,
                       side.stopBits->currentText());
}

} // namespace

QList<QComboBox*> MainSettings::pickers(const frmMain& form)
{
    return {form.cmbComPort,  form.cmbBPS,  form.cmbParity,  form.cmbBits,  form.cmbStopBits,
            form.cmbComPort2, form.cmbBPS2, form.cmbParity2, form.cmbBits2, form.cmbStopBits2};
}

void MainSettings::Restore(frmMain& form, NirvexMain& app)
{
    const Reader read(app);
    const QList<QComboBox*> sides = pickers(form);
    restoreSide(read, sideOf(sides, 0));
    restoreSide(read, sideOf(sides, 1));

    form.txtID->setText(read.text(QStringLiteral("HostID"), RelaySettings::DefaultHostId));
    form.txtKey->setText(read.text(QStringLiteral("HostKey"), RelaySettings::DefaultHostKey));
    form.txtPort->setText(read.text(QStringLiteral("Port"), RelaySettings::DefaultPort));
    form.txtServerPort->setText(
        read.text(QStringLiteral("ServerPort"), RelaySettings::DefaultPort));

    const qint64 count = read.number(QStringLiteral("ServerNum"), 0, int16Min, int16Max);
    if (count > 0) {
        // The count comes from the file and may be large: one pass over the section instead
        // of one read of the file per entry.
        const QHash<QString, QString> stored = serverEntries(app.IniPath);
        for (qint64 i = 1; i <= count; ++i) {
            const QString entry = stored.value(QStringLiteral("server") + QString::number(i));
            if (!entry.isEmpty())
                form.cmbDest->addItem(entry);
        }
    }
    // Adding the first entry selects it; the text in use is kept apart from the history.
    form.cmbDest->setCurrentIndex(-1);
    form.cmbDest->setEditText(read.text(QStringLiteral("Server0"), RelaySettings::DefaultPeerHost));

    const qint64 destType =
        read.number(QStringLiteral("DestType"), RelaySettings::DefaultDestType, int32Min, int32Max);
    form.DestType = DestinationKind(int32_t(destType));
    if (form.DestType == DestinationKind::Serial)
        select(form.optSerial, [&form] { form.optSerial_Click(); });
    else if (form.DestType == DestinationKind::Lan)
        select(form.optLan, [&form] { form.optLan_Click(); });

    const qint64 destMode =
        read.number(QStringLiteral("DestMode"), RelaySettings::DefaultDestMode, int32Min, int32Max);
    form.DestMode = LanRole(int32_t(destMode));
    if (form.DestMode == LanRole::Server)
        select(form.optServer, [&form] { form.optServer_Click(); });
    else if (form.DestMode == LanRole::Client)
        select(form.optClient, [&form] { form.optClient_Click(); });
    else if (form.DestMode == LanRole::Host)
        select(form.optHost, [&form] { form.optHost_Click(); });

    // Any number but 0 shows the traffic monitor.
    form.ShowMonitor(read.number(MonitorKey, 1, int32Min, int32Max) != 0);
}

void MainSettings::Store(const frmMain& form, const NirvexMain& app)
{
    const QList<QComboBox*> sides = pickers(form);
    storeSide(app, sideOf(sides, 0));
    storeSide(app, sideOf(sides, 1));

    app.SaveIniSetting(section, QStringLiteral("HostID"), form.txtID->text());
    app.SaveIniSetting(section, QStringLiteral("HostKey"), form.txtKey->text());
    app.SaveIniSetting(section, QStringLiteral("Port"), form.txtPort->text());
    app.SaveIniSetting(section, QStringLiteral("ServerPort"), form.txtServerPort->text());

    const int count = form.cmbDest->count();
    app.SaveIniSetting(section, QStringLiteral("ServerNum"), count);
    for (int i = 0; i < count; ++i)
        app.SaveIniSetting(section, QStringLiteral("Server") + QString::number(i + 1),
                           form.cmbDest->itemText(i));
    app.SaveIniSetting(section, QStringLiteral("Server0"), form.cmbDest->currentText());

    app.SaveIniSetting(section, QStringLiteral("DestType"), int(form.DestType));
    app.SaveIniSetting(section, QStringLiteral("DestMode"), int(form.DestMode));
    app.SaveIniSetting(section, MonitorKey, form.mnuViewMonitor->isChecked() ? 1 : 0);
}
