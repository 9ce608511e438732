#include "desktop/frmMain.h"

#include "core/ExtractNumber.h"
#include "core/IntervalTimer.h"
#include "core/PortAccess.h"
#include "core/PortTable.h"
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
#include "desktop/TrafficView.h"
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
#include <QVBoxLayout>
#include <mutex>

namespace {

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
    : QMainWindow(parent), Beep([] { QApplication::beep(); }), Relay(app.Ports), app(app),
      outerGeometry(*this, app, RelaySettings::Section, QStringLiteral("Main"))
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
    buildSerialRelay();
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
    mnuViewMonitor = item(viewMenu, "mnuViewMonitor", QStringLiteral("ﾓﾆﾀ(&M)"), true);
    mnuViewMonitor->setCheckable(true);
    mnuViewMonitor->setChecked(true);

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
    connect(mnuViewMonitor, &QAction::triggered, this, &frmMain::ShowMonitor);
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
    // The monitor fills the area inside picMon's border and follows its size.
    trafficView = new TrafficView(Relay, picMon);
    trafficView->setFocusPolicy(Qt::NoFocus);
    auto* monitorLayout = new QVBoxLayout(picMon);
    monitorLayout->setContentsMargins(0, 0, 0, 0);
    monitorLayout->addWidget(trafficView);

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
    fillList(cmbParity, RelaySettings::parityItems());
    cmbParity->setToolTip(QStringLiteral("転送もとのパリティ"));
    cmbBPS = makeList(frmSer, "cmbBPS", 1680, 600);
    fillList(cmbBPS, RelaySettings::speedItems());
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
    fillList(cmbBPS2, RelaySettings::speedItems());
    cmbParity2 = makeList(frmSerial, "cmbParity2", 1680, 840);
    fillList(cmbParity2, RelaySettings::parityItems());
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
    cmbDest->setEditText(RelaySettings::DefaultPeerHost);
    place(cmbDest, 120, 600, 2535, 300);
    txtServerPort =
        makeText(frmClient, "txtServerPort", RelaySettings::DefaultPort, 1560, 960, 615);
    makeLabel(12, frmClient, QStringLiteral("接続先"), 120, 240, 1455, 255);
    makeLabel(11, frmClient, QStringLiteral("接続先ポート"), 120, 960, 1455, 255);

    frmHost = makeFrame(frmLan, "frmHost", 1440, 120, 2775, 1695);
    txtKey = makeText(frmHost, "txtKey", RelaySettings::DefaultHostKey, 720, 600, 1935);
    txtKey->setEchoMode(QLineEdit::Normal);
    txtID = makeText(frmHost, "txtID", RelaySettings::DefaultHostId, 720, 240, 1935);
    makeLabel(14, frmHost, QStringLiteral("Key"), 120, 600, 495, 255);
    makeLabel(13, frmHost, QStringLiteral("ID"), 120, 240, 495, 255);

    frmServer = makeFrame(frmLan, "frmServer", 1440, 120, 2775, 1695);
    txtPort = makeText(frmServer, "txtPort", RelaySettings::DefaultPort, 1680, 240, 615);
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
    connect(cmbComPort, &DropDownComboBox::DropDown, this,
            [this] { PortListDropDown(Picker::Source); });
    connect(cmbComPort2, &DropDownComboBox::DropDown, this,
            [this] { PortListDropDown(Picker::Destination); });
    connect(optSerial, &QRadioButton::toggled, this, &frmMain::optSerial_Click);
    connect(optLan, &QRadioButton::toggled, this, &frmMain::optLan_Click);
    connect(optServer, &QRadioButton::toggled, this, &frmMain::optServer_Click);
    connect(optClient, &QRadioButton::toggled, this, &frmMain::optClient_Click);
    connect(optHost, &QRadioButton::toggled, this, &frmMain::optHost_Click);
    connect(cmdRun, &QPushButton::clicked, this, &frmMain::cmdRun_Click);

