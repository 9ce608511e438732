#include "desktop/frmMain.h"

#include "core/IntervalTimer.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "desktop/ColorButton.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/MainSettings.h"
#include "desktop/MenuCommands.h"
#include "desktop/NirvexMain.h"
#include "desktop/ShapeLamp.h"
#include "desktop/StatusBar.h"
#include "desktop/TagLabel.h"
#include "desktop/Twips.h"
#include "desktop/UiColors.h"
#include "desktop/UiText.h"
#include "desktop/WindowGeometry.h"
#include "desktop/frmList.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <mutex>

namespace {

const QStringList speedItems = {
    QStringLiteral("110"),   QStringLiteral("300"),   QStringLiteral("600"),
    QStringLiteral("1200"),  QStringLiteral("2400"),  QStringLiteral("9600"),
    QStringLiteral("14400"), QStringLiteral("19200"), QStringLiteral("28800"),
    QStringLiteral("38400"), QStringLiteral("56000"), QStringLiteral("128000"),
    QStringLiteral("256000")};
const QStringList parityItems = {QStringLiteral("Even"), QStringLiteral("Mark"),
                                 QStringLiteral("None"), QStringLiteral("Odd"),
                                 QStringLiteral("Space")};

// Clears a list, fills it and leaves it without a selection.
void fillList(QComboBox* combo, const QStringList& items)
{
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(-1);
}

// Windows virtual-key code of the keys the window handles (F5, F8); 0 for any other key.
int keyCodeFromQt(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_F5:
        return 116;
    case Qt::Key_F8:
        return 119;
    default:
        return 0;
    }
}

// The shift bit set: 1 Shift, 2 Ctrl, 4 Alt.
int shiftStateFromQt(Qt::KeyboardModifiers modifiers)
{
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= 1;
    if (modifiers & Qt::ControlModifier)
        shift |= 2;
    if (modifiers & Qt::AltModifier)
        shift |= 4;
    return shift;
}

} // namespace

frmMain::frmMain(NirvexMain& app, QWidget* parent)
    : QMainWindow(parent), Lan(app, *this), Relay(*this, app, Lan), app(app),
      outerGeometry(*this, app, UiText::Section, QStringLiteral("Main"))
{
    installFontSubstitutions();
    if (const QScreen* s = screen())
        dpi = s->logicalDotsPerInchX();

    setWindowTitle(QStringLiteral("Nirvex"));
    // The Japanese dialog font the layout's sizes were drawn for.
    QFont dialogFont(UiText::ProportionalFont);
    dialogFont.setPointSize(9);
    setFont(dialogFont);
    buildMenus();
    buildControls();
    buildTabOrder();

    tmrHidden = new IntervalTimer(this);
    tmrHidden->setObjectName(QStringLiteral("tmrHidden"));
    tmrHidden->setInterval(500);
    tmrHidden->setEnabled(true);
    connect(tmrHidden, &IntervalTimer::Timer, this, &frmMain::tmrHidden_Timer);
    tmrSer = new IntervalTimer(this);
    tmrSer->setObjectName(QStringLiteral("tmrSer"));
    buildSerialRelay();
    buildLanLink();
    // The remaining menu commands (help, version information, hidden placeholders).
    new MenuCommands(*this);

    resize(Twips::toPixels(10590, dpi),
           Twips::toPixels(7050, dpi) + menuBar()->sizeHint().height());

    // Key preview and client area resizes.
    qApp->installEventFilter(this);
}

frmMain::~frmMain()
{
    qApp->removeEventFilter(this);
}

void frmMain::installFontSubstitutions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QFont::insertSubstitution(UiText::ProportionalFont, QStringLiteral("IPAPGothic"));
        QFont::insertSubstitution(UiText::FixedFont, QStringLiteral("IPAGothic"));
    });
}

