#pragma once

#include <QString>
#include <QStringView>

// Writes the relay host service's event lines to standard error, each after a UTC ISO time.
class RelayHostLog {
public:
    static void write(const QString& message);

    // A peer-supplied text made safe for one log line: control characters shown as \xNN and
    // at most `limit` characters kept, the cut marked with "...".
    static QString printable(QStringView text, int limit = 64);
};
