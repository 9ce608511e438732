#include "desktop/MainSettings.h"

#include "core/ExtractNumber.h"
#include "core/ProfileFile.h"
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

const QString& section = UiText::Section;

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
    return {at(0), at(1), at(2), at(3), at(4), side == 0 ? QString() : QStringLiteral("２")};
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
        return MainSettings::ToInteger(app.GetIniSetting(section, key, def), min, max)
            .value_or(def);
    }

private:
    const NirvexMain& app;
};

void restoreItem(QComboBox* combo, const QString& stored)
{
    combo->setCurrentIndex(MainSettings::ItemIndex(itemsOf(combo), stored));
}

void restoreSide(const Reader& read, const Side& side)
{
    const qint64 port =
        read.number(QStringLiteral("シリアルポート") + side.suffix, -1, int16Min, int16Max);
    const int found = MainSettings::PortIndex(itemsOf(side.port), int(port));
    // Without a match the picker keeps what the port listing left.
    if (found >= 0)
        side.port->setCurrentIndex(found);
    restoreItem(side.speed, read.text(QStringLiteral("速度") + side.suffix, "9600"));
    restoreItem(side.parity, read.text(QStringLiteral("パリティ") + side.suffix, "None"));
    restoreItem(side.bits, read.text(QStringLiteral("ビット") + side.suffix, "8"));
    restoreItem(side.stopBits, read.text(QStringLiteral("ストップビット") + side.suffix, "1"));
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
    app.SaveIniSetting(section, QStringLiteral("シリアルポート") + side.suffix, port);
    app.SaveIniSetting(section, QStringLiteral("速度") + side.suffix, side.speed->currentText());
    app.SaveIniSetting(section, QStringLiteral("パリティ") + side.suffix,
                       side.parity->currentText());
    app.SaveIniSetting(section, QStringLiteral("ビット") + side.suffix, side.bits->currentText());
    app.SaveIniSetting(section, QStringLiteral("ストップビット") + side.suffix,
                       side.stopBits->currentText());
}

} // namespace

std::optional<qint64> MainSettings::ToInteger(const QString& text, qint64 min, qint64 max)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // The default rounding mode rounds halves to the even neighbour.
    const double rounded = std::nearbyint(value);
    if (rounded < double(min) || rounded > double(max))
        return std::nullopt;
    return qint64(rounded);
}

int MainSettings::PortIndex(const QStringList& items, int n)
{
    if (n < 0)
        return -1;
    for (int i = 0; i < items.size(); ++i) {
        if (ExtractNumber(items.at(i)) == n)
            return i;
    }
    return -1;
}

int MainSettings::ItemIndex(const QStringList& items, const QString& text)
{
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i) == text)
            return i;
    }
    return -1;
}

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

    form.txtID->setText(read.text(QStringLiteral("HostID"), UiText::DefaultHostId));
    form.txtKey->setText(read.text(QStringLiteral("HostKey"), UiText::DefaultHostKey));
    form.txtPort->setText(read.text(QStringLiteral("Port"), UiText::DefaultPort));
    form.txtServerPort->setText(read.text(QStringLiteral("ServerPort"), UiText::DefaultPort));

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
    form.cmbDest->setEditText(read.text(QStringLiteral("Server0"), UiText::DefaultDestination));

    const qint64 destType = read.number(QStringLiteral("DestType"), 1, int32Min, int32Max);
    app.DestType = int32_t(destType);
    if (destType == 1)
        select(form.optSerial, [&form] { form.Relay.optSerial_Click(); });
    else if (destType == 3)
        select(form.optLan, [&form] { form.Relay.optLan_Click(); });

    const qint64 destMode = read.number(QStringLiteral("DestMode"), 1, int32Min, int32Max);
    app.DestMode = int32_t(destMode);
    if (destMode == 1)
        select(form.optServer, [&form] { form.Relay.optServer_Click(); });
    else if (destMode == 2)
        select(form.optClient, [&form] { form.Relay.optClient_Click(); });
    else if (destMode == 3)
        select(form.optHost, [&form] { form.Relay.optHost_Click(); });
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

    app.SaveIniSetting(section, QStringLiteral("DestType"), int(app.DestType));
    app.SaveIniSetting(section, QStringLiteral("DestMode"), int(app.DestMode));
}
