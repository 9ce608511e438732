#pragma once

#include "core/RelayCore.h"
#include "core/RelaySettings.h"
#include "desktop/WindowGeometry.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>

class MenuCommands;
class NirvexMain;
class ColorButton;
class DropDownComboBox;
class IntervalTimer;
class QComboBox;
class ShapeLamp;
class StatusBar;
class TagLabel;
class TrafficView;
class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollBar;
class SerialPortControl;

// The main window: source port settings, destination choice, run button, lamps, monitor area
// and status bar, laid out in twips on a client area below the menu bar.
class frmMain : public QMainWindow {
    Q_OBJECT
    // Steps of this window's load and unload that keep its values in the profile.
    friend class MainSettings;
    // This window's menu command handlers.
    friend class MenuCommands;

public:
    explicit frmMain(NirvexMain& app, QWidget* parent = nullptr);
    ~frmMain() override;

    // The load handler: restores the window's place and size and fills the fixed lists.
    void Load();
    // Stores everything Form_Unload stores, the other windows' values included, without
    // closing or otherwise touching a window: for a process that ends without its windows
    // being closed (a lost display). Does nothing once Form_Unload has run.
    void StoreWithoutClosing();
    // Puts text on the status panel.
    void ShowStatus(const QString& text);
    // Shows the traffic monitor in the monitor area and feeds it, or hides it and stops feeding.
    void ShowMonitor(bool shown);

    // A window that Form_Unload closes, latest first; the list holds no ownership.
    void AddLoadedWindow(QWidget* window);

    // Maps the Windows Japanese font names to the IPA fonts; runs once per process.
    static void installFontSubstitutions();

    // The relay as the user sees it: port pickers, destination choice, the run button.
    enum class Picker { Source, Destination };
    enum LampState { LampLit = 1, LampDark = 2 };

    // Rebuilds a port picker from the ports 1 to 255 that the probing control can open.
    void FillPortList(DropDownComboBox* list, const SerialPortControl* probing,
                      const QComboBox* other, Picker picker);
    void cmbComPort_DropDown();
    void cmbComPort2_DropDown();
    // The user opens a picker's list: numbers the devices plugged in since the last look,
    // refills the picker, and says once per run on the status panel that devices exist that
    // this user may not open, naming their group.
    void PortListDropDown(Picker picker);
    void optSerial_Click();
    void optLan_Click();
    void optServer_Click();
    void optClient_Click();
    void optHost_Click();
    void cmdRun_Click();
    // What a start would use: the controls read into one value.
    RelaySettings CurrentSettings() const;

    // Lights (1) or darkens (2) a lamp in the colour family named by the last digit of its Tag.
    static void SetLamp(TagLabel* label, int state);
    // The item text of port n after a probe that returned probeError; empty when the port is
    // not listed.
    static QString PortItemText(int n, int probeError, bool otherSide, Picker picker);
    // The destination history after a start with text: at most 10 entries, newest first, each
    // text once.
    static QStringList HistoryWith(const QStringList& items, const QString& text);
    static constexpr int MaxHistory = 10;

    // The destination kind and LAN role chosen (a start resolves serial and echo).
    DestinationKind DestType = DestinationKind::Serial;
    LanRole DestMode = LanRole::Server;
    // Sounds when a start is refused.
    std::function<void()> Beep;

    // The relay this window shows and drives.
    RelayCore Relay;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Stores the window's values and geometry and closes the other windows of this copy.
    void Form_Unload();
    // Shows or hides the connection list; all asks for the full list.
    void SendList(bool all);
    // Lays out the monitor area and its scroll bar for the current client area size.
    void Form_Resize();
    // keyCode: Windows virtual-key code; shift: 1 Shift, 2 Ctrl, 4 Alt.
    void Form_KeyDown(int keyCode, int shift);
    void tmrHidden_Timer();
    void mnuViewStatusBar_Click();

