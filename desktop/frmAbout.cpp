#include "desktop/frmAbout.h"

#include "desktop/AppInfo.h"
#include "desktop/SystemInfo.h"
#include "desktop/Twips.h"
#include "desktop/UiColors.h"
#include "desktop/UiText.h"
#include "desktop/frmMain.h"
#include "helpviewer/HelpWindow.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <utility>

namespace {

constexpr double ClientWidth = 5865;
constexpr double ClientHeight = 3525;

frmAbout::UrlOpener& currentOpener()
{
    static frmAbout::UrlOpener opener;
    return opener;
}

} // namespace

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint)
{
    frmMain::installFontSubstitutions();
    if (const QScreen* s = screen())
        dpi = s->logicalDotsPerInchX();
    setObjectName(QStringLiteral("frmAbout"));
    setModal(true);
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 Nirvex"));
    setWindowIcon(AppInfo::icon());
    QFont dialogFont(UiText::ProportionalFont);
    dialogFont.setPointSize(9);
    setFont(dialogFont);
    setFixedSize(Twips::toPixels(ClientWidth, dpi), Twips::toPixels(ClientHeight, dpi));

    // Created in tab order.
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    place(cmdOK, 4245, 2625, 1467, 345);
    cmdSysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    place(cmdSysInfo, 4260, 3075, 1452, 345);
    setTabOrder(cmdOK, cmdSysInfo);

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(AppInfo::logo());
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(picIcon, 240, 240, 540, 540);

    lblDisclaimer = makeLabel(QString(), 255, 2625, 3870, 825);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    lblVersion = makeLabel(UiText::VersionCaption, 1050, 780, 4092, 225);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblTitle = makeLabel(QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝ ﾀｲﾄﾙ"), 1050, 240, 4092, 480);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));

    const std::array<QString, 4> descriptions = {AppInfo::copyright(), UiText::Donationware,
                                                 QStringLiteral("よろしければ、ご協力ください。"),
                                                 AppInfo::homepage()};
    const std::array<double, 4> tops = {1125, 1440, 1680, 2040};
    for (size_t i = 0; i < lblDescription.size(); ++i) {
        QLabel* label = makeLabel(descriptions[i], 1050, tops[i], 4095, 330);
        label->setObjectName(QStringLiteral("lblDescription_%1").arg(i));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        lblDescription[i] = label;
    }
    QFont linkFont(UiText::ProportionalFont);
    linkFont.setPointSize(9);
    linkFont.setUnderline(true);
    lblDescription[3]->setFont(linkFont);
    QPalette linkPalette = lblDescription[3]->palette();
    linkPalette.setColor(QPalette::WindowText, UiColors::LinkText);
    lblDescription[3]->setPalette(linkPalette);

    Line1[1] = makeLine(QColor(128, 128, 128), 225, 5657, 2430, 1);
    Line1[0] = makeLine(QColor(Qt::white), 240, 5657, 2445, 2);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

void frmAbout::place(QWidget* widget, double left, double top, double width, double height) const
{
    widget->setGeometry(Twips::toPixels(left, top, width, height, dpi));
}

QLabel* frmAbout::makeLabel(const QString& text, double left, double top, double width,
                            double height)
{
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette black = label->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(black);
    place(label, left, top, width, height);
    return label;
}

QWidget* frmAbout::makeLine(QColor colour, double x1, double x2, double y, int pixels)
{
    auto* line = new QWidget(this);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
    const int left = Twips::toPixels(x1, dpi);
    line->setGeometry(left, Twips::toPixels(y, dpi), Twips::toPixels(x2, dpi) - left + 1, pixels);
    return line;
}

void frmAbout::Load()
{
    lblVersion->setText(UiText::VersionCaption + QLatin1Char(' ') + AppInfo::versionText());
    lblTitle->setText(AppInfo::title());
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::cmdSysInfo_Click()
{
    SystemInfo::StartSysInfo(this);
}

void frmAbout::lblDescription_Click(int)
{
    // Without a web page of its own the program points to its help instead.
    if (AppInfo::homepage().isEmpty()) {
        HelpWindow::showContents(parentWidget() ? parentWidget() : this, AppInfo::helpFilePath());
        return;
    }
    const QUrl page(AppInfo::homepage());
    if (const UrlOpener& opener = currentOpener())
        opener(page);
    else
        QDesktopServices::openUrl(page);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        for (size_t i = 0; i < lblDescription.size(); ++i) {
            if (watched == lblDescription[i] && mouse->button() == Qt::LeftButton &&
                lblDescription[i]->rect().contains(mouse->position().toPoint())) {
                lblDescription_Click(int(i));
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::showModal(QWidget* owner)
{
    // Deleted on return, so that every showing starts from a fresh window; the guard covers an
    // owner that goes away while the window is open and takes it along.
    QPointer<frmAbout> about = new frmAbout(owner);
    about->Load();
    about->exec();
    delete about.data();
}

frmAbout::UrlOpener frmAbout::setUrlOpener(UrlOpener opener)
{
    return std::exchange(currentOpener(), std::move(opener));
}
