#include "core/PortTable.h"

#include "core/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>
#include <algorithm>
#include <utility>

namespace {

// The same device file under any of its names.
QString identity(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

// Orders ttyS2 before ttyS10.
bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            while (i < a.size() - 1 && a.at(i) == QLatin1Char('0') && a.at(i + 1).isDigit())
                ++i;
            while (j < b.size() - 1 && b.at(j) == QLatin1Char('0') && b.at(j + 1).isDigit())
                ++j;
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            const QStringView na = QStringView(a).mid(i, ei - i);
            const QStringView nb = QStringView(b).mid(j, ej - j);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

PortTable::PortTable()
    : sysfsRoot(QStringLiteral("/sys/class/tty")), byIdDir(QStringLiteral("/dev/serial/by-id")),
      listDevices(&PortTable::systemDevices)
{
}

QList<PortTable::Device> PortTable::systemDevices()
{
    QList<Device> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        devices.append(Device{info.portName(), info.systemLocation()});
    return devices;
}

QString PortTable::keyFor(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

int PortTable::numberOfKey(const QString& key)
{
    const QString k = key.trimmed();
    if (!k.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || k.size() < 4)
        return 0;
    const QString digits = k.mid(3);
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }) ||
        digits.size() > 3)
        return 0;
    const int n = digits.toInt();
    return n >= FirstPort && n <= LastPort ? n : 0;
}

bool PortTable::load(const QString& profilePath)
{
    const bool readable = QFileInfo(profilePath).isReadable();
    assign(readable ? ProfileFile::readSection(profilePath, Section)
                    : QList<std::pair<QString, QString>>());
    return readable;
}

bool PortTable::save(const QString& profilePath)
{
    // The section as it is now: lines edited in by hand since the load are the user's and win.
    const QMap<int, QString> held = firstLines(ProfileFile::readSection(profilePath, Section));
    QSet<QString> mapped;
    for (auto it = held.cbegin(); it != held.cend(); ++it) {
        entries.insert(it.key(), it.value());
        if (!it.value().isEmpty())
            mapped.insert(identity(it.value()));
    }

    // Devices mapped by a line lose this table's entry first, so their numbers are free to take.
    QMap<int, QString> own = std::exchange(added, {});
    own.removeIf([&](const auto& entry) {
        if (!mapped.contains(identity(entry.value())))
            return false;
        if (!held.contains(entry.key()))
            entries.remove(entry.key());
        return true;
    });
    bool ok = true;
    for (auto it = own.cbegin(); it != own.cend(); ++it) {
        int n = it.key();
        if (held.contains(n)) {
            n = lowestFree();
            if (n > LastPort)
                continue;
            entries.insert(n, it.value());
        }
        if (!ProfileFile::writeValue(profilePath, Section, keyFor(n), it.value())) {
            added.insert(n, it.value());
            ok = false;
        }
    }
    return ok;
}

void PortTable::assign(const QList<std::pair<QString, QString>>& profileEntries)
{
    entries = firstLines(profileEntries);
    added.clear();
    numberNewDevices();
}

QMap<int, QString> PortTable::firstLines(const QList<std::pair<QString, QString>>& profileEntries)
{
    QMap<int, QString> lines;
    for (const auto& [key, value] : profileEntries) {
        const int n = numberOfKey(key);
        if (n != 0 && !lines.contains(n)) // the first line of a key counts, as on reading
            lines.insert(n, value.trimmed());
    }
    return lines;
}

int PortTable::lowestFree() const
{
    int n = FirstPort;
    while (n <= LastPort && entries.contains(n))
        ++n;
    return n;
}

void PortTable::numberNewDevices()
{
    QSet<QString> mapped;
    for (const QString& path : std::as_const(entries))
        if (!path.isEmpty())
            mapped.insert(identity(path));

    QList<std::pair<QString, QString>> fresh; // (identity, preferred path)
    const QList<Device> present = listDevices ? listDevices() : QList<Device>();
    for (const Device& device : present) {
        if (device.path.isEmpty() || isPhantom(device))
            continue;
        const QString id = identity(device.path);
        if (mapped.contains(id))
            continue;
        mapped.insert(id);
        fresh.append({id, preferredPath(device)});
    }
    std::sort(fresh.begin(), fresh.end(),
              [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });

    for (const auto& item : std::as_const(fresh)) {
        const int next = lowestFree();
        if (next > LastPort)
            break;
        entries.insert(next, item.second);
        added.insert(next, item.second);
    }
}

void PortTable::setEntry(int n, const QString& path)
{
    if (n < FirstPort || n > LastPort)
        return;
    entries.insert(n, path);
    added.remove(n);
}

QMap<int, QString> PortTable::allEntries() const
{
    QMap<int, QString> result;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        if (!it.value().isEmpty())
            result.insert(it.key(), it.value());
    return result;
}

bool PortTable::isPhantom(const Device& device) const
{
    if (!device.name.startsWith(QLatin1String("ttyS")))
        return false;
    QFile type(sysfsRoot + QLatin1Char('/') + device.name + QLatin1String("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() == "0";
}

QString PortTable::preferredPath(const Device& device) const
{
    const QString target = identity(device.path);
    QDir dir(byIdDir);
    const QFileInfoList links = dir.entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.isSymLink() && identity(link.absoluteFilePath()) == target)
            return link.absoluteFilePath();
    }
    return device.path;
}