    void buildMenus();
    void buildControls();
    void buildSerialRelay();
    void buildTabOrder();
    void place(QWidget* widget, double left, double top, double width, double height) const;
    QLabel* makeLabel(int index, QWidget* parent, const QString& text, double left, double top,
                      double width, double height);
    DropDownComboBox* makeList(QWidget* parent, const char* name, double left, double top);
    QLineEdit* makeText(QWidget* parent, const char* name, const QString& text, double left,
                        double top, double width);
    QRadioButton* makeOption(QWidget* parent, const char* name, const QString& caption, double left,
                             double top, double width);
    QGroupBox* makeFrame(QWidget* parent, const char* name, double left, double top, double width,
                         double height);
    void dockStatusBar();
    void previewKey(QWidget* receiver, QEvent* event);
    void unload(bool closeWindows);

    // Menu items; the separators and empty recent-file items have no member.
    QAction* mnuFileNew = nullptr;
    QAction* mnuFileOpen = nullptr;
    QAction* mnuFileClose = nullptr;
    QAction* mnuFileSave = nullptr;
    QAction* mnuFileSaveAs = nullptr;
    QAction* mnuFileProperties = nullptr;
    QAction* mnuFilePageSetup = nullptr;
    QAction* mnuFilePrintPreview = nullptr;
    QAction* mnuFilePrint = nullptr;
    QAction* mnuFileExit = nullptr;
    QAction* mnuViewStatusBar = nullptr;
    QAction* mnuViewFlipList = nullptr;
    QAction* mnuViewRefresh = nullptr;
    QAction* mnuViewOptions = nullptr;
    QAction* mnuViewMonitor = nullptr;
    QAction* mnuHelpContents = nullptr;
    QAction* mnuHelpSearchForHelpOn = nullptr;
    QAction* mnuHelpAbout = nullptr;

    // Client area controls.
    StatusBar* sbStatusBar = nullptr;
    QFrame* picMon = nullptr;
    TrafficView* trafficView = nullptr;
    QScrollBar* vsMon = nullptr;
    ColorButton* cmdRun = nullptr;
    QGroupBox* frmSer = nullptr;
    DropDownComboBox* cmbStopBits = nullptr;
    DropDownComboBox* cmbBits = nullptr;
    DropDownComboBox* cmbParity = nullptr;
    DropDownComboBox* cmbBPS = nullptr;
    DropDownComboBox* cmbComPort = nullptr;
    QGroupBox* frmDest = nullptr;
    TagLabel* lblRecv = nullptr;
    TagLabel* lblSend = nullptr;
    QRadioButton* optLan = nullptr;
    QRadioButton* optSerial = nullptr;
    QGroupBox* frmSerial = nullptr;
    DropDownComboBox* cmbComPort2 = nullptr;
    DropDownComboBox* cmbBPS2 = nullptr;
    DropDownComboBox* cmbParity2 = nullptr;
    DropDownComboBox* cmbBits2 = nullptr;
    DropDownComboBox* cmbStopBits2 = nullptr;
    QGroupBox* frmLan = nullptr;
    QRadioButton* optHost = nullptr;
    QRadioButton* optClient = nullptr;
    QRadioButton* optServer = nullptr;
    QGroupBox* frmClient = nullptr;
    DropDownComboBox* cmbDest = nullptr;
    QLineEdit* txtServerPort = nullptr;
    QGroupBox* frmHost = nullptr;
    QLineEdit* txtKey = nullptr;
    QLineEdit* txtID = nullptr;
    QGroupBox* frmServer = nullptr;
    QLineEdit* txtPort = nullptr;
    ShapeLamp* shpLan = nullptr;
    IntervalTimer* tmrHidden = nullptr;

    NirvexMain& app;
    // Groups owning the devices the last port list fill found but may not open.
    QStringList deniedGroups;
    bool accessNoted = false;
    WindowGeometry outerGeometry;
    double dpi = 96.0;
    QWidget* clientArea = nullptr;
    QList<QPointer<QWidget>> loadedWindows;
    bool unloaded = false;
    // The key event last previewed and the widget it last reached, to skip its propagation.
    const QEvent* previewedKey = nullptr;
    QPointer<QWidget> previewedReceiver;
};
