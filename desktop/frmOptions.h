#pragma once

#include <QDialog>
#include <array>

class QFrame;
class QGroupBox;
class QPushButton;
class QTabBar;

// The tabbed options dialog: four pages of sample content with OK, Cancel and Apply buttons that
// only say where option handling would go. Ctrl+Tab and Ctrl+Shift+Tab step through the tabs.
class frmOptions : public QDialog {
    Q_OBJECT
public:
    static constexpr double PageShownLeft = 210;
    static constexpr double PageHiddenLeft = -20000;

    explicit frmOptions(QWidget* owner);
    ~frmOptions() override;

    // keyCode: Qt key; shift: the Shift and Ctrl bits of the modifiers count, others are ignored.
    void Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    // Moves the page of the selected tab into view and enables it; the others leave and are
    // disabled.
    void tbsOptions_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdApply_Click();

    // The 1-based tab selected after keyCode with modifiers on tab selected of count tabs:
    // Ctrl+Tab steps forward, Ctrl+Shift+Tab (or Ctrl+Backtab) back, both wrapping around;
    // every other key leaves selected as it is.
    static int tabAfterKey(int selected, int count, int keyCode, Qt::KeyboardModifiers modifiers);

    // Builds a fresh dialog owned by owner and shows it modally until it is closed.
    static void showModal(QWidget* owner);

    static QString okMessage();
    static QString applyMessage();

    QTabBar* tbsOptions = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdApply = nullptr;
    std::array<QWidget*, 4> picOptions{};
    QGroupBox* fraSample1 = nullptr;
    QGroupBox* fraSample2 = nullptr;
    QGroupBox* fraSample3 = nullptr;
    QGroupBox* fraSample4 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place(QWidget* widget, double left, double top, double width, double height) const;
    QWidget* makePage(int index, double left);
    QGroupBox* makeSample(QWidget* page, int number, double left, double top);

    double dpi = 96.0;
    // The body of the tab strip: the raised panel below the tabs that the pages sit on.
    QFrame* tabBody = nullptr;
};
