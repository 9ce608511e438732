#pragma once

#include "TestCopy.h"
#include "desktop/ShapeLamp.h"
#include "desktop/StatusBar.h"

#include <QPushButton>
#include <QString>
#include <QTest>

// A TestCopy with a LAN destination: a loaded, shown main window whose COM1 is sourcePath,
// framing 8N1, role 1 server, 2 client or 3 host. Its sockets bind to 127.0.0.1 only.
class LanCopy : public TestCopy {
public:
    LanCopy(const QString& sourcePath, int role, const QString& speed = QStringLiteral("9600"));

    void click() { QTest::mouseClick(w->findChild<QPushButton*>("cmdRun"), Qt::LeftButton); }
    QString status() const
    {
        return w->findChild<StatusBar*>("sbStatusBar")->panelText(QStringLiteral("status"));
    }
    bool lampOn() const
    {
        return w->findChild<ShapeLamp*>("shpLan")->FillColor() == QColor(64, 255, 64);
    }
};
