#pragma once

#include "core/ComError.h"
#include "core/SerialDeviceFactory.h"
#include "core/SerialFraming.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class PortTable;
class SerialDevice;

// A window's serial port control: a port chosen by COM number, with OnComm events.
class SerialPortControl : public QObject {
    Q_OBJECT
public:
    // OnComm codes.
    enum : qint16 {
        EventSend = 1,
        EventReceive = 2,
        EventCts = 3,
        EventDsr = 4,
    };
    enum : int { InputModeText = 0, InputModeBinary = 1 };

    explicit SerialPortControl(QObject* parent = nullptr);
    ~SerialPortControl() override;

    // Where port numbers are looked up; not owned, must outlive the control. Without a table
    // every number is unmapped.
    void setPortTable(const PortTable* table) { portTable = table; }
    const PortTable* table() const { return portTable; }
    // How devices are made; the standard factory when given an empty function.
    void setDeviceFactory(SerialDeviceFactory::Function factory);

    qint16 CommPort() const { return commPort; }
    // Any 16-bit value is taken; numbers outside 1 to 255 fail at open with 8002. The number
    // of an open port stays in use until it is closed.
    bool setCommPort(int port);

    QString Settings() const { return settings; }
    // 380 for a malformed framing; while open the framing is applied at once (8015 when the
    // device refuses it, which then keeps the old framing).
    bool setSettings(const QString& text);

    // Input() always yields bytes; the mode is kept for the caller's sake (0 or 1).
    int InputMode() const { return inputMode; }
    bool setInputMode(int mode);
    // Receive events while at least this many bytes wait; 0 turns them off.
    int RThreshold() const { return rThreshold; }
    bool setRThreshold(int count);
    // Send events when the output buffer has emptied; 0 turns them off.
    int SThreshold() const { return sThreshold; }
    bool setSThreshold(int count);
    // Bytes one read of Input() takes at most; 0 takes every waiting byte.
    int InputLen() const { return inputLen; }
    bool setInputLen(int count);

    bool PortOpen() const;
    // true opens CommPort (8002 unmapped or missing, 8005 held elsewhere or already open,
    // 8015 framing refused, 8010 anything else); false closes and discards pending data.
    bool setPortOpen(bool open);

    // Takes the waiting bytes (at most InputLen); empty when none wait.
    QByteArray Input();
    // Queues the bytes for sending in one piece.
    bool Output(const QByteArray& bytes);

    bool CTSHolding() const;
    bool DSRHolding() const;
    // Output lines; set while closed, the value is applied at the next open.
    bool RTSEnable() const { return rtsEnable; }
    bool setRTSEnable(bool on);
    bool DTREnable() const { return dtrEnable; }
    bool setDTREnable(bool on);

    // Code of the OnComm event being delivered (and afterwards, of the last one).
    qint16 CommEvent() const { return commEvent; }

    // Setters that fail return false and record the error; the most recent error stays until
    // clearError(), so a caller can run several steps and look at the outcome once.
    ComError lastError() const { return error; }
    void clearError() { error = ComError(); }

    // Opens port n on a device of its own and closes it again without touching this control's
    // state or events: 0 when the port can be opened, 8005 when it is held, another number when
    // it cannot be used.
    int probe(int n) const;

    // The device of the open port (nullptr while closed).
    SerialDevice* device() const { return dev; }

signals:
    // Delivered one at a time from the event loop, never inside a call made on the control.
    void OnComm();
    // The open port's device disappeared; the port is closed and lastError() says so.
    void Vanished();

private:
    bool fail(int number);
    QString pathOf(int n, int* number) const;
    void closeDevice();
    void queueEvent(qint16 code);
    void deliverNextEvent();
    void onDataArrived();
    void onOutputDrained();
    void onVanished();

    const PortTable* portTable = nullptr;
    SerialDeviceFactory::Function makeDevice;
    SerialDevice* dev = nullptr;
    ComError error;

    qint16 commPort = 1;
    QString settings = QStringLiteral("9600,N,8,1");
    SerialFraming framing;
    int inputMode = InputModeText;
    int rThreshold = 0;
    int sThreshold = 0;
    int inputLen = 0;
    bool rtsEnable = false;
    bool dtrEnable = true;
    qint16 commEvent = 0;

    QList<qint16> pendingEvents;
    bool deliveryScheduled = false;
    bool receivePending = false;
    bool sendPending = false;
};