void frmMain::buildMenus()
{
    auto item = [](QMenu* menu, const char* name, const QString& caption, bool visible) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setVisible(visible);
        return action;
    };
    auto bar = [](QMenu* menu, bool visible) { menu->addSeparator()->setVisible(visible); };

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    mnuFileNew = item(fileMenu, "mnuFileNew", QStringLiteral("新規作成(&N)"), false);
    mnuFileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mnuFileOpen = item(fileMenu, "mnuFileOpen", QStringLiteral("開く(&O)..."), false);
    mnuFileClose = item(fileMenu, "mnuFileClose", QStringLiteral("閉じる(&C)"), false);
    bar(fileMenu, false);
    mnuFileSave = item(fileMenu, "mnuFileSave", QStringLiteral("上書き保存(&S)"), false);
    mnuFileSaveAs =
        item(fileMenu, "mnuFileSaveAs", QStringLiteral("名前を付けて保存(&A)..."), false);
    bar(fileMenu, false);
    mnuFileProperties = item(fileMenu, "mnuFileProperties", QStringLiteral("ﾌﾟﾛﾊﾟﾃｨ(&I)"), false);
    bar(fileMenu, false);
    mnuFilePageSetup =
        item(fileMenu, "mnuFilePageSetup", QStringLiteral("ﾍﾟｰｼﾞ設定(&U)..."), false);
    mnuFilePrintPreview =
        item(fileMenu, "mnuFilePrintPreview", QStringLiteral("印刷ﾌﾟﾚﾋﾞｭｰ(&V)"), false);
    mnuFilePrint = item(fileMenu, "mnuFilePrint", QStringLiteral("印刷(&P)..."), false);
    bar(fileMenu, false);
    // Three recent-file items that never get a caption.
    for (int i = 1; i <= 3; ++i)
        fileMenu->addAction(QString())->setVisible(false);
    bar(fileMenu, false);
    mnuFileExit = item(fileMenu, "mnuFileExit", QStringLiteral("終了(&X)"), true);

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    mnuViewStatusBar = item(viewMenu, "mnuViewStatusBar", QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰ(&B)"), true);
    mnuViewStatusBar->setCheckable(true);
    mnuViewStatusBar->setChecked(true);
    mnuViewFlipList = item(viewMenu, "mnuViewFlipList", UiText::ConnectionList, true);
    mnuViewFlipList->setEnabled(false);
    bar(viewMenu, false);
    mnuViewRefresh =
        item(viewMenu, "mnuViewRefresh", QStringLiteral("最新の情報に更新(&R)"), false);
    mnuViewOptions = item(viewMenu, "mnuViewOptions", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)..."), false);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    mnuHelpContents = item(helpMenu, "mnuHelpContents", QStringLiteral("目次(&C)"), true);
    mnuHelpSearchForHelpOn =
        item(helpMenu, "mnuHelpSearchForHelpOn", QStringLiteral("ﾄﾋﾟｯｸの検索(&S)..."), false);
    bar(helpMenu, true);
    mnuHelpAbout = item(helpMenu, "mnuHelpAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"), true);

    // Choosing a checkable action has already flipped its check mark; the click handler
    // flips it itself, so put it back first.
    connect(mnuViewStatusBar, &QAction::triggered, this, [this](bool checked) {
        mnuViewStatusBar->setChecked(!checked);
        mnuViewStatusBar_Click();
    });
    connect(mnuFileExit, &QAction::triggered, this, &QWidget::close);
    connect(mnuViewFlipList, &QAction::triggered, this, [this] { SendList(false); });
}

void frmMain::place(QWidget* widget, double left, double top, double width, double height) const
{
    widget->setGeometry(Twips::toPixels(left, top, width, height, dpi));
}

QLabel* frmMain::makeLabel(int index, QWidget* parent, const QString& text, double left, double top,
                           double width, double height)
{
    QFont font(UiText::ProportionalFont);
    font.setPointSize(12);
    font.setWeight(QFont::Normal);

    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("lblText_%1").arg(index));
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(label, left, top, width, height);
    return label;
}

DropDownComboBox* frmMain::makeList(QWidget* parent, const char* name, double left, double top)
{
    auto* combo = new DropDownComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setEditable(false);
    place(combo, left, top, 1575, 300);
    return combo;
}

QLineEdit* frmMain::makeText(QWidget* parent, const char* name, const QString& text, double left,
                             double top, double width)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(name));
    place(edit, left, top, width, 270);
    return edit;
}

QRadioButton* frmMain::makeOption(QWidget* parent, const char* name, const QString& caption,
                                  double left, double top, double width)
{
    auto* option = new QRadioButton(caption, parent);
    option->setObjectName(QLatin1String(name));
    option->setAutoExclusive(true);
    place(option, left, top, width, 255);
    return option;
}

