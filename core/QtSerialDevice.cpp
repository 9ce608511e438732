#include "core/QtSerialDevice.h"

#include "core/ComError.h"
#include "core/LineSpeed.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Device numbers of the slave sides of Unix 98 pseudo-terminals.
constexpr unsigned UnixPtySlaveMajorFirst = 136;
constexpr unsigned UnixPtySlaveMajorLast = 143;

bool noModemLines(int err)
{
    return err == ENOTTY || err == EINVAL || err == ENOTSUP;
}

// Opens the device without making it the controlling terminal; the descriptor or -errno.
int openDescriptor(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
}

int openErrnoToNumber(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return ComError::InvalidPortNumber;
    case EBUSY:
        return ComError::PortAlreadyOpen;
    default:
        return ComError::HardwareUnavailable;
    }
}

} // namespace

QtSerialDevice::QtSerialDevice(QObject* parent) : SerialDevice(parent)
{
    linePoll.setInterval(LinePollMs);
    connect(&linePoll, &QTimer::timeout, this, &QtSerialDevice::pollModemLines);
    port.setReadBufferSize(ReadBufferLimit);
    connect(&port, &QSerialPort::readyRead, this, &SerialDevice::dataArrived);
    connect(&port, &QSerialPort::bytesWritten, this, [this] {
        if (port.bytesToWrite() == 0)
            emit outputDrained();
    });
    connect(&port, &QSerialPort::errorOccurred, this, &QtSerialDevice::onPortError);
}

QtSerialDevice::~QtSerialDevice()
{
    close();
}

int QtSerialDevice::open(const QString& path, const SerialFraming& framing)
{
    if (port.isOpen())
        return ComError::PortAlreadyOpen;
    // Lock files are named after the device, so a link (by-id name) must not hide it.
    const QString devicePath = QFileInfo(path).canonicalFilePath();
    if (devicePath.isEmpty())
        return ComError::InvalidPortNumber;
    return openChecked(devicePath, framing);
}

