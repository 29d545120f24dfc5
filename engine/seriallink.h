// UART link: 8N1 at a chosen bit rate over QSerialPort, used in blocking mode.
#pragma once

#include "link.h"

#include <QSerialPort>

namespace qvota {

class SerialLink final : public Link
{
public:
    SerialLink(const QString &portName, int baudRate);

    bool open(QString *error) override;
    void close() override;
    void reopen() override;
    bool write(const QByteArray &bytes) override;
    int readByte(int timeoutMs) override;
    bool readLine(int timeoutMs, QString &line) override;
    void clearInput() override;
    QString failure() const override { return m_failure; }

private:
    // Records that the device is gone when the port reports an error that no wait can mend.
    bool noteLost();

    QString m_portName;
    int m_baudRate;
    QSerialPort m_port;
    QString m_failure;
};

} // namespace qvota
