#include "desktop/frmOptions.h"

#include "desktop/AppInfo.h"
#include "desktop/InfoBox.h"
#include "desktop/Twips.h"
#include "desktop/UiText.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>

namespace {

constexpr double ClientWidth = 6150;
constexpr double ClientHeight = 4935;
constexpr double PageTop = 480;
constexpr double PageWidth = 5685;
constexpr double PageHeight = 3780;

} // namespace

frmOptions::frmOptions(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint)
{
    frmMain::installFontSubstitutions();
    if (const QScreen* s = screen())
        dpi = s->logicalDotsPerInchX();
    setObjectName(QStringLiteral("frmOptions"));
    setModal(true);
    setWindowTitle(QStringLiteral("ｵﾌﾟｼｮﾝ"));
    setWindowIcon(AppInfo::icon());
    QFont dialogFont(UiText::ProportionalFont);
    dialogFont.setPointSize(9);
    setFont(dialogFont);
    setFixedSize(Twips::toPixels(ClientWidth, dpi), Twips::toPixels(ClientHeight, dpi));

    // The tab strip: the tabs along the top of its rectangle and a panel for the pages below.
    const QRect strip = Twips::toPixels(105, 120, 5895, 4245, dpi);
    tabBody = new QFrame(this);
    tabBody->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    tbsOptions = new QTabBar(this);
    tbsOptions->setObjectName(QStringLiteral("tbsOptions"));
    tbsOptions->setDrawBase(false);
    tbsOptions->setExpanding(false);
    for (int i = 1; i <= 4; ++i)
        tbsOptions->addTab(QStringLiteral("ｸﾞﾙｰﾌﾟ %1").arg(i));
    const int tabHeight = tbsOptions->sizeHint().height();
    tbsOptions->setGeometry(strip.x(), strip.y(), strip.width(), tabHeight);
    tabBody->setGeometry(strip.x(), strip.y() + tabHeight - 1, strip.width(),
                         strip.height() - tabHeight + 1);

    // Created in tab order.
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    place(cmdOK, 2490, 4455, 1095, 375);
    picOptions[0] = makePage(0, PageShownLeft);
    cmdCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    place(cmdCancel, 3720, 4455, 1095, 375);
    fraSample1 = makeSample(picOptions[0], 1, 208, 207);
    cmdApply = new QPushButton(QStringLiteral("適用(&A)"), this);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    place(cmdApply, 4920, 4455, 1095, 375);
    picOptions[1] = makePage(1, PageHiddenLeft);
    picOptions[3] = makePage(3, PageHiddenLeft);
    fraSample2 = makeSample(picOptions[1], 2, 307, 305);
    picOptions[2] = makePage(2, PageHiddenLeft);
    fraSample3 = makeSample(picOptions[2], 3, 406, 403);
    fraSample4 = makeSample(picOptions[3], 4, 505, 502);
    setTabOrder(tbsOptions, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    setTabOrder(cmdCancel, cmdApply);

    connect(tbsOptions, &QTabBar::currentChanged, this, &frmOptions::tbsOptions_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
    connect(cmdApply, &QPushButton::clicked, this, &frmOptions::cmdApply_Click);
    // Pages out of sight are disabled from the start, so the focus never reaches them.
    tbsOptions_Click();

    // Key preview: Ctrl+Tab must be seen before the focused control can take it.
    qApp->installEventFilter(this);
}

frmOptions::~frmOptions()
{
    qApp->removeEventFilter(this);
}

void frmOptions::place(QWidget* widget, double left, double top, double width, double height) const
{
    widget->setGeometry(Twips::toPixels(left, top, width, height, dpi));
}

QWidget* frmOptions::makePage(int index, double left)
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("picOptions_%1").arg(index));
    place(page, left, PageTop, PageWidth, PageHeight);
    return page;
}

QGroupBox* frmOptions::makeSample(QWidget* page, int number, double left, double top)
{
    auto* frame = new QGroupBox(QStringLiteral("ｻﾝﾌﾟﾙ %1").arg(number), page);
    frame->setObjectName(QStringLiteral("fraSample%1").arg(number));
    place(frame, left, top, 2033, 2022);
    return frame;
}

int frmOptions::tabAfterKey(int selected, int count, int keyCode, Qt::KeyboardModifiers modifiers)
{
    Qt::KeyboardModifiers shift = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
    if (keyCode == Qt::Key_Backtab) {
        keyCode = Qt::Key_Tab;
        shift |= Qt::ShiftModifier;
    }
    if (keyCode != Qt::Key_Tab || count < 1)
        return selected;
    if (shift == Qt::ControlModifier)
        return selected >= count ? 1 : selected + 1;
    if (shift == (Qt::ControlModifier | Qt::ShiftModifier))
        return selected <= 1 ? count : selected - 1;
    return selected;
}

void frmOptions::Form_KeyDown(int keyCode, Qt::KeyboardModifiers shift)
{
    const int selected = tbsOptions->currentIndex() + 1;
    const int next = tabAfterKey(selected, tbsOptions->count(), keyCode, shift);
    if (next != selected)
        tbsOptions->setCurrentIndex(next - 1);
}

void frmOptions::tbsOptions_Click()
{
    const int selected = tbsOptions->currentIndex() + 1;
    for (int j = 0; j < tbsOptions->count() && j < int(picOptions.size()); ++j) {
        QWidget* page = picOptions[size_t(j)];
        const bool shown = j + 1 == selected;
        page->move(Twips::toPixels(shown ? PageShownLeft : PageHiddenLeft, dpi), page->y());
        page->setEnabled(shown);
    }
}

void frmOptions::cmdOK_Click()
{
    InfoBox::show(this, okMessage());
    accept();
}

void frmOptions::cmdCancel_Click()
{
    reject();
}

void frmOptions::cmdApply_Click()
{
    InfoBox::show(this, applyMessage());
}

bool frmOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* receiver = static_cast<QWidget*>(watched);
        if (receiver == this || isAncestorOf(receiver)) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const int selected = tbsOptions->currentIndex() + 1;
            if (tabAfterKey(selected, tbsOptions->count(), key->key(), key->modifiers()) !=
                selected) {
                Form_KeyDown(key->key(), key->modifiers());
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmOptions::showModal(QWidget* owner)
{
    QPointer<frmOptions> options = new frmOptions(owner);
    options->exec();
    delete options.data();
}

QString frmOptions::okMessage()
{
    return QStringLiteral("ｵﾌﾟｼｮﾝを設定後、ﾀﾞｲｱﾛｸﾞを閉じる処理をここに記述します !");
}

QString frmOptions::applyMessage()
{
    return QStringLiteral("ﾀﾞｲｱﾛｸﾞを閉じないで、ｵﾌﾟｼｮﾝの設定を適用する処理をここに記述します !");
}
