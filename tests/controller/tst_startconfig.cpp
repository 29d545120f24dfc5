// The start configuration map's rules, and the link and flow configuration a map selects.
#include "otacontroller.h"
#include "seriallink.h"
#include "startconfig.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

class TestStartConfig : public QObject
{
    Q_OBJECT

private slots:
    void readStartSettings_data();
    void readStartSettings();
    void linkAndFlowConfig_data();
    void linkAndFlowConfig();
    void portAndAddressLists();
    void windowFieldsChecked();
};

void TestStartConfig::readStartSettings_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    QTest::addColumn<QString>("changed"); // the fields that differ from the defaults, or the refusal

    const QVariantMap uart{{u"transport"_s, u"uart"_s}, {u"port"_s, u"COM35"_s}};
    QTest::newRow("empty map: defaults") << QVariantMap{} << u""_s;
    QTest::newRow("uart") << uart << u"uart=1"_s;
    QTest::newRow("UART is UDP") << QVariantMap{{u"transport"_s, u"UART"_s}} << u""_s;
    QTest::newRow("empty transport is UDP") << QVariantMap{{u"transport"_s, u""_s}} << u""_s;
    QTest::newRow("port entry") << QVariantMap{{u"transport"_s, u"uart"_s}, {u"port"_s, u"COM7 - USB Serial"_s}}
                                << u"uart=1 port=COM7"_s;
    QTest::newRow("hostIp entry") << QVariantMap{{u"hostIp"_s, u"Wi-Fi - 10.0.0.5"_s}}
                                  << u"hostIp=10.0.0.5"_s;
    QTest::newRow("hostIp last separator")
        << QVariantMap{{u"hostIp"_s, u"a - b - 10.0.0.7"_s}} << u"hostIp=10.0.0.7"_s;
    QTest::newRow("hostIp trimmed")
        << QVariantMap{{u"hostIp"_s, u" 10.0.0.9 "_s}} << u"hostIp=10.0.0.9"_s;
    // Values that a reading would have to narrow are refused instead.
    QTest::newRow("baud abc") << QVariantMap{{u"transport"_s, u"uart"_s}, {u"port"_s, u"COM7"_s}, {u"baud"_s, u"abc"_s}}
                              << u"refused: baud rate abc: not a baud rate (a whole number above 0)"_s;
    QTest::newRow("udpPort beyond 16 bits") << QVariantMap{{u"udpPort"_s, 70000}}
                                            << u"refused: board port 70000: not a port number (1..65535)"_s;
    QTest::newRow("target implies warm boot")
        << QVariantMap{{u"target"_s, u"2"_s}, {u"warmBoot"_s, false}} << u"target=2 warm=1"_s;
    QTest::newRow("warm boot without target") << QVariantMap{{u"warmBoot"_s, true}} << u"warm=1"_s;
}

void TestStartConfig::readStartSettings()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(QString, changed);
    const qvota::Expected<qvota::RunRequest> request = qvota::read_start_request(cfg);
    if (changed.startsWith(u"refused: "_s)) {
        QCOMPARE(request.message(), changed.mid(9));
        return;
    }
    QVERIFY2(request, qPrintable(request.message()));
    QStringList expected =
        u"uart=0 target= warm=0 port=COM35 baud=115200 ip=192.168.0.100 "
        "udpPort=7777 hostIp=192.168.0.3 hostPort=6666"_s.split(QLatin1Char(' '));
    for (const QString &f : changed.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        expected.replaceInStrings(QRegularExpression(QLatin1Char('^')
                                                     + f.section(QLatin1Char('='), 0, 0)
                                                     + QLatin1String("=.*")),
                                  f);
    const qvota::LinkSettings &s = request->link;
    const auto n = [](int value) { return QString::number(value); };
    QCOMPARE(QStringList({u"uart="_s + n(s.serial), u"target="_s + request->flow.target,
                          u"warm="_s + n(request->flow.warmBoot), u"port="_s + s.portName,
                          u"baud="_s + n(s.baudRate), u"ip="_s + s.boardIp,
                          u"udpPort="_s + n(s.boardPort), u"hostIp="_s + s.hostIp,
                          u"hostPort="_s + n(s.hostPort)}),
             expected);
}

void TestStartConfig::linkAndFlowConfig_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("serial"); // the serial row also names a target
    // User texts holding '%' must never be taken for placeholders of the line.
    QTest::newRow("serial") << QVariantMap{{u"transport"_s, u"uart"_s},
                                           {u"port"_s, u"%2"_s},
                                           {u"target"_s, u"2"_s}}
                            << u"opened %2 @115200"_s << true;
    QTest::newRow("udp") << QVariantMap{{u"ip"_s, u"%3"_s}, {u"hostIp"_s, u"%1"_s}}
                         << u"udp %3:7777 <- %1:6666"_s << false;
}