QGroupBox* frmMain::makeFrame(QWidget* parent, const char* name, double left, double top,
                              double width, double height)
{
    auto* frame = new QGroupBox(parent);
    frame->setObjectName(QLatin1String(name));
    place(frame, left, top, width, height);
    return frame;
}

void frmMain::buildControls()
{
    clientArea = new QWidget(this);
    clientArea->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(clientArea);

    picMon = new QFrame(clientArea);
    picMon->setObjectName(QStringLiteral("picMon"));
    picMon->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picMon->setLineWidth(2);
    place(picMon, 120, 2280, 9615, 1935);

    vsMon = new QScrollBar(Qt::Vertical, clientArea);
    vsMon->setObjectName(QStringLiteral("vsMon"));
    place(vsMon, 9840, 2280, 255, 4215);
    vsMon->hide();

    cmdRun = new ColorButton(clientArea);
    cmdRun->setObjectName(QStringLiteral("cmdRun"));
    cmdRun->setText(QStringLiteral("<=接続=>"));
    cmdRun->setBackColor(UiColors::RunIdle);
    cmdRun->setToolTip(QStringLiteral("転送を開始/終了します。"));
    place(cmdRun, 3600, 720, 975, 615);

    // Source port.
    frmSer = makeFrame(clientArea, "frmSer", 120, 0, 3375, 2175);
    frmSer->setToolTip(QStringLiteral("転送元のシリアルポート"));
    cmbStopBits = makeList(frmSer, "cmbStopBits", 1680, 1680);
    cmbStopBits->setToolTip(QStringLiteral("転送もとのストップビット数"));
    cmbBits = makeList(frmSer, "cmbBits", 1680, 1320);
    cmbBits->setToolTip(QStringLiteral("転送もとのビット数"));
    cmbParity = makeList(frmSer, "cmbParity", 1680, 960);
    fillList(cmbParity, parityItems);
    cmbParity->setToolTip(QStringLiteral("転送もとのパリティ"));
    cmbBPS = makeList(frmSer, "cmbBPS", 1680, 600);
    fillList(cmbBPS, speedItems);
    cmbBPS->setToolTip(QStringLiteral("転送もとの通信速度"));
    cmbComPort = makeList(frmSer, "cmbComPort", 1680, 240);
    cmbComPort->setToolTip(QStringLiteral("転送元シリアルポート"));
    makeLabel(4, frmSer, QStringLiteral("ストップビット"), 240, 1680, 1335, 255);
    makeLabel(3, frmSer, QStringLiteral("ビット"), 240, 1320, 1335, 375);
    makeLabel(2, frmSer, QStringLiteral("パリティ"), 240, 960, 1335, 375);
    makeLabel(1, frmSer, QStringLiteral("速度"), 240, 600, 1335, 375);
    makeLabel(0, frmSer, QStringLiteral("ポート"), 240, 240, 615, 375);

    // Destination.
    frmDest = makeFrame(clientArea, "frmDest", 4680, 0, 5655, 2175);

    lblRecv = new TagLabel(clientArea);
    lblRecv->setObjectName(QStringLiteral("lblRecv"));
    lblRecv->setText(QStringLiteral("=====>"));
    lblRecv->setBackColor(UiColors::GreenDark);
    lblRecv->Tag = QStringLiteral("2");
    lblRecv->setToolTip(QStringLiteral("転送元から先への送信"));
    place(lblRecv, 3600, 240, 975, 255);
    lblSend = new TagLabel(clientArea);
    lblSend->setObjectName(QStringLiteral("lblSend"));
    lblSend->setText(QStringLiteral("<====="));
    lblSend->setBackColor(UiColors::RedDark);
    lblSend->Tag = QStringLiteral("1");
    lblSend->setToolTip(QStringLiteral("転送先から元への送信"));
    place(lblSend, 3600, 1560, 975, 255);
    for (TagLabel* lamp : {lblRecv, lblSend}) {
        lamp->setForeColor(UiColors::LampText);
        lamp->setAlignment(Qt::AlignCenter);
        lamp->setFrameStyle(QFrame::Box | QFrame::Plain);
        lamp->setLineWidth(1);
    }

    optLan = makeOption(frmDest, "optLan", QStringLiteral("Lan"), 120, 1200, 975);
    optSerial = makeOption(frmDest, "optSerial", QStringLiteral("シリアル"), 120, 720, 975);

    frmSerial = makeFrame(frmDest, "frmSerial", 1200, 120, 4335, 1935);
    cmbComPort2 = makeList(frmSerial, "cmbComPort2", 1680, 120);
    cmbBPS2 = makeList(frmSerial, "cmbBPS2", 1680, 480);
    fillList(cmbBPS2, speedItems);
    cmbParity2 = makeList(frmSerial, "cmbParity2", 1680, 840);
    fillList(cmbParity2, parityItems);
    cmbBits2 = makeList(frmSerial, "cmbBits2", 1680, 1200);
    cmbStopBits2 = makeList(frmSerial, "cmbStopBits2", 1680, 1560);
    makeLabel(9, frmSerial, QStringLiteral("ポート"), 240, 120, 615, 375);
    makeLabel(8, frmSerial, QStringLiteral("速度"), 240, 480, 1335, 375);
    makeLabel(7, frmSerial, QStringLiteral("パリティ"), 240, 840, 1335, 375);
    makeLabel(6, frmSerial, QStringLiteral("ビット"), 240, 1200, 1335, 375);
    makeLabel(5, frmSerial, QStringLiteral("ストップビット"), 240, 1560, 1335, 255);

    frmLan = makeFrame(frmDest, "frmLan", 1200, 120, 4335, 1935);
    frmLan->hide();
    optHost = makeOption(frmLan, "optHost", QStringLiteral("ホスト"), 120, 960, 1215);
    optClient = makeOption(frmLan, "optClient", QStringLiteral("クライアント"), 120, 600, 1215);
    optServer = makeOption(frmLan, "optServer", QStringLiteral("サーバー"), 120, 240, 1215);

    frmClient = makeFrame(frmLan, "frmClient", 1440, 120, 2775, 1695);
    cmbDest = new DropDownComboBox(frmClient);
    cmbDest->setObjectName(QStringLiteral("cmbDest"));
    cmbDest->setEditable(true);
    cmbDest->setInsertPolicy(QComboBox::NoInsert);
    // Earlier destinations are offered in a popup, never written into the typed text, and only
    // an exact match selects a list entry.
    cmbDest->completer()->setCompletionMode(QCompleter::PopupCompletion);
    cmbDest->completer()->setCaseSensitivity(Qt::CaseSensitive);
    cmbDest->setEditText(UiText::DefaultDestination);
    place(cmbDest, 120, 600, 2535, 300);
    txtServerPort = makeText(frmClient, "txtServerPort", UiText::DefaultPort, 1560, 960, 615);
    makeLabel(12, frmClient, QStringLiteral("接続先"), 120, 240, 1455, 255);
    makeLabel(11, frmClient, QStringLiteral("接続先ポート"), 120, 960, 1455, 255);

    frmHost = makeFrame(frmLan, "frmHost", 1440, 120, 2775, 1695);
    txtKey = makeText(frmHost, "txtKey", UiText::DefaultHostKey, 720, 600, 1935);
    txtKey->setEchoMode(QLineEdit::Normal);
    txtID = makeText(frmHost, "txtID", UiText::DefaultHostId, 720, 240, 1935);
    makeLabel(14, frmHost, QStringLiteral("Key"), 120, 600, 495, 255);
    makeLabel(13, frmHost, QStringLiteral("ID"), 120, 240, 495, 255);

    frmServer = makeFrame(frmLan, "frmServer", 1440, 120, 2775, 1695);
    txtPort = makeText(frmServer, "txtPort", UiText::DefaultPort, 1680, 240, 615);
    makeLabel(10, frmServer, QStringLiteral("待受けポート"), 120, 240, 1455, 255);

    shpLan = new ShapeLamp(frmLan);
    shpLan->setObjectName(QStringLiteral("shpLan"));
    shpLan->setFillColor(UiColors::LanLampOff);
    place(shpLan, 600, 1440, 128, 128);

    sbStatusBar = new StatusBar(dpi, clientArea);
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));
    place(sbStatusBar, 0, 6780, 10590, 270);
    sbStatusBar->raise();
}

