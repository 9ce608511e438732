#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

// A listener whose connections are TLS sockets not yet encrypted: the service takes them like
// plain ones, counts them and times them out, and starts the handshake itself.
class RelayHostTlsServer : public QTcpServer {
public:
    explicit RelayHostTlsServer(QObject* parent = nullptr) : QTcpServer(parent) {}

    // The certificate, key and protocols the handshakes use.
    void setConfiguration(const QSslConfiguration& config) { configuration = config; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration configuration;
};
