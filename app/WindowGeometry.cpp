#include "app/WindowGeometry.h"

#include "app/NirvexMain.h"
#include "app/Twips.h"

#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>

WindowGeometry::WindowGeometry(QWidget& window, NirvexMain& app, const QString& section,
                               const QString& keyPrefix)
    : window(window), app(app), section(section), keyPrefix(keyPrefix)
{
}

void WindowGeometry::Restore(double dpi)
{
    const double left = read(QStringLiteral("Left"), 1000);
    const double top = read(QStringLiteral("Top"), 1000);
    const double width = read(QStringLiteral("Width"), 6500);
    const double height = read(QStringLiteral("Height"), 6500);
    SetOuter(Twips::toPixels(left, top, width, height, dpi));
}

double WindowGeometry::read(const QString& name, double fallback) const
{
    const QString text = app.GetIniSetting(section, keyPrefix + name, int(fallback));
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    // A hand-edited value that is no number counts as missing.
    if (!ok || !std::isfinite(value))
        return fallback;
    return value;
}

void WindowGeometry::Store(double dpi) const
{
    if (window.isMinimized())
        return;
    const QRectF outer = Twips::fromPixels(window.frameGeometry(), dpi);
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Left"), float(outer.x()));
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Top"), float(outer.y()));
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Width"), float(outer.width()));
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Height"), float(outer.height()));
}

void WindowGeometry::SetOuter(const QRect& outer)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    const int frameWidth = frame.width() - inner.width();
    const int frameHeight = frame.height() - inner.height();
    window.move(outer.topLeft());
    window.resize(std::max(0, outer.width() - frameWidth),
                  std::max(0, outer.height() - frameHeight));
    if (window.isVisible())
        pendingOuter.reset();
    else
        pendingOuter = PendingOuter{outer, window.size()};
}

void WindowGeometry::Shown()
{
    if (!pendingOuter)
        return;
    // The window manager's frame is known only once the window is up: fit the outer edges
    // again so that stored and restored sizes agree.
    QTimer::singleShot(0, &window, [this] {
        if (!pendingOuter)
            return;
        const PendingOuter pending = *pendingOuter;
        pendingOuter.reset();
        // Leave it alone when something else has sized the window since.
        if (window.size() != pending.innerSize || window.isMinimized() || window.isMaximized())
            return;
        if (window.frameGeometry() != pending.outer)
            SetOuter(pending.outer);
    });
}
