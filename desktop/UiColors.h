#pragma once

#include <QColor>

// Colours of the run button and the lamps, in their idle, lit and dark states, and of the
// traffic monitor: one per direction, in the hue of that direction's lamp, and one for events.
class UiColors {
public:
    static inline const QColor RunIdle = QColor(255, 192, 192);
    static inline const QColor RunActive = QColor(192, 255, 192);
    static inline const QColor LanLampOff = QColor(192, 192, 192);
    static inline const QColor GreenLit = QColor(64, 255, 64);
    static inline const QColor GreenDark = QColor(0, 64, 0);
    static inline const QColor RedLit = QColor(255, 64, 64);
    static inline const QColor RedDark = QColor(64, 0, 0);
    static inline const QColor LampText = QColor(0, 0, 0);
    static inline const QColor LinkText = QColor(0, 0, 255);
    static inline const QColor TrafficToDestination = QColor(176, 0, 0);
    static inline const QColor TrafficToSource = QColor(0, 128, 0);
    static inline const QColor TrafficEvent = QColor(0, 0, 192);
    static inline const QColor TrafficBack = QColor(255, 255, 255);
    static inline const QColor TrafficCounts = QColor(224, 224, 224);
};