void frmMain::buildSerialRelay()
{
    comSer = new SerialPortControl(this);
    comSer->setObjectName(QStringLiteral("comSer"));
    comDest = new SerialPortControl(this);
    comDest->setObjectName(QStringLiteral("comDest"));
    for (SerialPortControl* port : {comSer, comDest}) {
        port->setPortTable(&app.Ports);
        port->setDTREnable(true);
        port->setRTSEnable(false);
    }

    connect(cmbComPort, &DropDownComboBox::DropDown, this,
            [this] { Relay.PortListDropDown(SerialRelay::Picker::Source); });
    connect(cmbComPort2, &DropDownComboBox::DropDown, this,
            [this] { Relay.PortListDropDown(SerialRelay::Picker::Destination); });
    connect(optSerial, &QRadioButton::toggled, this, [this] { Relay.optSerial_Click(); });
    connect(optLan, &QRadioButton::toggled, this, [this] { Relay.optLan_Click(); });
    connect(optServer, &QRadioButton::toggled, this, [this] { Relay.optServer_Click(); });
    connect(optClient, &QRadioButton::toggled, this, [this] { Relay.optClient_Click(); });
    connect(optHost, &QRadioButton::toggled, this, [this] { Relay.optHost_Click(); });
    connect(cmdRun, &QPushButton::clicked, this, [this] { Relay.cmdRun_Click(); });
    connect(comSer, &SerialPortControl::OnComm, this, [this] { Relay.comSer_OnComm(); });
    connect(comSer, &SerialPortControl::Vanished, this, [this] { Relay.comSer_Vanished(); });
    connect(comDest, &SerialPortControl::OnComm, this, [this] { Relay.comDest_OnComm(); });
    connect(comDest, &SerialPortControl::Vanished, this, [this] { Relay.comDest_Vanished(); });
    connect(tmrSer, &IntervalTimer::Timer, this, [this] { Relay.tmrSer_Timer(); });
}

