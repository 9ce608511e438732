#include "desktop/WindowGeometry.h"

#include "desktop/NirvexMain.h"
#include "desktop/Twips.h"

#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// How often and how long to look for the window manager's frame after a show.
constexpr int FrameCheckMs = 20;
constexpr int FrameChecks = 100;

} // namespace

WindowGeometry::WindowGeometry(QWidget& window, NirvexMain& app, const QString& section,
                               const QString& keyPrefix)
    : window(window), app(app), section(section), keyPrefix(keyPrefix)
{
}

void WindowGeometry::Restore(double dpi, bool designSizeFirst)
{
    const double left = read(QStringLiteral("Left"), 1000);
    const double top = read(QStringLiteral("Top"), 1000);
    const double width = read(QStringLiteral("Width"), DefaultSize);
    const double height = read(QStringLiteral("Height"), DefaultSize);
    // Nothing stored yet: keep the size the window was built at, which holds its whole layout,
    // and only place it.
    if (designSizeFirst && !stored(QStringLiteral("Width")) && !stored(QStringLiteral("Height"))) {
        window.move(Twips::toPixels(left, dpi), Twips::toPixels(top, dpi));
        pendingOuter.reset();
        return;
    }
    SetOuter(Twips::toPixels(left, top, width, height, dpi));
}

bool WindowGeometry::stored(const QString& name) const
{
    bool ok = false;
    const float value =
        app.GetIniSetting(section, keyPrefix + name, QString()).trimmed().toFloat(&ok);
    return ok && std::isfinite(value);
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
    const QRectF outer = Twips::fromPixels(frameGeometry(), dpi);
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Left"), float(outer.x()));
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Top"), float(outer.y()));
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Width"), float(outer.width()));
    app.SaveIniSetting(section, keyPrefix + QStringLiteral("Height"), float(outer.height()));
}

void WindowGeometry::SetOuter(const QRect& outer)
{
    const QRect frame = frameGeometry();
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
    if (!frameWatch) {
        frameWatch = new QTimer(&window);
        frameWatch->setInterval(FrameCheckMs);
        QObject::connect(frameWatch, &QTimer::timeout, &window, [this] { fitToFrame(); });
    }
    frameChecksLeft = FrameChecks;
    frameWatch->start();
}

void WindowGeometry::fitToFrame()
{
    // Something else has sized the window since: leave it alone.
    const bool untouched = pendingOuter && window.size() == pendingOuter->innerSize &&
                           !window.isMinimized() && !window.isMaximized();
    const bool framed = frameGeometry() != window.geometry();
    // Without a frame yet the window manager may still be at work; none may ever come (no window
    // manager, or a frameless window).
    if (untouched && !framed && --frameChecksLeft > 0)
        return;
    frameWatch->stop();
    const std::optional<PendingOuter> pending = std::exchange(pendingOuter, std::nullopt);
    // Fit the outer edges again now that the frame is known, so that stored and restored sizes
    // agree.
    if (untouched && framed && frameGeometry() != pending->outer)
        SetOuter(pending->outer);
}

QRect WindowGeometry::frameGeometry() const
{
    // The widget keeps the frame it saw at its last move or resize, and a window manager may
    // change the frame later (openbox drops the borders of a maximised window); the native
    // window asks again whenever the frame has changed.
    if (const QWindow* native = window.windowHandle(); native && native->handle())
        return native->frameGeometry();
    return window.frameGeometry();
}