    connect(&Relay, &RelayCore::statusChanged, this,
            [this](const QString& text) { sbStatusBar->setPanelText(UiText::StatusKey, text); });
    connect(&Relay, &RelayCore::receiveLampChanged, this,
            [this](bool lit) { SetLamp(lblRecv, lit ? LampLit : LampDark); });
    connect(&Relay, &RelayCore::sendLampChanged, this,
            [this](bool lit) { SetLamp(lblSend, lit ? LampLit : LampDark); });
    connect(&Relay, &RelayCore::lanLampChanged, this, [this](bool on) {
        shpLan->setFillColor(on ? UiColors::GreenLit : UiColors::LanLampOff);
    });
    connect(&Relay, &RelayCore::linkChanged, mnuViewFlipList, &QAction::setEnabled);
}

QString frmMain::PortItemText(int n, int probeError, bool otherSide, Picker picker)
{
    if (probeError != ComError::None && probeError != ComError::PortAlreadyOpen)
        return QString();
    QString text = QStringLiteral("COM") + QString::number(n);
    if (otherSide)
        text +=
            picker == Picker::Source ? QStringLiteral(" (転送先)") : QStringLiteral(" (転送元)");
    if (probeError == ComError::PortAlreadyOpen)
        text += QStringLiteral(" (使用中)");
    return text;
}

