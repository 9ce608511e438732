#include "core/ComError.h"

QString ComError::describe(int number)
{
    switch (number) {
    case InvalidPropertyValue:
        return QStringLiteral("プロパティの値が不正です");
    case InvalidPortNumber:
        return QStringLiteral("ポート番号が無効です");
    case PortAlreadyOpen:
        return QStringLiteral("ポートは既に開いています");
    case HardwareUnavailable:
        return QStringLiteral("ハードウェアを使用できません");
    case PortNotOpen:
        return QStringLiteral("ポートが開いていません");
    case CommStateFailed:
        return QStringLiteral("通信状態を設定できません");
    default:
        return QString();
    }
}

ComError ComError::fromNumber(int number)
{
    return ComError{number, describe(number)};
}

ComError ComError::deviceVanished()
{
    return ComError{HardwareUnavailable, QStringLiteral("デバイスが切断されました")};
}
