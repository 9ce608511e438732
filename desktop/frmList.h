#pragma once

#include "desktop/WindowGeometry.h"

#include <QString>
#include <QWidget>
#include <functional>

class FlexGrid;
class NirvexMain;
class SocketControl;

// The connection list window: ID, key and host name of the LAN link's connections.
class frmList : public QWidget {
    Q_OBJECT
public:
    // Design of the grid: header texts padded to the widths the columns start with.
    static inline const QString DesignFormat = QStringLiteral("ID        |Key       |ホスト名    ");
    static constexpr int DesignRows = 2;
    // Grid distance from the left and top edges, and margin on every side, in twips.
    static constexpr double GridMargin = 120;
    // Rows beyond this many from the relay host are not shown.
    static constexpr int MaxListRows = 10000;

    explicit frmList(NirvexMain& app, QWidget* parent = nullptr);

    // The load handler: the grid as designed, then the stored place, size and column widths.
    void Load();
    // Fits the grid into the client area; a client area below twice the margin gives it no size.
    void Form_Resize();
    // The unload handler: stores the column widths, and the place and size unless minimised.
    void Form_Unload();

    // Hides a visible list, or shows it cleared to its header and fills it for the LAN role
    // destMode: the peer of wsocServer (server) or wsocLan (client) when connected; in the host
    // role askHost(all) requests the rows from the relay host.
    void SendList(bool all, int destMode, const SocketControl* wsocServer,
                  const SocketControl* wsocLan, const std::function<void(bool)>& askHost);
    // A row sent by the relay host; kept only while the window is visible.
    void AddListRow(const QString& id, const QString& key, const QString& host);

    FlexGrid* fgList = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Loads the window again, hidden, after its close box unloaded it.
    void EnsureLoaded();

    NirvexMain& app;
    WindowGeometry outerGeometry;
    double dpi = 96.0;
    bool loaded = false;
};
