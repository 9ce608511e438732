#pragma once

#include <QString>
#include <QtGlobal>

// Line framing of a serial port: speed, parity, data bits and stop bits.
struct SerialFraming {
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600;
    char parity = 'N'; // one of E, M, N, O, S
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Reads a framing text such as "9600,N,8,1" into out. Returns 0, or 380 when the text is
    // malformed or names values no serial port can take; out is then left unchanged.
    static int parse(const QString& text, SerialFraming* out);
    // The canonical text of this framing ("9600,N,8,1").
    QString toString() const;

    bool operator==(const SerialFraming&) const = default;
};
