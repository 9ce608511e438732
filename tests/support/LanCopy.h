#pragma once

#include "TestCopy.h"

#include <QString>

// A TestCopy with a LAN destination: a loaded, shown main window whose COM1 is sourcePath,
// framing 8N1, role 1 server, 2 client or 3 host. Its sockets bind to 127.0.0.1 only.
class LanCopy : public TestCopy {
public:
    LanCopy(const QString& sourcePath, int role, const QString& speed = QStringLiteral("9600"));

    // Clicks the run button.
    void click();
    // Keeps the source timer from ending the burst until its interval is set again.
    void holdBurst();
    QString status() const;
    bool lampOn() const;
    bool listEnabled() const;
};
