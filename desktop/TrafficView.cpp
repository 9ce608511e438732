#include "desktop/TrafficView.h"

#include "core/RelayCore.h"
#include "desktop/UiColors.h"
#include "desktop/UiText.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>

namespace {

// Width of the direction mark at the left of each row, in pixels.
constexpr int markWidth = 4;
constexpr int textIndent = 8;
// Characters of a full dump line: offset, hex column, printable text.
constexpr int dumpColumns = 10 + 3 * TrafficLog::BytesPerLine + 2 + TrafficLog::BytesPerLine;

QColor colorOf(const TrafficLog::Line& line)
{
    if (line.kind == TrafficLog::LineKind::Event)
        return UiColors::TrafficEvent;
    return line.direction == TrafficLog::Direction::ToDestination ? UiColors::TrafficToDestination
                                                                  : UiColors::TrafficToSource;
}

} // namespace

TrafficView::TrafficView(RelayCore& relay, QWidget* parent)
    : QAbstractScrollArea(parent), relay(relay), menu(new QMenu(this))
{
    setObjectName(QStringLiteral("trafficView"));
    setFrameShape(QFrame::NoFrame);
    QFont font(UiText::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(9);
    setFont(font);
    viewport()->setAutoFillBackground(true);
    QPalette colors = viewport()->palette();
    colors.setColor(QPalette::Window, UiColors::TrafficBack);
    viewport()->setPalette(colors);

    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(1000 / RefreshPerSecond);
    connect(&refreshTimer, &QTimer::timeout, this, &TrafficView::refresh);

    pauseItem = menu->addAction(QStringLiteral("一時停止(&P)"));
    pauseItem->setObjectName(QStringLiteral("mnuMonPause"));
    pauseItem->setCheckable(true);
    connect(pauseItem, &QAction::toggled, this, &TrafficView::setPaused);
    QAction* clearItem = menu->addAction(QStringLiteral("消去(&C)"));
    clearItem->setObjectName(QStringLiteral("mnuMonClear"));
    connect(clearItem, &QAction::triggered, this, &TrafficView::clear);
    QAction* saveItem = menu->addAction(QStringLiteral("保存(&S)..."));
    saveItem->setObjectName(QStringLiteral("mnuMonSave"));
    connect(saveItem, &QAction::triggered, this, &TrafficView::askAndSave);
}

void TrafficView::setMonitoring(bool on)
{
    if (on == isMonitoring())
        return;
    if (!on) {
        for (const QMetaObject::Connection& connection : std::as_const(connections))
            disconnect(connection);
        connections.clear();
        return;
    }
    connections.append(connect(&relay, &RelayCore::sourceBytes, this, [this](const QByteArray& b) {
        traffic.appendBytes(TrafficLog::Direction::ToDestination, b,
                            QDateTime::currentMSecsSinceEpoch());
        changed();
    }));
    connections.append(
        connect(&relay, &RelayCore::destinationBytes, this, [this](const QByteArray& b) {
            traffic.appendBytes(TrafficLog::Direction::ToSource, b,
                                QDateTime::currentMSecsSinceEpoch());
            changed();
        }));
    connections.append(connect(&relay, &RelayCore::modemLineChanged, this,
                               [this](RelayPort port, ModemLine line, bool lineOn) {
                                   traffic.appendLineChange(port, line, lineOn,
                                                            QDateTime::currentMSecsSinceEpoch());
                                   changed();
                               }));
}

void TrafficView::setPaused(bool on)
{
    traffic.setPaused(on);
    pauseItem->setChecked(on);
    changed();
}

void TrafficView::clear()
{
    traffic.clear();
    changed();
}

bool TrafficView::saveTo(const QString& path) const
{
    return traffic.save(path);
}

void TrafficView::askAndSave()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("保存"), QString(),
                                     QStringLiteral("ﾃｷｽﾄ ﾌｧｲﾙ (*.txt);;すべてのﾌｧｲﾙ (*.*)"));
    if (!path.isEmpty() && !saveTo(path))
        QMessageBox::warning(this, QStringLiteral("Nirvex"),
                             QStringLiteral("保存できませんでした。\n%1").arg(path));
}

void TrafficView::changed()
{
    // Redraws are coalesced: whatever arrives before the next tick is drawn by that tick.
    if (!refreshTimer.isActive())
        refreshTimer.start();
}

void TrafficView::refresh()
{
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    // Lines dropped at the top move what the reader looks at up by as many rows.
    const qint64 dropped = traffic.firstLineNumber() - shownFirstLine;
    shownFirstLine = traffic.firstLineNumber();
    const int rows = dataRows();
    const int maximum = int(std::max<qint64>(0, traffic.lineCount() - rows));
    bar->setRange(0, maximum);
    bar->setPageStep(std::max(1, rows));
    bar->setValue(following ? maximum : int(std::max<qint64>(0, bar->value() - dropped)));
    // A window narrower than a dump line scrolls sideways; the hex column is the widest part.
    const int lineWidth =
        textIndent + fontMetrics().horizontalAdvance(QString(dumpColumns, QLatin1Char('0')));
    horizontalScrollBar()->setRange(0, std::max(0, lineWidth - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    if (isVisible())
        viewport()->update();
}

int TrafficView::rowHeight() const
{
    return fontMetrics().height();
}

int TrafficView::dataRows() const
{
    return std::max(0, viewport()->height() / rowHeight() - 1);
}

void TrafficView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    refresh();
}

void TrafficView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const int ascent = fontMetrics().ascent();
    const int width = viewport()->width();

    painter.fillRect(0, 0, width, height, UiColors::TrafficCounts);
    painter.setPen(UiColors::LampText);
    QString counts = traffic.countsText();
    if (traffic.isPaused())
        counts += QStringLiteral("  (一時停止中)");
    const int left = textIndent - horizontalScrollBar()->value();
    painter.drawText(left, ascent, counts);

    const qint64 first = verticalScrollBar()->value();
    const qint64 end = std::min<qint64>(traffic.lineCount(), first + dataRows() + 1);
    for (qint64 i = first; i < end; ++i) {
        const TrafficLog::Line line = traffic.line(i);
        const int top = int(i - first + 1) * height;
        const QColor color = colorOf(line);
        painter.fillRect(0, top, markWidth, height, color);
        painter.setPen(color);
        painter.drawText(left, top + ascent, line.text);
    }
}

void TrafficView::contextMenuEvent(QContextMenuEvent* event)
{
    menu->exec(event->globalPos());
}
