#pragma once

#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// One loaded main window of Nirvex on a profile in a temporary folder of its own: [Ports] maps
// the given COM numbers to device paths and `more` follows it. No device of the machine is listed.
class TestCopy {
public:
    explicit TestCopy(const QMap<int, QString>& ports = {}, const QByteArray& more = {});

    // False when the profile could not be written.
    bool ok() const { return written; }

    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;

private:
    bool written = false;
};
