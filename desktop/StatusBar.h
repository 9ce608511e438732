#pragma once

#include <QDateTime>
#include <QHash>
#include <QStatusBar>
#include <QTimer>

class QLabel;

// A status bar of three keyed panels: "status" takes the free width, "date" and "time" show the
// current date and time in the locale's short formats and follow the clock.
class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    // dpi sets the panels' minimum width of one inch (1440 twips).
    explicit StatusBar(double dpi, QWidget* parent = nullptr);

    // The panel with this key, or nullptr.
    QLabel* Panel(const QString& key) const;
    // Unknown keys are ignored and read as empty text.
    void setPanelText(const QString& key, const QString& text);
    QString panelText(const QString& key) const;

private:
    // Shows now in the date and time panels.
    void showClock(const QDateTime& now);
    QLabel* addPanel(const QString& key, int stretch, int minimumWidth);

    QHash<QString, QLabel*> panels;
    QTimer clock;
};
