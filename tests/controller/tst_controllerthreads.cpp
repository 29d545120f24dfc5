// The controller's two threads against a board played by a thread of this process, so that the
// run involves no child process at all: ThreadSanitizer loses track of a process that has
// started one, and this is the test that lets it watch the worker and the GUI thread meet.
#include "otacontroller.h"
#include "testimages.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <atomic>
#include <chrono>
#include <thread>

using qvota::OtaController;

namespace {

// Answers the update protocol over UDP on 127.0.0.1, one datagram per command or frame, and
// reports the CRC that the container's header states, as a board that decrypted it would.
class ThreadBoard
{
public:
    ThreadBoard()
        : m_thread([this] { serve(); })
    {
        while (m_port.load() == 0)
            std::this_thread::yield();
    }
    ~ThreadBoard()
    {
        m_stop.store(true);
        m_thread.join();
    }
    quint16 port() const { return m_port.load(); }

private:
    void serve()
    {
        QUdpSocket socket;
        m_port.store(socket.bind(QHostAddress::LocalHost, 0) ? socket.localPort() : 1);
        QByteArray image;
        qint64 expected = 0;
        while (!m_stop.load()) {
            if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(20))
                continue;
            const QNetworkDatagram datagram = socket.receiveDatagram();
            const QByteArray in = datagram.data();
            QByteArray reply;
            if (in == "j") {
                reply = "JEDEC=C86018\r\n";
            } else if (in.size() == 5 && in[0] == 'U') {
                expected = qFromLittleEndian<quint32>(in.constData() + 1);
                image.clear();
                reply = "READY\r\n";
            } else if (in.size() > 6 && uchar(in[0]) == 0xAA && uchar(in[1]) == 0x55) {
                // Slow enough that a cancel from the GUI thread lands in the middle of the run.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                image += in.mid(4, in.size() - 6);
                reply = "K";
                if (image.size() == expected)
                    reply += "RXDONE CRC32=" + headerCrc(image) + "\r\n";
            } else if (in == "F") {
                reply = "IMGCRC=" + headerCrc(image) + "\r\n";
            }
            if (!reply.isEmpty())
                socket.writeDatagram(reply, datagram.senderAddress(),
                                     quint16(datagram.senderPort()));
        }
    }

    static QByteArray headerCrc(const QByteArray &image)
    {
        return image.size() < 36
                   ? QByteArray("0")
                   : QByteArray::number(qFromLittleEndian<quint32>(image.constData() + 32), 16);
    }

    std::atomic<quint16> m_port{0};
    std::atomic_bool m_stop{false};
    std::thread m_thread;
};

} // namespace

class TestControllerThreads : public QObject
{
    Q_OBJECT

private slots:
    void runsAndCancelsAcrossThreads();
};

void TestControllerThreads::runsAndCancelsAcrossThreads()
{
    QTemporaryDir dir;
    const QString file = qvota::test::write_file(
        dir, "image.qvbit",
        qvota::test::make_container(qvota::test::pattern_bytes(60000), 0x1234abcd));
    QVERIFY(!file.isEmpty());
    ThreadBoard board;
    const QVariantMap cfg{{"transport", "udp"},    {"ip", "127.0.0.1"}, {"udpPort", board.port()},
                          {"hostIp", "127.0.0.1"}, {"hostPort", 0},     {"file", file}};

    OtaController controller;
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    QSignalSpy lines(&controller, &OtaController::logAppended);
    controller.start(cfg);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(controller.progressDone(), (60036 + 255) / 256);
    QCOMPARE(controller.progressTotal(), controller.progressDone());
    QVERIFY(lines.last().at(0).toString().endsWith(" OTA FLOW COMPLETE"));

    // A second run, cancelled from the GUI thread as soon as the worker reports progress.
    QSignalSpy progress(&controller, &OtaController::progressChanged);
    controller.start(cfg);
    connect(&controller, &OtaController::progressChanged, &controller, [&controller] {
        if (controller.progressDone() > 0)
            controller.cancel();
    });
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.last().at(1).toString(), QStringLiteral("cancelled by user"));
    QVERIFY(!controller.running());
}

QTEST_GUILESS_MAIN(TestControllerThreads)
#include "tst_controllerthreads.moc"
