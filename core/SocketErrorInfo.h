#pragma once

#include <QString>
#include <cstdint>

// What a socket control reports with its Error event; the handler may set CancelDisplay.
struct SocketErrorInfo {
    int16_t Number = 0;
    QString Description;
    // 0x800A0000 plus Number, as a signed 32-bit value.
    int32_t Scode = 0;
    QString Source;
    QString HelpFile;
    int32_t HelpContext = 0;
    bool CancelDisplay = false;

    // Error numbers, as a user may look them up.
    enum : int16_t {
        AccessDenied = 10013,
        InvalidArgument = 10022,
        AddressFamilyNotSupported = 10047,
        AddressInUse = 10048,
        AddressNotAvailable = 10049,
        NetworkUnreachable = 10051,
        ConnectionAborted = 10053,
        ConnectionReset = 10054,
        NoBufferSpace = 10055,
        TimedOut = 10060,
        ConnectionRefused = 10061,
        HostUnreachable = 10065,
        HostNotFound = 11001,
        NotConnected = 10057,
    };

    static SocketErrorInfo make(int16_t number, const QString& source);
    // Short Japanese text for a number; a generic text for numbers not listed above.
    static QString describe(int16_t number);
    static int32_t scodeOf(int16_t number);
};
