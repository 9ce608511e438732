#pragma once

#include <QByteArray>

// DATA lines and byte streams as tests and benchmarks make and read them.
class DataLines {
public:
    // A DATA line of 256 bytes that carries its number, LF included.
    static QByteArray numbered(int number);
    // count numbered lines from 0 on, as one stream.
    static QByteArray stream(int count);
    // The bytes of every DATA line in text, in order; "?" for one that does not decode.
    static QByteArray payload(const QByteArray& text);
};
