#pragma once

#include <QList>
#include <QObject>
#include <csignal>

class QSocketNotifier;

// Turns Unix signals into a Qt signal delivered from the event loop, through a socket pair the
// signal handler writes to. One instance at a time; the previous handlers return when it goes.
class UnixSignalNotifier : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalNotifier(const QList<int>& signalNumbers, QObject* parent = nullptr);
    ~UnixSignalNotifier() override;

    // False when the socket pair or a handler could not be set up.
    bool isValid() const { return valid; }

signals:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    void drain();

    QSocketNotifier* notifier = nullptr;
    QList<std::pair<int, struct sigaction>> previous;
    bool valid = false;
};
