#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

// size bytes that look random, the same for the same seed.
inline QByteArray sample(qsizetype size, quint32 seed = 1)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(random.generate());
    return bytes;
}

// A pseudo-terminal in raw mode: the test holds the master side, a serial port opens the slave.
class PtyPair {
public:
    PtyPair();
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return master >= 0; }
    QString slavePath() const { return slave; }
    // The non-blocking master descriptor, for callers that poll it themselves.
    int masterFd() const { return master; }
    // Both run the event loop while the line is busy and give up after about 20 s.
    bool writeAll(const QByteArray& bytes);
    QByteArray readCount(qsizetype count);
    // The device behind the slave goes away.
    void closeMaster();
    // Opens the slave as another program would; the caller closes the descriptor.
    int openSlave() const;

private:
    int master = -1;
    QString slave;
};
