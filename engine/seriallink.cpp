#include "seriallink.h"

#include <QElapsedTimer>
#include <QThread>

#ifdef Q_OS_UNIX
#    include <poll.h>
#    include <sys/stat.h>
#endif

namespace qvota {

namespace {

constexpr int OPEN_ATTEMPTS = 20;
constexpr int OPEN_RETRY_DELAY_MS = 500;
constexpr int REOPEN_PAUSE_MS = 2000;
constexpr int WRITE_TIMEOUT_MS = 30000;
// Longest single wait for data, so a deadline or a cancel is noticed at most this late.
constexpr int POLL_SLICE_MS = Link::POLL_MS;

// Errors after which the port carries nothing more: the adapter was unplugged, the far end of a
// pseudo-terminal closed, the driver took the device away.
bool is_lost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError
        || error == QSerialPort::PermissionError;
}

// A hang-up (the far end of a pseudo-terminal closed, a USB adapter unplugged) shows only in
// poll's flags: the port's own waits simply time out on it.
bool hung_up(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    pollfd device{int(port.handle()), 0, 0};
    return device.fd >= 0 && ::poll(&device, 1, 0) == 1
        && (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(port);
    return false;
#endif
}

} // namespace

SerialLink::SerialLink(const QString &portName, int baudRate)
    : m_portName(portName)
    , m_baudRate(baudRate)
{}

Expected<void> SerialLink::open()
{
    for (int attempt = 0; attempt < OPEN_ATTEMPTS; ++attempt) {
        m_port.setPortName(m_portName);
        m_port.setBaudRate(m_baudRate, QSerialPort::AllDirections);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        if (m_port.open(QIODevice::ReadWrite)) {
            clearFailure();
            return {};
        }
        // A port that is busy or not yet there may come: the retries wait for it, but not for
        // a user who has given up.
        if (!pause(OPEN_RETRY_DELAY_MS))
            return Failure::cancelled();
    }
    return Failure::refused(QStringLiteral("cannot open %1").arg(m_portName));
}

void SerialLink::close()
{
    m_port.close();
}

void SerialLink::reopen()
{
    m_port.close();
    if (!pause(REOPEN_PAUSE_MS))
        return;
    // A failed open is not reported here: the reads that follow simply time out.
    if (m_port.open(QIODevice::ReadWrite)) {
        clearFailure();
        m_port.clear(QSerialPort::Input);
    }
}

bool SerialLink::noteLost()
{
    if (!failure().isEmpty())
        return true;
    if (is_lost(m_port.error())) {
        setFailure(QStringLiteral("serial port %1 lost: %2").arg(m_portName, m_port.errorString()));
    } else if (m_port.isOpen() && hung_up(m_port)) {
        setFailure(QStringLiteral("serial port %1 lost: the device hung up (unplugged, or its "
                                  "other end closed)")
                       .arg(m_portName));
    }
    return !failure().isEmpty();
}

bool SerialLink::write(const QByteArray &bytes)
{
    if (!failure().isEmpty())
        return false;
    if (m_port.write(bytes) != bytes.size()) {
        if (!noteLost())
            setFailure(QStringLiteral("serial port %1: write failed: %2")
                           .arg(m_portName, m_port.errorString()));
        return false;
    }
    // Hands the bytes to the driver at once; a frame normally fits, so no wait follows.
    m_port.flush();
    QElapsedTimer timer;
    timer.start();
    while (m_port.bytesToWrite() > 0) {
        if (cancelRequested() || noteLost())
            return false;
        const qint64 left = WRITE_TIMEOUT_MS - timer.elapsed();
        if (left <= 0) {
            // Flow control that never lets go, or a driver that stopped sending.
            setFailure(QStringLiteral("serial port %1: a write stalled for %2 s")
                           .arg(m_portName, QString::number(WRITE_TIMEOUT_MS / 1000)));
            return false;
        }
        m_port.waitForBytesWritten(int(qMin<qint64>(POLL_SLICE_MS, left)));
    }
    return true;
}

int SerialLink::readByte(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (qint64 left = timeoutMs; left > 0; left = timeoutMs - timer.elapsed()) {
        if (m_port.bytesAvailable() <= 0) {
            if (cancelRequested() || noteLost())
                return -1;
            const int slice = int(qMin<qint64>(POLL_SLICE_MS, left));
            const qint64 waitStart = timer.elapsed();
            if (!m_port.waitForReadyRead(slice)) {
                if (noteLost())
                    return -1;
                // A port in error (closed) fails the wait at once; sleeping out the slice keeps
                // such a wait from spinning on the CPU until the deadline.
                const qint64 rest = slice - (timer.elapsed() - waitStart);
                if (rest > 0)
                    QThread::msleep(quint64(rest));
                continue;
            }
        }
        char byte;
        if (m_port.read(&byte, 1) == 1)
            return quint8(byte);
    }
    return -1;
}

bool SerialLink::readLine(int timeoutMs, QString &line)
{
    QElapsedTimer timer;
    timer.start();
    QString text;
    for (qint64 left = timeoutMs; left > 0; left = timeoutMs - timer.elapsed()) {
        const int byte = readByte(int(left));
        if (byte < 0)
            break;
        if (byte == '\n') {
            line = text;
            return true;
        }
        if (byte != '\r')
            text.append(QChar(byte)); // Latin-1: the byte value is the code point
    }
    return false;
}

void SerialLink::clearInput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
}

QString serial_devices_stamp()
{
#ifdef Q_OS_LINUX
    struct stat folder{};
    if (::stat("/dev", &folder) == 0)
        return QString::number(folder.st_mtim.tv_sec) + QLatin1Char('.')
            + QString::number(folder.st_mtim.tv_nsec);
#endif
    return {};
}

} // namespace qvota
