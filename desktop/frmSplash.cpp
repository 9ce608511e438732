#include "desktop/frmSplash.h"

#include "desktop/AppInfo.h"
#include "desktop/Twips.h"
#include "desktop/UiText.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace {

constexpr double ClientWidth = 7455;
constexpr double ClientHeight = 4605;
constexpr int BorderPixels = 2;
constexpr const char* AutoSizeProperty = "nirvexAutoSize";
// Longest wait for the window manager to put the window on screen.
constexpr int ExposeWaitMs = 2000;

} // namespace

frmSplash::frmSplash(QWidget* parent) : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    frmMain::installFontSubstitutions();
    if (const QScreen* s = screen())
        dpi = s->logicalDotsPerInchX();
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(AppInfo::title());
    setWindowIcon(AppInfo::icon());
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(BorderPixels);

    const int clientWidth = Twips::toPixels(ClientWidth, dpi);
    const int clientHeight = Twips::toPixels(ClientHeight, dpi);
    setFixedSize(clientWidth + 2 * BorderPixels, clientHeight + 2 * BorderPixels);
    clientArea = new QWidget(this);
    clientArea->setGeometry(BorderPixels, BorderPixels, clientWidth, clientHeight);

    fraMainFrame = new QGroupBox(clientArea);
    fraMainFrame->setObjectName(QStringLiteral("fraMainFrame"));
    fraMainFrame->setGeometry(Twips::toPixels(45, -15, 7380, 4590, dpi));

    picLogo = new QLabel(fraMainFrame);
    picLogo->setObjectName(QStringLiteral("picLogo"));
    picLogo->setPixmap(AppInfo::logo());
    picLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picLogo->setGeometry(Twips::toPixels(510, 1320, 540, 540, dpi));

    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignTop;
    lblProductName = makeLabel(QStringLiteral("製品名"), 2670, 1200, 1980, 645, 32.25, true, left);
    lblProductName->setObjectName(QStringLiteral("lblProductName"));
    lblPlatform = makeLabel(QStringLiteral("ﾌﾟﾗｯﾄﾌｫｰﾑ"), 5400, 2400, 1605, 315, 15.75, true, right);
    lblPlatform->setObjectName(QStringLiteral("lblPlatform"));
    lblVersion = makeLabel(UiText::VersionCaption, 6105, 2760, 900, 240, 12, true, right);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    for (QLabel* label : {lblProductName, lblPlatform, lblVersion}) {
        label->setProperty(AutoSizeProperty, true);
        autoSize(label);
    }
    lblLicenseTo = makeLabel(QString(), 270, 300, 6855, 255, 8.25, false, right);
    lblLicenseTo->setObjectName(QStringLiteral("lblLicenseTo"));
    lblCopyright = makeLabel(AppInfo::copyright(), 3870, 3120, 3255, 255, 8.25, false, left);
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    lblWarning[0] = makeLabel(UiText::Donationware, 240, 3720, 5535, 195, 8.25, false, left);
    lblWarning[1] = makeLabel(QStringLiteral("よろしければ、カンパをお願いいたします。"), 240, 3960,
                              5535, 195, 8.25, false, left);
    lblWarning[0]->setObjectName(QStringLiteral("lblWarning_0"));
    lblWarning[1]->setObjectName(QStringLiteral("lblWarning_1"));

    centreOnScreen();
}

QLabel* frmSplash::makeLabel(const QString& text, double left, double top, double width,
                             double height, double points, bool bold, Qt::Alignment alignment)
{
    QFont font(UiText::ProportionalFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    auto* label = new QLabel(text, fraMainFrame);
    label->setFont(font);
    label->setAlignment(alignment);
    label->setGeometry(Twips::toPixels(left, top, width, height, dpi));
    return label;
}

void frmSplash::autoSize(QLabel* label)
{
    if (!label->property(AutoSizeProperty).toBool())
        return;
    const QRect before = label->geometry();
    const QSize wanted = label->sizeHint();
    QRect after(before.topLeft(), wanted);
    if (label->alignment() & Qt::AlignRight)
        after.moveRight(before.right());
    label->setGeometry(after);
}

void frmSplash::Load()
{
    lblVersion->setText(QStringLiteral("Version ") + AppInfo::versionText());
    autoSize(lblVersion);
    lblProductName->setText(AppInfo::title());
    autoSize(lblProductName);
}

void frmSplash::centreOnScreen()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    QRect outer(QPoint(), size());
    outer.moveCenter(s->availableGeometry().center());
    move(outer.topLeft());
}

void frmSplash::showNow()
{
    centreOnScreen();
    show();
    raise();
    // A window manager maps the window some time after the request, and what is drawn before
    // that is lost: serve events until the window is on screen, for a bounded time.
    QDeadlineTimer deadline(ExposeWaitMs);
    while (!(windowHandle() && windowHandle()->isExposed()) && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
