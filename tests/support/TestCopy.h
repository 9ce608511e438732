#pragma once

#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// One copy of Nirvex for a test or benchmark, on a profile in a temporary folder of its own:
// its [Ports] section maps the given COM numbers to device paths and `more` follows it (for
// example "[Settings]\nDestType=3\n"). No device of the machine is listed.
class TestCopy {
public:
    enum class Start {
        ProfileOnly, // the profile is written, nothing more
        Window,      // a loaded main window in w, not shown
        Program,     // NirvexMain::Main on the profile, as the program starts
    };

    explicit TestCopy(const QMap<int, QString>& ports = {}, const QByteArray& more = {},
                      Start start = Start::Window);

    // False when the profile could not be written.
    bool ok() const { return written; }
    QString profilePath() const { return app.IniPath; }
    // The main window: w, or the one NirvexMain::Main made.
    frmMain& window() const { return w ? *w : *app.MainForm; }
    // Sets the framing pickers of both sides to speed, no parity, 8 data bits, 1 stop bit.
    void setFraming8N1(const QString& speed = QStringLiteral("9600"));

    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;

private:
    bool written = false;
};
