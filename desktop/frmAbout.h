#pragma once

#include <QDialog>
#include <QUrl>
#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QWidget;

// The version information window: icon, title, version, copyright and donation lines, a link to
// the author's web page, and buttons to close it or start the system-information tool.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    using UrlOpener = std::function<void(const QUrl&)>;

    explicit frmAbout(QWidget* owner);

    // The load handler: puts the version and the program title into their labels.
    void Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    // Opens the author's web page, or the help contents when the build names no web page; the
    // four description lines call it when clicked.
    void lblDescription_Click(int index);

    // Builds a fresh window owned by owner, loads it and shows it modally until it is closed.
    static void showModal(QWidget* owner);
    // Replaces the desktop browser for the web page; an empty opener restores it. Returns the
    // opener that was set before.
    static UrlOpener setUrlOpener(UrlOpener opener);

    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    QLabel* picIcon = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblTitle = nullptr;
    std::array<QLabel*, 4> lblDescription{};
    // Line1(0) white, 2 pixels; Line1(1) grey, 1 pixel: the etched separator above the buttons.
    std::array<QWidget*, 2> Line1{};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place(QWidget* widget, double left, double top, double width, double height) const;
    QLabel* makeLabel(const QString& text, double left, double top, double width, double height);
    QWidget* makeLine(QColor colour, double x1, double x2, double y, int pixels);

    double dpi = 96.0;
};
