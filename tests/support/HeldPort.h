#pragma once

#include <QString>
#include <QtGlobal>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A TCP port on 127.0.0.1 bound, never listened on, while the object lives: connections to it are
// refused, no one else is given it, and a server with SO_REUSEADDR may still listen on it.
class HeldPort {
public:
    HeldPort()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        value = ntohs(address.sin_port);
    }
    ~HeldPort()
    {
        if (fd >= 0)
            ::close(fd);
    }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    // 0 when no port could be bound.
    quint16 number() const { return value; }
    QString text() const { return QString::number(value); }

private:
    int fd = -1;
    quint16 value = 0;
};
