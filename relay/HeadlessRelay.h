#pragma once

#include "core/PortTable.h"
#include "core/RelayCore.h"

#include <QObject>
#include <QString>

// Runs one relay from a profile file without a window, writing every status text to standard
// error, until it is told to stop. A port that goes away is opened again once it is back.
class HeadlessRelay : public QObject {
    Q_OBJECT
public:
    explicit HeadlessRelay(QObject* parent = nullptr);

    // Exit codes of a relay that cannot run: a start that failed may work when tried again (an
    // adapter that appears late); a profile that cannot be read or names a port it does not map
    // needs the user first.
    static constexpr int StartFailed = 1;
    static constexpr int ProfileUnusable = 2;

    // Reads the profile and starts the relay as the run button would; 0 when it runs, else the
    // exit code, with the reason written. Only ports the profile's [Ports] section maps are used.
    int start(const QString& profilePath);
    // Stops as the run button does, waits until the ports are closed and finishes with 0.
    void stop(const QString& reason);

signals:
    // The relay has ended; the program should end with exitCode.
    void finished(int exitCode);

private:
    // The reason a side's port cannot be used, or nothing when its number is mapped.
    QString unmappedText(int comPort, const QString& side, const QString& key) const;
    void lanLamp(bool on);

    QString profile;
    PortTable ports;
    RelayCore core;
    QMetaObject::Connection statusLog;
    bool linkUp = false;
    bool stopping = false;
};
