// libFuzzer target: random text through the receiving side of the relay core's LAN link, cut
// into chunks at random places, with the source port open on a fake device or closed.
// Input: byte 0 holds flags (bit 0: port open, bit 1: repeat the text past the longest line
// kept), byte 1 seeds the chunk sizes, the rest is the received text as UTF-8.
#include "FakeSerialDevice.h"
#include "FakeSerialPort.h"
#include "core/LineReceiver.h"
#include "core/PortTable.h"
#include "core/RelayCore.h"
#include "core/SerialPortControl.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// One relay core whose COM1 is a fake device; lives for the whole run.
struct Relay {
    FakeSerialPort port{QStringLiteral("fake:fuzz")};
    PortTable ports;
    RelayCore core{ports};

    Relay()
    {
        ports.setDeviceLister([] { return QList<PortTable::Device>(); });
        ports.setEntry(1, port.path());
        // The core's port controls exist already and keep the factory they were made with.
        core.comSer()->setDeviceFactory([](const QString&) -> std::unique_ptr<SerialDevice> {
            return std::make_unique<FakeSerialDevice>();
        });
        core.comSer()->setCommPort(1);
        core.comSer()->setSettings(QStringLiteral("9600,N,8,1"));
        core.comSer()->setInputMode(SerialPortControl::InputModeBinary);
    }
};

Relay* relay = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    Q_UNUSED(argc);
    new QCoreApplication(qtArgc, qtArgv);
    relay = new Relay;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const bool open = data[0] & 1;
    const bool repeat = data[0] & 2;
    uint32_t seed = data[1] * 2654435761u + 1;
    SerialPortControl* const port = relay->core.comSer();
    if (open != port->PortOpen())
        port->setPortOpen(open);
    // A port that does not open would leave the writing side untried.
    if (open != port->PortOpen())
        std::abort();

    QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    if (repeat && !text.isEmpty())
        text = text.repeated(LineReceiver::MaxLineLength / text.size() + 2);

    for (qsizetype at = 0; at < text.size();) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        const qsizetype length = qsizetype(seed % 700) + 1;
        relay->core.ReceiveText(text.mid(at, length));
        at += length;
        // ReceiveText does not wait for the port as a socket's text does, and one short line
        // writes up to 32767 bytes: what a chunk wrote leaves the fake device and is forgotten
        // before the next, so an input of many such lines holds a few megabytes, not hundreds.
        QCoreApplication::sendPostedEvents();
        relay->port.takeWritten();
    }
    if (relay->core.ReceiveBuffer().size() > LineReceiver::MaxLineLength)
        std::abort();

    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    relay->port.takeWritten();
    return 0;
}
