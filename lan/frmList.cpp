#include "lan/frmList.h"

#include "app/MainSettings.h"
#include "app/NirvexMain.h"
#include "app/Twips.h"
#include "app/frmMain.h"
#include "lan/FlexGrid.h"
#include "lan/SocketControl.h"

#include <QCloseEvent>
#include <QFont>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString section = QStringLiteral("Settings");

QString columnKey(int col)
{
    return QStringLiteral("ListRowWidth") + QString::number(col);
}

// A TAB inside a field would push the following texts into the wrong columns.
QString cellText(QString text)
{
    return text.replace(QLatin1Char('\t'), QLatin1Char(' '));
}

} // namespace

frmList::frmList(NirvexMain& app, QWidget* parent) : QWidget(parent, Qt::Window), app(app)
{
    frmMain::installFontSubstitutions();
    if (const QScreen* s = screen())
        dpi = s->logicalDotsPerInchX();

    setWindowTitle(QStringLiteral("接続一覧"));
    QFont gridFont(QStringLiteral("ＭＳ ゴシック"));
    gridFont.setPointSize(9);
    setFont(gridFont);

    fgList = new FlexGrid(dpi, this);
    fgList->setObjectName(QStringLiteral("fgList"));
    fgList->setFont(gridFont);
    fgList->move(Twips::toPixels(GridMargin, dpi), Twips::toPixels(GridMargin, dpi));
}

void frmList::Load()
{
    fgList->setRows(1);
    fgList->setFormatString(DesignFormat);
    fgList->setRows(DesignRows);

    const double left = readGeometry(QStringLiteral("ListLeft"), 1000);
    const double top = readGeometry(QStringLiteral("ListTop"), 1000);
    const double width = readGeometry(QStringLiteral("ListWidth"), 6500);
    const double height = readGeometry(QStringLiteral("ListHeight"), 6500);
    setOuterGeometry(Twips::toPixels(left, top, width, height, dpi));

    for (int col = 0; col < fgList->Cols(); ++col) {
        const int current = fgList->ColWidth(col);
        const QString stored = app.GetIniSetting(section, columnKey(col), current);
        const auto width = MainSettings::ToInteger(stored, 0, std::numeric_limits<int32_t>::max());
        fgList->setColWidth(col, int(width.value_or(current)));
    }
    loaded = true;
    Form_Resize();
}

double frmList::readGeometry(const QString& key, double fallback) const
{
    const QString text = app.GetIniSetting(section, key, int(fallback));
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    // A hand-edited value that is no number counts as missing.
    if (!ok || !std::isfinite(value))
        return fallback;
    return value;
}

void frmList::setOuterGeometry(const QRect& outer)
{
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    const int frameWidth = frame.width() - inner.width();
    const int frameHeight = frame.height() - inner.height();
    move(outer.topLeft());
    resize(std::max(0, outer.width() - frameWidth), std::max(0, outer.height() - frameHeight));
    if (isVisible())
        pendingOuter.reset();
    else
        pendingOuter = PendingOuter{outer, size()};
}

void frmList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!pendingOuter)
        return;
    // The window manager's frame is known only once the window is up: fit the outer edges
    // again so that stored and restored sizes agree.
    QTimer::singleShot(0, this, [this] {
        if (!pendingOuter)
            return;
        const PendingOuter pending = *pendingOuter;
        pendingOuter.reset();
        if (size() != pending.innerSize || isMinimized() || isMaximized())
            return;
        if (frameGeometry() != pending.outer)
            setOuterGeometry(pending.outer);
    });
}

void frmList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmList::Form_Resize()
{
    if (isMinimized())
        return;
    const int width = this->width() - 2 * fgList->x();
    const int height = this->height() - 2 * fgList->y();
    fgList->resize(std::max(0, width), std::max(0, height));
}

void frmList::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmList::Form_Unload()
{
    if (!loaded)
        return;
    loaded = false;
    for (int col = 0; col < fgList->Cols(); ++col)
        app.SaveIniSetting(section, columnKey(col), fgList->ColWidth(col));
    if (isMinimized())
        return;
    const QRectF outer = Twips::fromPixels(frameGeometry(), dpi);
    app.SaveIniSetting(section, QStringLiteral("ListLeft"), float(outer.x()));
    app.SaveIniSetting(section, QStringLiteral("ListTop"), float(outer.y()));
    app.SaveIniSetting(section, QStringLiteral("ListWidth"), float(outer.width()));
    app.SaveIniSetting(section, QStringLiteral("ListHeight"), float(outer.height()));
}

void frmList::EnsureLoaded()
{
    if (!loaded)
        Load();
}

void frmList::SendList(bool all, int destMode, const SocketControl* wsocServer,
                       const SocketControl* wsocLan, const std::function<void(bool)>& askHost)
{
    EnsureLoaded();
    if (isVisible()) {
        hide();
        return;
    }
    show();
    raise();
    activateWindow();
    fgList->setRows(1);

    const auto addPeer = [this](const SocketControl* socket) {
        if (socket && socket->State() == SocketControl::Connected)
            fgList->AddItem(QStringLiteral("\t\t") + cellText(socket->RemoteHost()));
    };
    switch (destMode) {
    case 1:
        addPeer(wsocServer);
        break;
    case 2:
        addPeer(wsocLan);
        break;
    case 3:
        if (askHost)
            askHost(all);
        break;
    default:
        break;
    }
}

void frmList::AddListRow(const QString& id, const QString& key, const QString& host)
{
    EnsureLoaded();
    if (!isVisible() || fgList->Rows() - 1 >= MaxListRows)
        return;
    fgList->AddItem(cellText(id) + QLatin1Char('\t') + cellText(key) + QLatin1Char('\t') +
                    cellText(host));
}
