#include "desktop/frmList.h"

#include "core/RelaySettings.h"
#include "core/SocketControl.h"
#include "desktop/FlexGrid.h"
#include "desktop/NirvexMain.h"
#include "desktop/Twips.h"
#include "desktop/UiText.h"
#include "desktop/frmMain.h"

#include <QCloseEvent>
#include <QFont>
#include <QScreen>
#include <algorithm>
#include <limits>

namespace {

const QString& section = RelaySettings::Section;

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

frmList::frmList(NirvexMain& app, QWidget* parent)
    : QWidget(parent, Qt::Window), app(app),
      outerGeometry(*this, app, section, QStringLiteral("List"))
{
    frmMain::installFontSubstitutions();
    if (const QScreen* s = screen())
        dpi = s->logicalDotsPerInchX();

    setWindowTitle(UiText::ConnectionList);
    QFont gridFont(UiText::FixedFont);
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

    outerGeometry.Restore(dpi);

    for (int col = 0; col < fgList->Cols(); ++col) {
        const int current = fgList->ColWidth(col);
        const QString stored = app.GetIniSetting(section, columnKey(col), current);
        const auto width = RelaySettings::toInteger(stored, 0, std::numeric_limits<int32_t>::max());
        fgList->setColWidth(col, int(width.value_or(current)));
    }
    loaded = true;
    Form_Resize();
}

void frmList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    outerGeometry.Shown();
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
    outerGeometry.Store(dpi);
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
