#pragma once

#include <QString>

// The time one character takes on the line, used to tell when a burst of received bytes has ended.
class CharacterTime {
public:
    // (data bits + stop bits + 3) / speed seconds in milliseconds, rounded half to even; texts are
    // the picker texts ("9600", "8", "1.5"). 0 when the speed is not a positive number.
    static int rounded(const QString& speed, const QString& dataBits, const QString& stopBits);
    // The source timer's interval: the rounded character time, but never below 1 ms, so the end of
    // a burst is still seen at speeds where one character takes less than half a millisecond.
    static int timerInterval(const QString& speed, const QString& dataBits,
                             const QString& stopBits);
};
