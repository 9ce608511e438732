#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

// A network namespace of the test's own, joined to this one by a veth pair on a private /30,
// whose traffic can be cut off; removed with everything in it when destroyed.
struct NetNamespace {
    NetNamespace()
    {
        static int made = 0;
        const qint64 pid = QCoreApplication::applicationPid();
        name = QStringLiteral("nvx%1n%2").arg(pid).arg(++made % 10);
        const int base = int((pid * 10 + made % 10) % 16384) * 4;
        const QString net = QStringLiteral("10.254.%1.").arg(base >> 8);
        inner = net + QString::number((base & 255) + 2);
        ready = sh(QStringLiteral("ip netns add %1 && ip link add %1a type veth peer name %1b "
                                  "netns %1 && ip addr add %2/30 dev %1a && ip link set %1a up "
                                  "&& ip -n %1 addr add %3/30 dev %1b && ip -n %1 link set %1b up")
                       .arg(name, net + QString::number((base & 255) + 1), inner));
    }
    // Both ends of the pair go at once, where the namespace's own cleanup takes its time.
    ~NetNamespace() { sh(QStringLiteral("ip link del %1a; ip netns del %1").arg(name)); }

    QStringList inside(const QStringList& command) const
    {
        return QStringList{"ip", "netns", "exec", name} + command;
    }
    // Drops every packet the namespace sends or receives from now on.
    bool blackhole() const
    {
        return sh(QStringLiteral("ip netns exec %1 nft 'add table inet cut; add chain inet cut out "
                                 "{ type filter hook output priority 0; policy drop; }; add chain "
                                 "inet cut in { type filter hook input priority 0; policy drop; }'")
                      .arg(name));
    }
    static bool sh(const QString& script)
    {
        QProcess p;
        p.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        const bool ended = p.waitForFinished(10000);
        if (!ended)
            p.kill(), p.waitForFinished(1000);
        return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString name, inner;
    bool ready = false;
};
