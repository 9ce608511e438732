#pragma once

#include <QFrame>
#include <array>

class QGroupBox;
class QLabel;

// The window shown while the program starts: icon, title, platform, version, copyright and the
// donation lines inside one frame, with a raised border and no title bar.
class frmSplash : public QFrame {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);

    // The load handler: puts the program title and version into their labels.
    void Load();
    // Centres the window on its screen, shows it, waits (at most two seconds) until it is on
    // screen and paints it before returning, so that it is seen while the caller goes on with
    // long work without serving events.
    void showNow();

    QGroupBox* fraMainFrame = nullptr;
    QLabel* picLogo = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblPlatform = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblLicenseTo = nullptr;
    QLabel* lblCopyright = nullptr;
    std::array<QLabel*, 2> lblWarning{};

private:
    QLabel* makeLabel(const QString& text, double left, double top, double width, double height,
                      double points, bool bold, Qt::Alignment alignment);
    // Fits a label that sizes itself to its text; a right-aligned one keeps its right edge.
    static void autoSize(QLabel* label);
    void centreOnScreen();

    double dpi = 96.0;
    QWidget* clientArea = nullptr;
};
