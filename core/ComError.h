#pragma once

#include <QString>

// An error number of the serial port control together with its description text.
struct ComError {
    enum : int {
        None = 0,
        InvalidPropertyValue = 380,
        InvalidPortNumber = 8002,
        PortAlreadyOpen = 8005,
        HardwareUnavailable = 8010,
        PortNotOpen = 8012,
        CommStateFailed = 8015,
    };

    int Number = None;
    QString Description;

    bool isError() const { return Number != None; }

    // The standard description of an error number; empty for 0 and unknown numbers.
    static QString describe(int number);
    // The error with its standard description.
    static ComError fromNumber(int number);
    // What a port reports when its device disappears while it is open.
    static ComError deviceVanished();
};
