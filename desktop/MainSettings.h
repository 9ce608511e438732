#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class NirvexMain;
class frmMain;
class QComboBox;

// Puts the main window's remembered values back at load and writes them out at unload.
class MainSettings {
public:
    // 1 when the traffic monitor is shown, 0 when hidden.
    static inline const QString MonitorKey = QStringLiteral("Monitor");

    // Port pickers, framing pickers, LAN fields, destination history, destination kind and
    // role, the server role's allow list, then whether the traffic monitor shows, in that order.
    // Each value is independent: one that cannot be used is left alone and the rest still come
    // back. Runs the option click handlers of the chosen options.
    static void Restore(frmMain& form, NirvexMain& app);
    // Writes the same values; numbered "Server" keys above the current count stay as they are.
    static void Store(const frmMain& form, const NirvexMain& app);

private:
    // Port, speed, parity, data bits and stop bits of the source, then of the destination.
    static QList<QComboBox*> pickers(const frmMain& form);
};
