// The start configuration map's rules, and the link and flow configuration a map selects.
#include "otacontroller.h"
#include "seriallink.h"
#include "startconfig.h"

#include <QRegularExpression>
#include <QTest>

class TestStartConfig : public QObject
{
    Q_OBJECT

private slots:
    void readStartSettings_data();
    void readStartSettings();
    void linkAndFlowConfig_data();
    void linkAndFlowConfig();
    void portAndAddressLists();
};

void TestStartConfig::readStartSettings_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    QTest::addColumn<QString>("changed"); // the fields that differ from the defaults

    QTest::newRow("empty map: defaults") << QVariantMap{} << "";
    QTest::newRow("uart") << QVariantMap{{"transport", "uart"}} << "uart=1";
    QTest::newRow("UART is UDP") << QVariantMap{{"transport", "UART"}} << "";
    QTest::newRow("empty transport is UDP") << QVariantMap{{"transport", ""}} << "";
    QTest::newRow("port entry") << QVariantMap{{"port", "COM7 - USB Serial"}} << "port=COM7";
    QTest::newRow("port leading blank") << QVariantMap{{"port", " COM7"}} << "";
    QTest::newRow("hostIp entry") << QVariantMap{{"hostIp", "Wi-Fi - 10.0.0.5"}}
                                  << "hostIp=10.0.0.5";
    QTest::newRow("hostIp last separator")
        << QVariantMap{{"hostIp", "a - b - 10.0.0.7"}} << "hostIp=10.0.0.7";
    QTest::newRow("hostIp trimmed") << QVariantMap{{"hostIp", " 10.0.0.9 "}} << "hostIp=10.0.0.9";
    QTest::newRow("baud abc") << QVariantMap{{"baud", "abc"}} << "baud=0";
    QTest::newRow("baud empty") << QVariantMap{{"baud", ""}} << "baud=0";
    QTest::newRow("udpPort narrowed") << QVariantMap{{"udpPort", 70000}} << "udpPort=4464";
    QTest::newRow("target implies warm boot")
        << QVariantMap{{"target", "2"}, {"warmBoot", false}} << "target=2 warm=1";
    QTest::newRow("warm boot without target") << QVariantMap{{"warmBoot", true}} << "warm=1";
}

void TestStartConfig::readStartSettings()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(QString, changed);
    QStringList expected = QString("uart=0 target= warm=0 port= baud=115200 ip=192.168.0.100 "
                                   "udpPort=7777 hostIp=192.168.0.3 hostPort=6666")
                               .split(' ');
    for (const QString &f : changed.split(' ', Qt::SkipEmptyParts))
        expected.replaceInStrings(QRegularExpression('^' + f.section('=', 0, 0) + "=.*"), f);
    const qvota::StartSettings s = qvota::read_start_settings(cfg);
    const auto n = [](int value) { return QString::number(value); };
    QCOMPARE(QStringList({"uart=" + n(s.serial), "target=" + s.target, "warm=" + n(s.warmBoot),
                          "port=" + s.portName, "baud=" + n(s.baudRate), "ip=" + s.boardIp,
                          "udpPort=" + n(s.boardPort), "hostIp=" + s.hostIp,
                          "hostPort=" + n(s.hostPort)}),
             expected);
}

void TestStartConfig::linkAndFlowConfig_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("serial"); // the serial row also names a target
    // User texts holding '%' must never be taken for placeholders of the line.
    QTest::newRow("serial") << QVariantMap{{"transport", "uart"}, {"port", "%2"}, {"target", "2"}}
                            << "opened %2 @115200" << true;
    QTest::newRow("udp") << QVariantMap{{"ip", "%3"}, {"hostIp", "%1"}} << "udp %3:7777 <- %1:6666"
                         << false;
}

void TestStartConfig::linkAndFlowConfig()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(QString, line);
    QFETCH(bool, serial);
    const qvota::StartSettings settings = qvota::read_start_settings(cfg);
    QCOMPARE(qvota::link_log_line(settings), line);
    const std::unique_ptr<qvota::Link> link = qvota::make_link(settings);
    QCOMPARE(dynamic_cast<qvota::SerialLink *>(link.get()) != nullptr, serial);

    const qvota::OtaConfig config = qvota::make_ota_config(settings, {{"crc32", "0000ABCD"}});
    QCOMPARE(config.expectedCrc32, 0xABCDu);
    QCOMPARE(config.target, QString(serial ? "2" : ""));
    QCOMPARE(config.warmBoot, serial);
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

QTEST_APPLESS_MAIN(TestStartConfig)
#include "tst_startconfig.moc"