void TestStartConfig::linkAndFlowConfig()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(QString, line);
    QFETCH(bool, serial);
    QCOMPARE(qvota::link_line(qvota::start_texts(cfg)), line);
    // The texts that name the link here are no addresses; the serial row is a well-formed run.
    const qvota::Expected<qvota::RunRequest> request = qvota::read_start_request(cfg);
    QCOMPARE(request.ok(), serial);
    if (!serial)
        return;
    const std::unique_ptr<qvota::Link> link = qvota::make_link(request->link);
    QVERIFY(dynamic_cast<qvota::SerialLink *>(link.get()) != nullptr);
    QCOMPARE(request->flow.target, u"2"_s);
    QVERIFY(request->flow.warmBoot);
}

void TestStartConfig::portAndAddressLists()
{
    // The window offers these entries, and start() must be able to take them apart again.
    const qvota::OtaController controller;
    const QStringList addresses = controller.hostAddresses();
    static const QRegularExpression entry(QStringLiteral("^.+ - \\d+\\.\\d+\\.\\d+\\.\\d+$"));
    for (const QString &address : addresses) {
        QVERIFY2(entry.match(address).hasMatch(), qPrintable(address));
        QVERIFY2(!address.endsWith(QLatin1String(" - 127.0.0.1")), qPrintable(address));
        QVERIFY(!qvota::host_ip_from_entry(address).contains(QLatin1Char(' ')));
    }
    QStringList sorted = addresses;
    sorted.sort(Qt::CaseSensitive);
    QCOMPARE(addresses, sorted);

    const QStringList ports = controller.serialPorts();
    sorted = ports;
    sorted.sort(Qt::CaseSensitive);
    QCOMPARE(ports, sorted);
    for (const QString &port : ports)
        QVERIFY(!qvota::port_name_from_entry(port).isEmpty());
}

void TestStartConfig::windowFieldsChecked()
{
    // What the window sends for a well-filled card passes, and so does a map that leaves keys to
    // their defaults; each bad field is named with its value.
    const QVariantMap udp{{u"transport"_s, u"udp"_s},      {u"ip"_s, u"127.0.0.1"_s},
                          {u"udpPort"_s, 7777},             {u"hostIp"_s, u"lo - 127.0.0.1"_s},
                          {u"hostPort"_s, 0},               {u"target"_s, u"2"_s}};
    const QVariantMap uart{{u"transport"_s, u"uart"_s},
                           {u"port"_s, u"ttyUSB0 - USB Serial"_s},
                           {u"baud"_s, 115200}};
    QCOMPARE(qvota::read_start_request(udp).message(), QString());
    QCOMPARE(qvota::read_start_request(uart).message(), QString());
    QCOMPARE(qvota::read_start_request({}).message(), QString());

    const auto with = [](QVariantMap map, const QString &key, const QVariant &value) {
        map.insert(key, value);
        return qvota::read_start_request(map).message();
    };
    QCOMPARE(with(udp, u"udpPort"_s, 121192), u"board port 121192: not a port number (1..65535)"_s);
    QCOMPARE(with(udp, u"target"_s, u"3"_s), u"warm-boot target 3: not a warm-boot target (1 or 2)"_s);
    QCOMPARE(with(udp, u"hostIp"_s, u"lo - ::1"_s),
             u"board IP 127.0.0.1 and host IP ::1: not of the same IP family"_s);
    // An empty Host Adapter list binds any local address; a loose address is no address.
    QCOMPARE(with(udp, u"hostIp"_s, u""_s), QString());
    QCOMPARE(with(udp, u"ip"_s, u"127.1"_s),
             u"board IP 127.1: not an IPv4 address (four numbers 0-255, no leading zeros)"_s);
    QCOMPARE(with(udp, u"ip"_s, u"255.255.255.255"_s),
             u"board IP 255.255.255.255: a broadcast address reaches every board on the network"_s);
    QCOMPARE(with(uart, u"baud"_s, 0), u"baud rate 0: not a baud rate (a whole number above 0)"_s);
    QCOMPARE(with(uart, u"port"_s, u" ttyUSB0"_s), u"serial port '': no serial port named"_s);
}

QTEST_APPLESS_MAIN(TestStartConfig)
#include "tst_startconfig.moc"
