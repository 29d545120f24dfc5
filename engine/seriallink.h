// UART link: 8N1 at a chosen bit rate over QSerialPort, used in blocking mode.
#pragma once

#include "link.h"

#include <QSerialPort>

namespace qvota {

class SerialLink final : public Link
{
public:
    SerialLink(const QString &portName, int baudRate);

    Expected<void> open() override;
    void close() override;
    void reopen() override;
    bool write(const QByteArray &bytes) override;
    int readByte(int timeoutMs) override;
    bool readLine(int timeoutMs, QString &line) override;
    void clearInput() override;

private:
    // Records that the device is gone when the port reports an error that no wait can mend.
    bool noteLost();

    QString m_portName;
    int m_baudRate;
    QSerialPort m_port;
};

// When the system's device folder last had a node added or removed (a serial port came or went),
// so that a caller lists the ports again only then: a listing costs thousands of file opens.
// Empty where that cannot be told; a caller then lists every time.
QString serial_devices_stamp();

} // namespace qvota