void frmMain::buildLanLink()
{
    wsocLan = new SocketControl(QStringLiteral("wsocLan"), this);
    wsocLan->setObjectName(QStringLiteral("wsocLan"));
    wsocServer = new SocketControl(QStringLiteral("wsocServer"), this);
    wsocServer->setObjectName(QStringLiteral("wsocServer"));

    connect(wsocLan, &SocketControl::ConnectionRequest, &Lan, &LanLink::wsocLan_ConnectionRequest);
    connect(wsocLan, &SocketControl::ConnectEvent, &Lan, &LanLink::wsocLan_Connect);
    connect(wsocLan, &SocketControl::DataArrival, &Lan, &LanLink::wsocLan_DataArrival);
    connect(wsocLan, &SocketControl::CloseEvent, &Lan, &LanLink::wsocLan_Close);
    connect(wsocLan, &SocketControl::Error, &Lan, &LanLink::wsocLan_Error);
    connect(wsocServer, &SocketControl::ConnectEvent, &Lan, &LanLink::wsocServer_Connect);
    connect(wsocServer, &SocketControl::DataArrival, &Lan, &LanLink::wsocServer_DataArrival);
    connect(wsocServer, &SocketControl::CloseEvent, &Lan, &LanLink::wsocServer_Close);
    connect(wsocServer, &SocketControl::Error, &Lan, &LanLink::wsocServer_Error);
}

