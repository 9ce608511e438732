#include "core/SocketErrorInfo.h"

SocketErrorInfo SocketErrorInfo::make(int16_t number, const QString& source)
{
    SocketErrorInfo info;
    info.Number = number;
    info.Description = describe(number);
    info.Scode = scodeOf(number);
    info.Source = source;
    return info;
}

QString SocketErrorInfo::describe(int16_t number)
{
    switch (number) {
    case AccessDenied:
        return QStringLiteral("アクセスが拒否されました");
    case InvalidArgument:
        return QStringLiteral("この状態では実行できない操作です");
    case AddressFamilyNotSupported:
        return QStringLiteral("この種類のアドレスは使用できません");
    case AddressInUse:
        return QStringLiteral("アドレスは既に使用されています");
    case AddressNotAvailable:
        return QStringLiteral("要求されたアドレスは使用できません");
    case NetworkUnreachable:
        return QStringLiteral("ネットワークに到達できません");
    case ConnectionAborted:
        return QStringLiteral("接続が中止されました");
    case ConnectionReset:
        return QStringLiteral("接続がリセットされました");
    case NoBufferSpace:
        return QStringLiteral("バッファが不足しています");
    case NotConnected:
        return QStringLiteral("接続されていません");
    case TimedOut:
        return QStringLiteral("接続がタイムアウトしました");
    case ConnectionRefused:
        return QStringLiteral("接続が拒否されました");
    case HostUnreachable:
        return QStringLiteral("ホストに到達できません");
    case HostNotFound:
        return QStringLiteral("ホストが見つかりません");
    default:
        return QStringLiteral("ネットワークエラーが発生しました");
    }
}

int32_t SocketErrorInfo::scodeOf(int16_t number)
{
    return static_cast<int32_t>(0x800A0000u + static_cast<uint32_t>(static_cast<uint16_t>(number)));
}