int QtSerialDevice::openChecked(const QString& devicePath, const SerialFraming& framing)
{
    // Look for other holders before QSerialPort touches the line settings, and keep this
    // descriptor until the port is open so that a pseudo-terminal never loses its last reader.
    const int probe = openDescriptor(devicePath);
    if (probe < 0)
        return openErrnoToNumber(-probe);
    const auto closeProbe = qScopeGuard([probe] { ::close(probe); });
    if (!::isatty(probe))
        return ComError::InvalidPortNumber;
    int exclusive = 0;
    if (::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return ComError::PortAlreadyOpen;
    if (::flock(probe, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return ComError::PortAlreadyOpen;
    } else {
        ::flock(probe, LOCK_UN);
    }

    port.setPortName(devicePath);
    if (!port.open(QIODevice::ReadWrite)) {
        const int number = mapOpenFailure(devicePath);
        port.clearError();
        return number;
    }
    struct stat status {};
    pseudoTerminal = ::fstat(port.handle(), &status) == 0 && S_ISCHR(status.st_mode) &&
                     major(status.st_rdev) >= UnixPtySlaveMajorFirst &&
                     major(status.st_rdev) <= UnixPtySlaveMajorLast;
    if (::flock(port.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        port.close();
        port.clearError();
        return ComError::PortAlreadyOpen;
    }
    if (!applyFraming(framing)) {
        port.close();
        port.clearError();
        return ComError::CommStateFailed;
    }
    current = framing;
    vanishing = false;

    setDtr(true);
    setRts(false);
    bool gone = false;
    if (readModemLines(&ctsOn, &dsrOn, &gone))
        linePoll.start();
    port.clearError();
    return ComError::None;
}

int QtSerialDevice::mapOpenFailure(const QString& devicePath) const
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return ComError::InvalidPortNumber;
    case QSerialPort::OpenError:
        return ComError::PortAlreadyOpen;
    case QSerialPort::PermissionError: {
        // QSerialPort reports a held lock file, a busy device and a denied open alike; a
        // second look at the device tells them apart.
        const int again = openDescriptor(devicePath);
        if (again < 0)
            return openErrnoToNumber(-again);
        ::close(again);
        return ComError::PortAlreadyOpen; // the device opens: the lock file is held
    }
    default:
        return ComError::HardwareUnavailable;
    }
}

bool QtSerialDevice::applyFraming(const SerialFraming& framing)
{
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (framing.parity) {
    case 'E':
        parity = QSerialPort::EvenParity;
        break;
    case 'O':
        parity = QSerialPort::OddParity;
        break;
    case 'M':
        parity = QSerialPort::MarkParity;
        break;
    case 'S':
        parity = QSerialPort::SpaceParity;
        break;
    case 'N':
        break;
    default:
        return false;
    }
    QSerialPort::StopBits stop = QSerialPort::OneStop;
    switch (framing.stopBits) {
    case SerialFraming::StopBits::One:
        break;
    case SerialFraming::StopBits::Two:
        stop = QSerialPort::TwoStop;
        break;
    case SerialFraming::StopBits::OneAndHalf:
        // termios has no 1.5 stop bits; a UART sends 1.5 stop bits for 5-bit words when asked
        // for two, and can do nothing of the kind for longer words.
        if (framing.dataBits != 5)
            return false;
        stop = QSerialPort::TwoStop;
        break;
    }
    if (framing.dataBits < 5 || framing.dataBits > 8)
        return false;
    const bool speedSet = port.setBaudRate(framing.baudRate);
    const bool bitsSet = port.setDataBits(static_cast<QSerialPort::DataBits>(framing.dataBits));
    const bool paritySet = port.setParity(parity);
    const bool stopSet = port.setStopBits(stop);
    const bool flowSet = port.setFlowControl(QSerialPort::NoFlowControl);
    // A driver that cannot make the rate quietly picks another (often 9600) and still reports
    // success: the rate the kernel now holds must be the one asked for, within the 3 % an
    // asynchronous line tolerates.
    const qint64 actual = LineSpeed::read(port.handle());
    const qint64 wanted = framing.baudRate;
    const bool speedHeld = actual > 0 && qAbs(actual - wanted) * 100 <= wanted * 3;
    // A pseudo-terminal has no line to frame: the kernel keeps it at 8 bits without parity
    // and QSerialPort calls that a failure, yet every byte passes unchanged. It keeps any rate.
    if (pseudoTerminal)
        return speedHeld;
    return speedSet && speedHeld && bitsSet && paritySet && stopSet && flowSet;
}

void QtSerialDevice::close()
{
    linePoll.stop();
    vanishing = false;
    port.blockSignals(false);
    if (port.isOpen())
        port.close(); // releases the flock and the lock file with the descriptor
    port.clearError();
    ctsOn = dsrOn = false;
}

bool QtSerialDevice::isOpen() const
{
    return port.isOpen();
}

int QtSerialDevice::setFraming(const SerialFraming& framing)
{
    if (!port.isOpen())
        return ComError::PortNotOpen;
    if (applyFraming(framing)) {
        current = framing;
        port.clearError();
        return ComError::None;
    }
    applyFraming(current);
    port.clearError();
    return ComError::CommStateFailed;
}

qint64 QtSerialDevice::bytesAvailable() const
{
    return port.isOpen() ? port.bytesAvailable() : 0;
}

QByteArray QtSerialDevice::read(qint64 maxSize)
{
    if (!port.isOpen() || maxSize <= 0)
        return QByteArray();
    QByteArray bytes = port.read(maxSize);
    // A full read buffer stops QSerialPort reading the device until a read reaches past what
    // it holds; this empty read restarts it (it never takes a byte from the device itself).
    if (port.bytesAvailable() == 0) {
        char none = 0;
        port.read(&none, 1);
    }
    return bytes;
}

bool QtSerialDevice::write(const QByteArray& data)
{
    if (!port.isOpen() || vanishing)
        return false;
    if (data.isEmpty())
        return true;
    return port.write(data) == data.size();
}

qint64 QtSerialDevice::bytesToWrite() const
{
    return port.isOpen() ? port.bytesToWrite() : 0;
}

void QtSerialDevice::setRts(bool on)
{
    rtsOn = on;
    setModemBit(TIOCM_RTS, on);
}

void QtSerialDevice::setDtr(bool on)
{
    dtrOn = on;
    setModemBit(TIOCM_DTR, on);
}

void QtSerialDevice::setModemBit(int bit, bool on)
{
    // Called directly rather than through QSerialPort, which would report the ENOTTY of a
    // pseudo-terminal as a port error.
    if (!port.isOpen() || vanishing)
        return;
    ::ioctl(port.handle(), on ? TIOCMBIS : TIOCMBIC, &bit);
}

bool QtSerialDevice::readModemLines(bool* cts, bool* dsr, bool* gone) const
{
    int bits = 0;
    *gone = false;
    if (::ioctl(port.handle(), TIOCMGET, &bits) != 0) {
        *gone = !noModemLines(errno);
        *cts = *dsr = false;
        return false;
    }
    *cts = (bits & TIOCM_CTS) != 0;
    *dsr = (bits & TIOCM_DSR) != 0;
    return true;
}

void QtSerialDevice::pollModemLines()
{
    if (!port.isOpen() || vanishing) {
        linePoll.stop();
        return;
    }
    bool cts = false;
    bool dsr = false;
    bool gone = false;
    if (!readModemLines(&cts, &dsr, &gone)) {
        linePoll.stop();
        if (gone)
            startVanishing(); // a hung-up tty answers EIO
        return;
    }
    if (cts != ctsOn) {
        ctsOn = cts;
        emit ctsChanged(cts);
    }
    if (dsr != dsrOn) {
        dsrOn = dsr;
        emit dsrChanged(dsr);
    }
}

void QtSerialDevice::onPortError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
        startVanishing();
}

void QtSerialDevice::startVanishing()
{
    if (vanishing || !port.isOpen())
        return;
    vanishing = true;
    linePoll.stop();
    // QSerialPort is inside its own notifier here: close it from the event loop, and stop
    // its read notifier from firing again until then.
    port.blockSignals(true);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!vanishing)
                return;
            port.blockSignals(false);
            close();
            emit vanished();
        },
        Qt::QueuedConnection);
}