void frmMain::buildTabOrder()
{
    // Ascending tab numbers; the focus skips whatever cannot take it.
    QWidget* const order[] = {
        sbStatusBar, picMon,    vsMon,       cmdRun,    frmSer,     cmbStopBits, cmbBits,
        cmbParity,   cmbBPS,    cmbComPort,  frmDest,   lblRecv,    lblSend,     optLan,
        optSerial,   frmSerial, cmbComPort2, cmbBPS2,   cmbParity2, cmbBits2,    cmbStopBits2,
        frmLan,      optHost,   optClient,   optServer, frmClient,  cmbDest,     txtServerPort,
        frmHost,     txtKey,    txtID,       frmServer, txtPort,
    };
    QWidget* previous = nullptr;
    for (QWidget* widget : order) {
        if (!(widget->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void frmMain::Load()
{
    Authenticated = false;

    outerGeometry.Restore(dpi, true);

    app.Ports.load(app.IniPath);
    Relay.cmbComPort_DropDown();
    Relay.cmbComPort2_DropDown();

    fillList(cmbBits, {QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                       QStringLiteral("7"), QStringLiteral("8")});
    fillList(cmbBits2, {QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                        QStringLiteral("7"), QStringLiteral("8")});
    fillList(cmbStopBits, {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    fillList(cmbStopBits2, {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});

    frmLan->move(frmSerial->pos());

    MainSettings::Restore(*this, app);
}

void frmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    outerGeometry.Shown();
}

void frmMain::dockStatusBar()
{
    const int height = Twips::toPixels(270, dpi);
    sbStatusBar->setGeometry(0, clientArea->height() - height, clientArea->width(), height);
}

void frmMain::Form_Resize()
{
    dockStatusBar();

    const QSize inner = clientArea->size();
    const int margin = picMon->x();
    const int width =
        inner.width() - 2 * margin - (vsMon->isVisibleTo(clientArea) ? vsMon->width() : 0);
    if (width >= 0)
        picMon->resize(width, picMon->height());
    const int height = inner.height() - picMon->y() - margin -
                       (sbStatusBar->isVisibleTo(clientArea) ? sbStatusBar->height() : 0);
    if (height >= 0)
        picMon->resize(picMon->width(), height);
    vsMon->move(picMon->x() + picMon->width(), vsMon->y());
    vsMon->resize(vsMon->width(), picMon->height());
}

void frmMain::mnuViewStatusBar_Click()
{
    mnuViewStatusBar->setChecked(!mnuViewStatusBar->isChecked());
    sbStatusBar->setVisible(mnuViewStatusBar->isChecked());
    Form_Resize();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // What the ports still have queued goes out before they close, as at a stop.
    Relay.StopAndWait();
    Form_Unload();
    event->accept();
}

void frmMain::ShowStatus(const QString& text)
{
    sbStatusBar->setPanelText(UiText::StatusKey, text);
}

void frmMain::AddLoadedWindow(QWidget* window)
{
    if (window && window != this && !loadedWindows.contains(window))
        loadedWindows.append(window);
}

void frmMain::Form_Unload()
{
    unload(true);
}

void frmMain::StoreWithoutClosing()
{
    if (!unloaded)
        unload(false);
}

void frmMain::unload(bool closeWindows)
{
    app.Ports.save(app.IniPath);
    MainSettings::Store(*this, app);
    for (qsizetype i = loadedWindows.size() - 1; i >= 0; --i) {
        QWidget* window = loadedWindows.at(i);
        if (closeWindows && window)
            window->close();
        else if (auto* list = qobject_cast<frmList*>(window))
            list->Form_Unload();
    }
    outerGeometry.Store(dpi);
    unloaded = true;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() == this)
            previewKey(widget, event);
    } else if (event->type() == QEvent::Resize && watched == clientArea) {
        Form_Resize();
    }
    return false;
}

void frmMain::previewKey(QWidget* receiver, QEvent* event)
{
    // A key the focused control ignores travels on to its parents as the same event object;
    // the window has seen it already.
    if (event == previewedKey && previewedReceiver && receiver != previewedReceiver &&
        receiver->isAncestorOf(previewedReceiver)) {
        previewedReceiver = receiver;
        return;
    }
    previewedKey = event;
    previewedReceiver = receiver;
    // Once this delivery is over the address may be reused by the next event.
    QMetaObject::invokeMethod(
        this,
        [this] {
            previewedKey = nullptr;
            previewedReceiver = nullptr;
        },
        Qt::QueuedConnection);

    const auto* key = static_cast<const QKeyEvent*>(event);
    Form_KeyDown(keyCodeFromQt(key->key()), shiftStateFromQt(key->modifiers()));
}

void frmMain::Form_KeyDown(int keyCode, int shift)
{
    switch (keyCode) {
    case 116: // F5
        tmrHidden->setEnabled(true);
        break;
    case 119: // F8
        if (mnuViewFlipList->isEnabled())
            SendList(tmrHidden->Enabled() && (shift & 1) != 0);
        break;
    default:
        break;
    }
}

void frmMain::tmrHidden_Timer()
{
    tmrHidden->setEnabled(false);
}

void frmMain::SendList(bool all)
{
    if (app.ListForm)
        app.ListForm->SendList(all, app.DestMode, wsocServer, wsocLan,
                               [this](bool everything) { Lan.SendListRequest(everything); });
}
