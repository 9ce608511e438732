#pragma once

#include <QString>
#include <QTableWidget>

// A read-only text grid with one header row, column widths in twips and rows appended as
// TAB-separated text.
class FlexGrid : public QTableWidget {
    Q_OBJECT
public:
    // dpi converts twips to pixels; a value that is not positive counts as 96.
    explicit FlexGrid(double dpi, QWidget* parent = nullptr);

    // Rows counts the header row too, so setRows(1) leaves only the header; smaller values
    // count as 1.
    int Rows() const;
    void setRows(int rows);
    int Cols() const;

    // Width of column col in twips; 0 for a column that does not exist.
    int ColWidth(int col) const;
    // Ignored for a column that does not exist or a negative width.
    void setColWidth(int col, int twips);

    // Appends a row; TABs separate its cells. Cells beyond Cols are dropped, missing ones empty.
    void AddItem(const QString& row);

    // Header texts separated by "|", each optionally led by an alignment mark ("<" left, "^"
    // centre, ">" right). Sets Cols and the header texts, and sizes every column to show its
    // header text, blanks included, in the grid's font.
    void setFormatString(const QString& text);

    // Cell text: row 0 is the header row; empty outside the grid.
    QString TextMatrix(int row, int col) const;

protected:
    void changeEvent(QEvent* event) override;

private:
    // Rows as high as one line of the grid's font.
    void fitRowHeight();

    double dpi;
};
