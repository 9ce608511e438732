#include "host/RelayHostTlsServer.h"

#include <QSslSocket>
#include <unistd.h>

void RelayHostTlsServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(int(descriptor));
        return;
    }
    socket->setSslConfiguration(configuration);
    addPendingConnection(socket);
}
