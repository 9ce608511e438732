#pragma once

#include <QString>

// Texts that more than one window or settings step of the desktop program uses.
class UiText {
public:
    // The status bar panel that takes every status and error text.
    static inline const QString StatusKey = QStringLiteral("status");
    // Japanese font names of the design; substituted by the IPA fonts.
    static inline const QString ProportionalFont = QStringLiteral("ＭＳ Ｐゴシック");
    static inline const QString FixedFont = QStringLiteral("ＭＳ ゴシック");
    // The connection list's caption and the menu item that shows it.
    static inline const QString ConnectionList = QStringLiteral("接続一覧");
    static inline const QString VersionCaption = QStringLiteral("ﾊﾞｰｼﾞｮﾝ");
    static inline const QString Donationware = QStringLiteral("このソフトはカンパウェアです。");
};
