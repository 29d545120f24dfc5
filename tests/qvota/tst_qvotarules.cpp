// The rules an operator writes boards by: SPECs, boards files and the choice of a serial port
// by its USB serial number. Tables, no hardware.
#include "boardspec.h"
#include "probe.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

using namespace qvota;
using namespace qvota::cli;
using namespace Qt::StringLiterals;

namespace {

// A board spec as its fields read: kind, where, port or baud, bind; "" stands for a refused board spec.
QString fields(const QString &text, QString *error)
{
    const Expected<BoardSpec> spec = parse_board_spec(text);
    if (!spec) {
        *error = spec.message();
        return {};
    }
    const LinkSettings link = link_settings(*spec, QStringLiteral("/dev/resolved"));
    if (spec->serial)
        return QStringLiteral("uart %1 %2 serial=%3")
            .arg(link.portName, QString::number(link.baudRate), spec->serialNumber);
    return QStringLiteral("udp %1 %2 bind=%3:%4")
        .arg(link.boardIp, QString::number(link.boardPort), link.hostIp,
             QString::number(link.hostPort));
}

PortInfo usb(const QString &location, const QString &serial)
{
    PortInfo port;
    port.location = location;
    port.serialNumber = serial;
    port.description = QStringLiteral("FT232R USB UART");
    port.vendorId = 0x0403;
    port.productId = 0x6001;
    return port;
}

} // namespace

