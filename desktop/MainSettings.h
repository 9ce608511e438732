#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class NirvexMain;
class frmMain;
class QComboBox;

// Puts the main window's remembered values back at load and writes them out at unload.
class MainSettings {
public:
    // Port pickers, framing pickers, LAN fields, destination history, destination kind and
    // role, in that order. Each value is independent: one that cannot be used is left alone
    // and the rest still come back. Runs the option click handlers of the chosen options.
    static void Restore(frmMain& form, NirvexMain& app);
    // Writes the same values; numbered "Server" keys above the current count stay as they are.
    static void Store(const frmMain& form, const NirvexMain& app);

    // A stored whole number: blanks around it allowed, a fraction rounded half to even.
    // Nothing when the text is no number or the result lies outside [min, max].
    static std::optional<qint64> ToInteger(const QString& text, qint64 min, qint64 max);
    // The first item whose port number is n; -1 when n is negative or no item has it.
    static int PortIndex(const QStringList& items, int n);
    // The first item equal to text, letter case significant; -1 when none is.
    static int ItemIndex(const QStringList& items, const QString& text);

private:
    // Port, speed, parity, data bits and stop bits of the source, then of the destination.
    static QList<QComboBox*> pickers(const frmMain& form);
};
