#pragma once

#include "core/ComError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class DropDownComboBox;
class LanLink;
class NirvexMain;
class QComboBox;
class SerialPortControl;
class TagLabel;
class frmMain;

// The serial relay of one main window: port lists, destination choice, start and stop, and the
// path of bytes and modem lines between the window's serial ports.
class SerialRelay {
public:
    enum class Picker { Source, Destination };
    enum LampState { LampLit = 1, LampDark = 2 };

    SerialRelay(frmMain& form, NirvexMain& app, LanLink& lan);

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
    bool StartRelay();
    // Closes the links at once; a port with bytes still queued stays open, relaying nothing,
    // until they have gone out or DrainMs has passed.
    void StopRelay();
    // Stops a running relay and waits, with the event loop running, until its ports are closed.
    void StopAndWait();

    void comSer_OnComm();
    void comDest_OnComm();
    // A relay port's device went away; the port is closed already.
    void comSer_Vanished();
    void comDest_Vanished();
    void ForwardSerialData(const QByteArray& bytes);
    void tmrSer_Timer();

    // Lights (1) or darkens (2) a lamp in the colour family named by the last digit of its Tag.
    static void SetLamp(TagLabel* label, int state);

    // The item text of port n after a probe that returned probeError; empty when the port is
    // not listed.
    static QString PortItemText(int n, int probeError, bool otherSide, Picker picker);
    // The control's framing text from the four picker texts ("9600,N,8,1").
    static QString FramingText(const QString& speed, const QString& parity, const QString& bits,
                               const QString& stopBits);
    // The destination history after a start with text: at most 10 entries, newest first, each
    // text once.
    static QStringList HistoryWith(const QStringList& items, const QString& text);
    // "<prefix>[<number>:<description>]".
    static QString ErrorText(const QString& prefix, const ComError& error);

    static constexpr int MaxHistory = 10;
    // Bytes a port or socket may have queued for sending before the side that feeds it is left
    // waiting in its own port, so a destination slower than its source costs no memory; taking
    // resumes once the queue is down to half.
    static constexpr qint64 QueueLimit = 256 * 1024;
    // How often a source waiting for the LAN socket looks at its queue again.
    static constexpr int QueueCheckMs = 10;
    // How long a stop lets the ports send what is queued before closing them.
    static constexpr int DrainMs = 1000;
    // The status text for bytes a stop could not send.
    static QString DiscardedText(qint64 count);

    // Bytes queued for sending where the source port's bytes go (destination port, the source
    // port itself when it echoes, or the LAN socket).
    qint64 DestinationQueue() const;
    // True while the source port's (or destination port's) bytes wait for room.
    bool SourceHeld() const { return sourceHeld; }
    bool DestinationHeld() const { return destinationHeld; }

    // Sounds when a start is refused.
    std::function<void()> Beep;

private:
    // Configures and opens a port from its four pickers the way a relay start does; the
    // control's lastError() tells the outcome.
    static void openPort(SerialPortControl* port, const QComboBox* comPort, const QComboBox* speed,
                         const QComboBox* parity, const QComboBox* bits, const QComboBox* stopBits);
    void showStatus(const QString& text);
    // Takes and forwards every byte waiting on the source or the destination port.
    void takeSource();
    void takeDestination();
    void checkHeldSoon();
    void resumeHeld();
    qint64 queuedForSending() const;
    // While draining: ends the drain once a send event of port (or a vanished port, null) leaves
    // nothing queued.
    void drainEvent(const SerialPortControl* port);
    // Closes both ports, saying how many queued bytes went with them.
    void finishDrain();

    // Groups owning the devices the last fill found but may not open.
    QStringList deniedGroups;
    bool accessNoted = false;
    bool sourceHeld = false;
    bool destinationHeld = false;
    bool checkScheduled = false;
    // Set while a stopped relay's ports still send what was queued, until drainLimit fires.
    bool draining = false;
    QTimer drainLimit;

    frmMain& form;
    NirvexMain& app;
    LanLink& lan;
};
