#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <utility>

// Maps COM numbers 1 to 255 to device paths, giving every serial device a lasting number.
class PortTable {
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 255;
    static inline const QString Section = QStringLiteral("Ports");

    // A serial device found on the machine: kernel name ("ttyUSB0") and device path.
    struct Device {
        QString name;
        QString path;
    };
    using DeviceLister = std::function<QList<Device>()>;

    PortTable();

    // Where the machine is looked at; tests point these at their own folders and lists.
    void setSysfsRoot(const QString& dir) { sysfsRoot = dir; } // default /sys/class/tty
    void setByIdDir(const QString& dir) { byIdDir = dir; }     // default /dev/serial/by-id
    void setDeviceLister(DeviceLister lister) { listDevices = std::move(lister); }

    // Reads the section "Ports" of the profile and numbers the devices present that have no
    // entry yet. False when the profile could not be read (the table then holds only the
    // devices present).
    bool load(const QString& profilePath);
    // Writes the entries this table numbered itself, re-reading the profile's section first: a
    // number that a line holds now is never written over (the entry moves to the lowest free
    // number), and a device that a line maps now under any of its names gets no entry.
    bool save(const QString& profilePath);

    // Takes the profile's lines (key, value) as the hand entries and numbers the devices
    // present. Keys other than COM1 to COM255 are ignored; an entry with an empty value keeps
    // its number unmapped.
    void assign(const QList<std::pair<QString, QString>>& profileEntries);
    // Gives the lowest free numbers to devices present now that have none yet (a device plugged
    // in since the load); every number already given stays. save() writes them.
    void numberNewDevices();

    // The device path of port n; empty when n has no entry.
    QString devicePath(int n) const { return entries.value(n); }
    // Adds or replaces an entry by hand (kept out of save()).
    void setEntry(int n, const QString& path);
    // Every mapped number and its path, in ascending order.
    QMap<int, QString> allEntries() const;
    // The entries made since the last assign() that save() would write.
    QMap<int, QString> newEntries() const { return added; }

    // The key of port n in the profile ("COM3"), and the port number of such a key (0 when it
    // is none).
    static QString keyFor(int n);
    static int numberOfKey(const QString& key);

    // The serial devices QSerialPortInfo reports.
    static QList<Device> systemDevices();

private:
    // The profile's lines by port number; the first line of a key counts.
    static QMap<int, QString> firstLines(const QList<std::pair<QString, QString>>& profileEntries);
    // The lowest number without an entry; past LastPort when all are taken.
    int lowestFree() const;
    bool isPhantom(const Device& device) const;
    QString preferredPath(const Device& device) const;

    QString sysfsRoot;
    QString byIdDir;
    DeviceLister listDevices;
    QMap<int, QString> entries; // empty value: number reserved by hand, not mapped
    QMap<int, QString> added;
};
