#pragma once

#include "desktop/LanLink.h"
#include "desktop/SerialRelay.h"
#include "desktop/WindowGeometry.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <cstdint>

class MenuCommands;
class NirvexMain;
class ColorButton;
class DropDownComboBox;
class IntervalTimer;
class ShapeLamp;
class StatusBar;
class TagLabel;
class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollBar;
class SerialPortControl;
class SocketControl;

// The main window: source port settings, destination choice, run button, lamps, monitor area
// and status bar, laid out in twips on a client area below the menu bar.
class frmMain : public QMainWindow {
    Q_OBJECT
    // Steps of this window's load and unload that keep its values in the profile.
    friend class MainSettings;
    // This window's menu command handlers.
    friend class MenuCommands;
    // The relay and LAN handlers, which still work on this window's controls.
    friend class SerialRelay;
    friend class LanLink;

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

    // A window that Form_Unload closes, latest first; the list holds no ownership.
    void AddLoadedWindow(QWidget* window);

    // Maps the Windows Japanese font names to the IPA fonts; runs once per process.
    static void installFontSubstitutions();

    bool Authenticated = false;

    // Timer of the source port's bursts.
    IntervalTimer* tmrSer = nullptr;

    // Serial ports: source and destination.
    SerialPortControl* comSer = nullptr;
    SerialPortControl* comDest = nullptr;

    // Sockets of the LAN link: listening or connecting, and the accepted peer of the server role.
    SocketControl* wsocLan = nullptr;
    SocketControl* wsocServer = nullptr;

    // The LAN link and the serial relay that work on these controls.
    LanLink Lan;
    SerialRelay Relay;

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
    void buildLanLink();
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
    QAction* mnuHelpContents = nullptr;
    QAction* mnuHelpSearchForHelpOn = nullptr;
    QAction* mnuHelpAbout = nullptr;

    // Client area controls.
    StatusBar* sbStatusBar = nullptr;
    QFrame* picMon = nullptr;
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
    WindowGeometry outerGeometry;
    double dpi = 96.0;
    QWidget* clientArea = nullptr;
    QList<QPointer<QWidget>> loadedWindows;
    bool unloaded = false;
    // The key event last previewed and the widget it last reached, to skip its propagation.
    const QEvent* previewedKey = nullptr;
    QPointer<QWidget> previewedReceiver;
};