class TestRules : public QObject
{
    Q_OBJECT

private slots:
    void boardSpec_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // fields, or a part of the refusal
        // The system chooses the local side unless bind= says otherwise.
        QTest::newRow("udp default port") << "udp:127.0.0.1" << "udp 127.0.0.1 7777 bind=:0";
        QTest::newRow("udp port") << "udp:127.0.0.1:9000" << "udp 127.0.0.1 9000 bind=:0";
        QTest::newRow("udp bind") << "udp:127.0.0.1:9000,bind=127.0.0.1:6666"
                                  << "udp 127.0.0.1 9000 bind=127.0.0.1:6666";
        QTest::newRow("udp bind no port") << "udp:127.0.0.1,bind=127.0.0.1"
                                          << "udp 127.0.0.1 7777 bind=127.0.0.1:0";
        QTest::newRow("ipv6") << "udp:[::1]:9000" << "udp ::1 9000 bind=:0";
        QTest::newRow("ipv6 default port") << "udp:[::1]" << "udp ::1 7777 bind=:0";
        QTest::newRow("ipv6 bind") << "udp:[::1],bind=[::1]:5000" << "udp ::1 7777 bind=::1:5000";
        QTest::newRow("ipv6 bare") << "udp:::1" << "brackets";
        QTest::newRow("two ports") << "udp:127.0.0.1:7777:7777" << "not ADDRESS[:PORT]";
        QTest::newRow("ipv6 unclosed") << "udp:[::1:9000" << "without ']'";
        QTest::newRow("ipv4 in brackets") << "udp:[127.0.0.1]" << "only an IPv6 address goes in brackets";
        QTest::newRow("host name") << "udp:board.local" << "names are not looked up";
        QTest::newRow("port 0") << "udp:127.0.0.1:0" << "from 1 to 65535";
        QTest::newRow("port too big") << "udp:127.0.0.1:65536" << "from 1 to 65535";
        QTest::newRow("port text") << "udp:127.0.0.1:x" << "from 1 to 65535";
        QTest::newRow("bind family") << "udp:127.0.0.1,bind=[::1]" << "family";
        QTest::newRow("bind twice") << "udp:127.0.0.1,bind=127.0.0.1,bind=127.0.0.1" << "twice";
        QTest::newRow("unknown option") << "udp:127.0.0.1,rate=3" << "only bind=";
        QTest::newRow("uart") << "uart:/dev/ttyUSB0" << "uart /dev/ttyUSB0 115200 serial=";
        QTest::newRow("uart baud") << "uart:/dev/ttyUSB0@921600" << "uart /dev/ttyUSB0 921600 serial=";
        QTest::newRow("uart windows") << "uart:COM7@9600" << "uart COM7 9600 serial=";
        QTest::newRow("uart serial") << "uart:serial=A50285BI" << "uart /dev/resolved 115200 serial=A50285BI";
        QTest::newRow("uart serial baud") << "uart:serial=A50285BI@57600"
                                          << "uart /dev/resolved 57600 serial=A50285BI";
        QTest::newRow("uart no device") << "uart:@115200" << "no device";
        QTest::newRow("uart empty serial") << "uart:serial=" << "needs a USB serial number";
        QTest::newRow("uart bad baud") << "uart:/dev/ttyUSB0@fast" << "not a positive number";
        QTest::newRow("uart zero baud") << "uart:/dev/ttyUSB0@0" << "not a positive number";
        // One board, one spelling: loose forms that name another address are refused, and an
        // address that reaches many boards names none.
        QTest::newRow("leading zero") << "udp:127.0.0.010:43487" << "no leading zeros";
        QTest::newRow("short form") << "udp:127.1" << "four numbers 0-255";
        QTest::newRow("one number") << "udp:2130706433" << "four numbers 0-255";
        QTest::newRow("octal") << "udp:0177.0.0.1" << "no leading zeros";
        QTest::newRow("mapped") << "udp:[::ffff:127.0.0.1]" << "IPv4-mapped";
        QTest::newRow("mapped in hex") << "udp:[::ffff:7f00:1]" << "IPv4-mapped";
        QTest::newRow("zone") << "udp:[fe80::1%eth0]" << "no zone";
        QTest::newRow("two gaps") << "udp:[1::2::3]" << "'::' at most once";
        QTest::newRow("trailing blank") << "udp:127.0.0.1 " << "blanks around";
        QTest::newRow("broadcast") << "udp:255.255.255.255" << "broadcast";
        QTest::newRow("multicast") << "udp:[ff02::1]" << "multicast";
        QTest::newRow("unspecified") << "udp:0.0.0.0" << "names no board";
        QTest::newRow("bind leading zero") << "udp:127.0.0.1,bind=127.0.0.01" << "no leading zeros";
        QTest::newRow("ipv6 spelt long") << "udp:[0:0::01]:9000" << "udp ::1 9000 bind=:0";
        QTest::newRow("ipv6 upper case") << "udp:[FD00::A]" << "udp fd00::a 7777 bind=:0";
        QTest::newRow("ipv6 dotted tail") << "udp:[64:ff9b::192.0.2.1]" << "udp 64:ff9b::c000:201 7777 bind=:0";
        QTest::newRow("bind any") << "udp:127.0.0.1,bind=0.0.0.0:5000" << "udp 127.0.0.1 7777 bind=0.0.0.0:5000";
        QTest::newRow("unknown kind") << "tcp:127.0.0.1" << "expected udp:";
        QTest::newRow("upper case kind") << "UDP:127.0.0.1" << "expected udp:";
        QTest::newRow("empty") << "" << "expected udp:";
    }

    void boardSpec()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QString error;
        const QString got = fields(text, &error);
        if (got.isEmpty()) {
            QVERIFY2(error.contains(expected), qPrintable(error));
            QVERIFY2(error.contains(QLatin1Char('\'') + text + QLatin1Char('\'')),
                     qPrintable(error)); // the refusal names the board spec as written
        } else {
            QCOMPARE(got, expected);
            QCOMPARE(parse_board_spec(text)->label, text);
        }
    }

    void boardsFile()
    {
        const auto boards = parse_boards_file(
            QStringLiteral("# rack 3\n\nudp:127.0.0.1:9001   # slot 1\n  uart:/dev/ttyUSB0@9600\n"));
        QVERIFY2(boards, qPrintable(boards.message()));
        QCOMPARE(boards->size(), 2);
        QCOMPARE(boards->at(0).label, QStringLiteral("udp:127.0.0.1:9001"));
        QCOMPARE(boards->at(1).baud, 9600);

        const auto refused = parse_boards_file(QStringLiteral("udp:127.0.0.1\n# ok\nudp:::1\n"));
        QVERIFY(!refused);
        QVERIFY2(refused.message().startsWith(QLatin1String("line 3: board 'udp:::1'")),
                 qPrintable(refused.message()));
        QVERIFY(parse_boards_file(QStringLiteral("# nothing\n"))->isEmpty());
    }

    // Two specs that reach one board, or two boards on one local port, are refused, naming both.
    void sharedBoard_data()
    {
        QTest::addColumn<QStringList>("specs");
        QTest::addColumn<QString>("problem"); // empty: every board is its own
        QTest::newRow("spelt alike") << QStringList{u"udp:127.0.0.1:9"_s, u"udp:127.0.0.1:9,bind=127.0.0.1"_s}
                                     << u"boards 'udp:127.0.0.1:9' and 'udp:127.0.0.1:9,bind=127.0.0.1' are the same board"_s;
        QTest::newRow("ipv6 spellings") << QStringList{u"udp:[::1]:9"_s, u"udp:[0::1]:9"_s} << u"same board"_s;
        QTest::newRow("other port") << QStringList{u"udp:127.0.0.1:9"_s, u"udp:127.0.0.1:10"_s} << QString();
        QTest::newRow("serial case") << QStringList{u"uart:serial=a50285bi"_s, u"uart:serial=A50285BI@9600"_s}
                                     << u"same board"_s;
        QTest::newRow("device and its serial")
            << QStringList{u"uart:serial=A50285BI"_s, u"uart:DEVLINK"_s} << u"same board"_s;
        QTest::newRow("device through a link") << QStringList{u"uart:DEVICE"_s, u"uart:DEVLINK"_s}
                                               << u"same board"_s;
        QTest::newRow("one local port") << QStringList{u"udp:127.0.0.1:9,bind=127.0.0.1:4000"_s,
                                                       u"udp:127.0.0.2:9,bind=127.0.0.1:4000"_s}
                                        << u"both bind local port 4000"_s;
        QTest::newRow("any and one on a port") << QStringList{u"udp:127.0.0.1:9,bind=0.0.0.0:4000"_s,
                                                              u"udp:127.0.0.2:9,bind=127.0.0.1:4000"_s}
                                               << u"both bind local port 4000"_s;
        QTest::newRow("system-chosen ports") << QStringList{u"udp:127.0.0.1:9,bind=127.0.0.1"_s,
                                                            u"udp:127.0.0.2:9,bind=127.0.0.1"_s}
                                             << QString();
    }

    void sharedBoard()
    {
        QFETCH(QStringList, specs);
        QFETCH(QString, problem);
        // A real file and a symbolic link to it stand for a device and its /dev/serial/by-id name.
        QTemporaryDir dir;
        const QString device = dir.filePath(u"ttyUSB0"_s);
        const QString link = dir.filePath(u"usb-FTDI_A50285BI-if00"_s);
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(device, link));
        QList<BoardSpec> boards;
        for (QString text : specs) {
            text.replace(u"DEVLINK"_s, link).replace(u"DEVICE"_s, device);
            const Expected<BoardSpec> spec = parse_board_spec(text);
            QVERIFY2(spec, qPrintable(text));
            boards.append(*spec);
        }
        const QString got = shared_board_problem(boards, {usb(device, u"A50285BI"_s)});
        if (problem.isEmpty())
            QCOMPARE(got, QString());
        else
            QVERIFY2(got.contains(problem), qPrintable(got));
    }

    // Over UDP a board's boot line and its JEDEC line may come in one datagram, which the link
    // hands out as one text: the probe must still hear the board.
    void probeHearsJedecBehindBootLines()
    {
        QUdpSocket board;
        QVERIFY(board.bind(QHostAddress::LocalHost, 0));
        const quint16 port = board.localPort();
        std::unique_ptr<QThread> answering(QThread::create([&board] {
            if (!board.waitForReadyRead(5000))
                return;
            QHostAddress host;
            quint16 hostPort = 0;
            char byte = 0;
            board.readDatagram(&byte, 1, &host, &hostPort);
            board.writeDatagram("QUELVANE update firmware v2\r\nJEDEC=C86018\r\n", host, hostPort);
        }));
        board.moveToThread(answering.get());
        answering->start();
        const Expected<BoardSpec> spec = parse_board_spec(u"udp:127.0.0.1:"_s + QString::number(port));
        QVERIFY(spec);
        PortListing ports;
        const std::atomic_bool cancel{false};
        SlotProbe probe(*spec, ports, &cancel);
        BoardPlace place;
        QString identity;
        QCOMPARE(probe.look(&place, &identity), Presence::Answers);
        QVERIFY(answering->wait(5000));
    }

    void serialNumber_data()
    {
        QTest::addColumn<QList<PortInfo>>("ports");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("location"); // the match, or empty
        QTest::addColumn<QStringList>("listed"); // what a refusal must name

        PortInfo onboard;
        onboard.location = QStringLiteral("/dev/ttyS0");
        const QList<PortInfo> rack{usb(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("A50285BI")),
                                   usb(QStringLiteral("/dev/ttyUSB1"), QStringLiteral("FT9XQ2L7")),
                                   onboard};
        QTest::newRow("match") << rack << "FT9XQ2L7" << "/dev/ttyUSB1" << QStringList();
        QTest::newRow("case aside") << rack << "a50285bi" << "/dev/ttyUSB0" << QStringList();
        QTest::newRow("no match lists the USB ports")
            << rack << "NOPE" << ""
            << QStringList{u"no serial port has USB serial number NOPE"_s,
                           u"/dev/ttyUSB0 (serial A50285BI, 0403:6001, FT232R USB UART)"_s,
                           u"/dev/ttyUSB1 (serial FT9XQ2L7"_s};
        QTest::newRow("a prefix is no match") << rack << "A50285" << "" << QStringList{u"A50285BI"_s};
        // A dual-channel adapter shows one serial number on two ports.
        QTest::newRow("two ports, one number")
            << (rack + QList<PortInfo>{usb(QStringLiteral("/dev/ttyUSB2"), QStringLiteral("A50285BI"))})
            << "A50285BI" << ""
            << QStringList{u"2 serial ports have USB serial number A50285BI"_s,
                           u"/dev/ttyUSB0, /dev/ttyUSB2"_s};
        QTest::newRow("no ports") << QList<PortInfo>() << "A50285BI" << ""
                                  << QStringList{u"no USB serial ports are present"_s};
        QTest::newRow("ports without numbers never match an empty one")
            << QList<PortInfo>{onboard} << "" << "" << QStringList{u"no USB serial ports"_s};
    }

    void serialNumber()
    {
        QFETCH(QList<PortInfo>, ports);
        QFETCH(QString, number);
        QFETCH(QString, location);
        QFETCH(QStringList, listed);
        const Expected<QString> match = match_serial_number(ports, number);
        QCOMPARE(match ? *match : QString(), location);
        QCOMPARE(match.ok(), !location.isEmpty());
        for (const QString &part : listed)
            QVERIFY2(match.message().contains(part), qPrintable(match.message()));
        QVERIFY2(!match.message().contains(QLatin1String("ttyS0")), qPrintable(match.message()));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_qvotarules.moc"
