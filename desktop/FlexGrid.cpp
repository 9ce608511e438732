#include "desktop/FlexGrid.h"

#include "desktop/Twips.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <algorithm>
#include <cmath>

namespace {

// Blank space left and right of a header text when a column is sized to it.
constexpr double cellMarginTwips = 60;
// Blank space above and below the text of a row.
constexpr double cellPaddingTwips = 30;

Qt::Alignment alignmentOf(QChar mark)
{
    switch (mark.unicode()) {
    case u'^':
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case u'>':
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

bool isAlignmentMark(QChar c)
{
    return c == u'<' || c == u'^' || c == u'>';
}

} // namespace

FlexGrid::FlexGrid(double dpi, QWidget* parent)
    : QTableWidget(parent), dpi(std::isfinite(dpi) && dpi > 0 ? dpi : 96.0)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    fitRowHeight();
}

void FlexGrid::changeEvent(QEvent* event)
{
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitRowHeight();
}

void FlexGrid::fitRowHeight()
{
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() +
                                            2 * Twips::toPixels(cellPaddingTwips, dpi));
}

int FlexGrid::Rows() const
{
    return rowCount() + 1;
}

void FlexGrid::setRows(int rows)
{
    setRowCount(std::max(rows, 1) - 1);
}

int FlexGrid::Cols() const
{
    return columnCount();
}

int FlexGrid::ColWidth(int col) const
{
    if (col < 0 || col >= columnCount())
        return 0;
    return int(std::lround(Twips::fromPixels(columnWidth(col), dpi)));
}

void FlexGrid::setColWidth(int col, int twips)
{
    if (col < 0 || col >= columnCount() || twips < 0)
        return;
    setColumnWidth(col, std::max(0, Twips::toPixels(twips, dpi)));
}

void FlexGrid::AddItem(const QString& row)
{
    const QStringList cells = row.split(QLatin1Char('\t'));
    const int r = rowCount();
    setRowCount(r + 1);
    for (int c = 0; c < columnCount(); ++c) {
        auto* item = new QTableWidgetItem(c < cells.size() ? cells.at(c) : QString());
        setItem(r, c, item);
    }
}

void FlexGrid::setFormatString(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char('|'));
    setColumnCount(int(fields.size()));
    const QFontMetrics metrics(font());
    const int margin = Twips::toPixels(cellMarginTwips, dpi);
    for (int c = 0; c < fields.size(); ++c) {
        QString caption = fields.at(c);
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
        if (!caption.isEmpty() && isAlignmentMark(caption.front())) {
            alignment = alignmentOf(caption.front());
            caption.remove(0, 1);
        }
        auto* header = new QTableWidgetItem(caption);
        header->setTextAlignment(alignment);
        setHorizontalHeaderItem(c, header);
        setColumnWidth(c, metrics.horizontalAdvance(caption) + 2 * margin);
    }
}

QString FlexGrid::TextMatrix(int row, int col) const
{
    if (col < 0 || col >= columnCount())
        return QString();
    const QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
    return cell ? cell->text() : QString();
}
