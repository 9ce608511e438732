#pragma once

#include <QString>

// The event lines of the programs without a window: standard error, each after a UTC time.
class LogLine {
public:
    // Writes "<ISO 8601 UTC time with milliseconds> <message>" and a line feed, flushed at once.
    static void write(const QString& message);
};
