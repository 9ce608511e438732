#pragma once

#include <QByteArray>
#include <QObject>

class NirvexMain;
class frmMain;

// The main window's LAN link: sends the source port's collected bytes and line changes to the
// peer. For now it only keeps the shared send buffer sound; the sockets come later.
class LanLink : public QObject {
    Q_OBJECT
public:
    LanLink(NirvexMain& app, frmMain& form);

    // Hands the first SendCount bytes of SendBuffer to the link as one block and empties the
    // count. Nothing happens while the count is 0, nor in the host role before the relay host
    // has accepted this copy (the bytes then stay where they are).
    void FlushData();
    // Flushes the collected bytes first, then reports a CTS (signal 1) or DSR (signal 2) change.
    void SendControl(int signal, bool state);
    // Starts the link for the role in DestMode; returns at once.
    void OpenLan(bool force);
    // Closes the link's sockets.
    void CloseLan();

signals:
    // A block of source bytes leaves for the peer.
    void dataFlushed(const QByteArray& bytes);
    // A line change leaves for the peer, after the bytes received before it.
    void controlSent(int signal, bool state);

private:
    NirvexMain& app;
    frmMain& form;
};
