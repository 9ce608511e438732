#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

class NirvexMain;
class QTimer;
class QWidget;

// Restores and stores a window's outer place and size (title bar and borders included) in twips
// in the profile, and fits the outer edges again once the window manager's frame is known.
class WindowGeometry {
public:
    // The values are kept under section as keyPrefix followed by Left, Top, Width and Height.
    WindowGeometry(QWidget& window, NirvexMain& app, const QString& section,
                   const QString& keyPrefix);

    static constexpr double DefaultSize = 6500;

    // Places the window as stored, 1000 twips from the left and top edges and DefaultSize twips
    // wide and high where nothing usable is stored. With designSizeFirst, a window whose size
    // was never stored keeps the size it has.
    void Restore(double dpi, bool designSizeFirst = false);
    // Stores the outer place and size unless the window is minimised.
    void Store(double dpi) const;
    // Places the outer edges of the window at outer.
    void SetOuter(const QRect& outer);
    // To be called from the window's show handler: applies an outer size asked for while hidden
    // once the window manager has put its frame around the window.
    void Shown();

private:
    double read(const QString& name, double fallback) const;
    // True when the profile holds a usable number under keyPrefix + name.
    bool stored(const QString& name) const;
    void fitToFrame();
    // The window's outer edges as they are now.
    QRect frameGeometry() const;

    QWidget& window;
    NirvexMain& app;
    QString section;
    QString keyPrefix;
    // Outer size asked for before the window manager's frame was known; applied at first show.
    struct PendingOuter {
        QRect outer;
        QSize innerSize;
    };
    std::optional<PendingOuter> pendingOuter;
    // Watches for the frame after a show; the window manager adds it some time after the map.
    QTimer* frameWatch = nullptr;
    int frameChecksLeft = 0;
};