void frmMain::FillPortList(DropDownComboBox* list, const SerialPortControl* probing,
                           const QComboBox* other, Picker picker)
{
    const QString remembered = list->currentText();
    QStringList items;
    deniedGroups.clear();
    for (int n = PortTable::FirstPort; n <= PortTable::LastPort; ++n) {
        const int result = probing->probe(n);
        const QString item =
            PortItemText(n, result, n == ExtractNumber(other->currentText()), picker);
        if (!item.isEmpty())
            items.append(item);
        else if (result == ComError::HardwareUnavailable && probing->table())
            deniedGroups.append(PortAccess::DeniedGroup(probing->table()->devicePath(n)));
    }
    list->clear();
    list->addItems(items);
    // A remembered text that no item carries any more leaves the picker without a selection.
    list->setCurrentIndex(list->findText(remembered, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void frmMain::cmbComPort_DropDown()
{
    FillPortList(cmbComPort, Relay.comSer(), cmbComPort2, Picker::Source);
}

void frmMain::cmbComPort2_DropDown()
{
    FillPortList(cmbComPort2, Relay.comDest(), cmbComPort, Picker::Destination);
}

void frmMain::PortListDropDown(Picker picker)
{
    app.Ports.numberNewDevices();
    picker == Picker::Source ? cmbComPort_DropDown() : cmbComPort2_DropDown();
    const QString note = PortAccess::Note(deniedGroups);
    if (accessNoted || note.isEmpty())
        return;
    accessNoted = true;
    sbStatusBar->setPanelText(UiText::StatusKey, note);
}

void frmMain::optSerial_Click()
{
    if (!optSerial->isChecked())
        return;
    frmSerial->show();
    frmLan->hide();
    DestType = DestinationKind::Serial;
}

void frmMain::optLan_Click()
{
    if (!optLan->isChecked())
        return;
    frmLan->show();
    frmSerial->hide();
    DestType = DestinationKind::Lan;
}

void frmMain::optServer_Click()
{
    if (!optServer->isChecked())
        return;
    frmServer->show();
    frmClient->hide();
    frmHost->hide();
    DestMode = LanRole::Server;
}

void frmMain::optClient_Click()
{
    if (!optClient->isChecked())
        return;
    frmClient->show();
    frmServer->hide();
    frmHost->hide();
    DestMode = LanRole::Client;
}

void frmMain::optHost_Click()
{
    if (!optHost->isChecked())
        return;
    frmHost->show();
    frmServer->hide();
    frmClient->hide();
    DestMode = LanRole::Host;
}

QStringList frmMain::HistoryWith(const QStringList& items, const QString& text)
{
    QStringList history = items;
    const qsizetype found = history.indexOf(text); // exact and case-sensitive
    if (found >= 0)
        history.removeAt(found);
    history.prepend(text);
    while (history.size() > MaxHistory)
        history.removeLast();
    return history;
}

RelaySettings frmMain::CurrentSettings() const
{
    const auto side = [](const QComboBox* port, const QComboBox* speed, const QComboBox* parity,
                         const QComboBox* bits, const QComboBox* stopBits) {
        return RelaySettings::Side{ExtractNumber(port->currentText()), speed->currentText(),
                                   parity->currentText(), bits->currentText(),
                                   stopBits->currentText()};
    };
    RelaySettings settings;
    settings.source = side(cmbComPort, cmbBPS, cmbParity, cmbBits, cmbStopBits);
    settings.destination = side(cmbComPort2, cmbBPS2, cmbParity2, cmbBits2, cmbStopBits2);
    settings.kind = DestType;
    settings.role = DestMode;
    settings.listenPort = RelaySettings::portNumber(txtPort->text());
    settings.peerHost = cmbDest->currentText();
    settings.peerPort = RelaySettings::portNumber(txtServerPort->text());
    settings.hostId = txtID->text();
    settings.hostKey = txtKey->text();
    settings.relayHost = RelayHostEndpoint::read(app.IniPath);
    settings.allowedPeers = RelaySettings::allowedPeersIn(app.IniPath);
    return settings;
}

void frmMain::cmdRun_Click()
{
    if (Relay.RelayRunning()) {
        Relay.StopRelay();
        cmdRun->setText(QStringLiteral("<=接続=>"));
        cmdRun->setBackColor(UiColors::RunIdle);
        frmSer->setEnabled(true);
        frmDest->setEnabled(true);
        return;
    }

    const bool started = Relay.StartRelay(CurrentSettings());
    // The start tells serial from echo by the ports chosen.
    DestType = Relay.settings().kind;
    if (!started) {
        if (Beep)
            Beep();
        return;
    }

    const QString text = cmbDest->currentText();
    QStringList items;
    for (int i = 0; i < cmbDest->count(); ++i)
        items.append(cmbDest->itemText(i));
    cmbDest->clear();
    cmbDest->addItems(HistoryWith(items, text));
    cmbDest->setCurrentIndex(0);

    cmdRun->setText(QStringLiteral("<=切断=>"));
    cmdRun->setBackColor(UiColors::RunActive);
    frmSer->setEnabled(false);
    frmDest->setEnabled(false);
}

void frmMain::SetLamp(TagLabel* label, int state)
{
    if (!label || label->Tag.isEmpty())
        return;
    const QChar family = label->Tag.back();
    QColor lit;
    QColor dark;
    if (family == QLatin1Char('1')) {
        lit = UiColors::GreenLit;
        dark = UiColors::GreenDark;
    } else if (family == QLatin1Char('2')) {
        lit = UiColors::RedLit;
        dark = UiColors::RedDark;
    } else {
        return;
    }
    QString tag;
    QColor color;
    if (state == LampLit) {
        tag = QLatin1Char('1') + family;
        color = lit;
    } else if (state == LampDark) {
        tag = family;
        color = dark;
    } else {
        return;
    }
    // Runs for every block of data: repaint only on a change.
    if (label->Tag != tag)
        label->Tag = tag;
    if (label->BackColor() != color)
        label->setBackColor(color);
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
    outerGeometry.Restore(dpi, true);

    app.Ports.load(app.IniPath);
    cmbComPort_DropDown();
    cmbComPort2_DropDown();

    for (QComboBox* bits : {cmbBits, cmbBits2})
        fillList(bits, RelaySettings::bitsItems());
    for (QComboBox* stopBits : {cmbStopBits, cmbStopBits2})
        fillList(stopBits, RelaySettings::stopBitsItems());

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

void frmMain::ShowMonitor(bool shown)
{
    mnuViewMonitor->setChecked(shown);
    trafficView->setVisible(shown);
    trafficView->setMonitoring(shown);
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
        app.ListForm->SendList(all, int(DestMode), Relay.wsocServer(), Relay.wsocLan(),
                               [this](bool everything) { Relay.SendListRequest(everything); });
}
