#pragma once

#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// One copy of Nirvex with a LAN destination: a loaded, shown main window on a temporary
// profile whose [Ports] section maps COM1 to sourcePath, framing 8N1, role 1 server, 2 client
// or 3 host. Its sockets bind to 127.0.0.1 only.
class LanCopy {
public:
    LanCopy(const QString& sourcePath, int role, const QString& speed = QStringLiteral("9600"));

    // Clicks the run button.
    void click();
    // Keeps the source timer from ending the burst until its interval is set again.
    void holdBurst();
    QString status() const;
    bool lampOn() const;
    bool listEnabled() const;

    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;
};
