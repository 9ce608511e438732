#pragma once

#include "core/TrafficLog.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QMetaObject>
#include <QTimer>

class QAction;
class QMenu;
class RelayCore;

// The traffic monitor: the relay's bytes as a hex dump coloured by direction, modem line events
// and the counts each way, redrawn at most RefreshPerSecond times a second, with a context menu to
// pause, clear and save.
class TrafficView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int RefreshPerSecond = 30;

    explicit TrafficView(RelayCore& relay, QWidget* parent = nullptr);

    // Takes the relay's traffic while on; while off the relay reports nothing to it.
    void setMonitoring(bool on);
    bool isMonitoring() const { return !connections.isEmpty(); }
    void setPaused(bool on);
    void clear();
    // Writes the counts and every line kept; false when the file cannot be written.
    bool saveTo(const QString& path) const;

    const TrafficLog& log() const { return traffic; }
    QMenu* contextMenu() const { return menu; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void changed();
    void refresh();
    void askAndSave();
    int rowHeight() const;
    // Rows below the counts row that the viewport shows whole.
    int dataRows() const;

    RelayCore& relay;
    TrafficLog traffic;
    QList<QMetaObject::Connection> connections;
    QTimer refreshTimer;
    qint64 shownFirstLine = 0;
    QMenu* menu;
    QAction* pauseItem;
};
