// The start configuration map's rules: defaults, conversions, list-entry extraction, and the
// link each map selects.
#include "seriallink.h"
#include "startconfig.h"
#include "udplink.h"

#include <QTest>

using qvota::StartSettings;

namespace {

// Every field as a map, so a row can state only what differs from the defaults and the
// comparison still covers all fields.
QVariantMap fields(const StartSettings &s)
{
    return {{"serial", s.serial},     {"file", s.file},           {"target", s.target},
            {"warmBoot", s.warmBoot}, {"portName", s.portName},   {"baudRate", s.baudRate},
            {"boardIp", s.boardIp},   {"boardPort", s.boardPort}, {"hostIp", s.hostIp},
            {"hostPort", s.hostPort}};
}

} // namespace

class TestStartConfig : public QObject
{
    Q_OBJECT

private slots:
    void portNameFromEntry_data();
    void portNameFromEntry();
    void hostIpFromEntry_data();
    void hostIpFromEntry();
    void readStartSettings_data();
    void readStartSettings();
    void linkForSettings_data();
    void linkForSettings();
    void otaConfig_data();
    void otaConfig();
};

void TestStartConfig::portNameFromEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("port");

    QTest::newRow("name - description") << "COM3 - USB Serial Device"
                                        << "COM3";
    QTest::newRow("bare name") << "COM7"
                               << "COM7";
    QTest::newRow("leading space gives nothing") << " COM7"
                                                 << "";
    QTest::newRow("unix device") << "ttyUSB0 - CP2102"
                                 << "ttyUSB0";
    QTest::newRow("tab is not a separator, trimmed at the end") << "COM9\t"
                                                                << "COM9";
    QTest::newRow("empty") << ""
                           << "";
}

void TestStartConfig::portNameFromEntry()
{
    QFETCH(QString, entry);
    QFETCH(QString, port);
    QCOMPARE(qvota::port_name_from_entry(entry), port);
}

void TestStartConfig::hostIpFromEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("ip");

    QTest::newRow("interface - address") << "Wi-Fi - 10.0.0.5"
                                         << "10.0.0.5";
    QTest::newRow("last separator wins") << "a - b - 10.0.0.7"
                                         << "10.0.0.7";
    QTest::newRow("no separator, trimmed") << " 10.0.0.9 "
                                           << "10.0.0.9";
    QTest::newRow("hyphen without blanks is no separator") << "Wi-Fi"
                                                           << "Wi-Fi";
    QTest::newRow("separator at the end") << "eth0 - "
                                          << "";
    QTest::newRow("blanks after separator trimmed") << "eth0 -  127.0.0.1 "
                                                    << "127.0.0.1";
}

void TestStartConfig::hostIpFromEntry()
{
    QFETCH(QString, entry);
    QFETCH(QString, ip);
    QCOMPARE(qvota::host_ip_from_entry(entry), ip);
}

void TestStartConfig::readStartSettings_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    // Fields that differ from the defaults of an empty map.
    QTest::addColumn<QVariantMap>("changed");

    QTest::newRow("empty map: UDP defaults") << QVariantMap{} << QVariantMap{};
    QTest::newRow("unknown keys ignored")
        << QVariantMap{{"retries", 7}, {"Transport", "uart"}} << QVariantMap{};

    QTest::newRow("uart selects serial")
        << QVariantMap{{"transport", "uart"}} << QVariantMap{{"serial", true}};
    QTest::newRow("UART is case-sensitive") << QVariantMap{{"transport", "UART"}} << QVariantMap{};
    QTest::newRow("empty transport is UDP") << QVariantMap{{"transport", ""}} << QVariantMap{};
    QTest::newRow("udp") << QVariantMap{{"transport", "udp"}} << QVariantMap{};

    QTest::newRow("baud absent") << QVariantMap{{"transport", "uart"}}
                                 << QVariantMap{{"serial", true}, {"baudRate", 115200}};
    QTest::newRow("baud abc") << QVariantMap{{"baud", "abc"}} << QVariantMap{{"baudRate", 0}};
    QTest::newRow("baud empty text") << QVariantMap{{"baud", ""}} << QVariantMap{{"baudRate", 0}};
    QTest::newRow("baud as text") << QVariantMap{{"baud", "9600"}}
                                  << QVariantMap{{"baudRate", 9600}};
    QTest::newRow("baud as double")
        << QVariantMap{{"baud", 921600.0}} << QVariantMap{{"baudRate", 921600}};

    QTest::newRow("udpPort 70000 narrowed")
        << QVariantMap{{"udpPort", 70000}} << QVariantMap{{"boardPort", 4464}};
    QTest::newRow("hostPort 70000 as text narrowed")
        << QVariantMap{{"hostPort", "70000"}} << QVariantMap{{"hostPort", 4464}};
    QTest::newRow("hostPort -1 wraps")
        << QVariantMap{{"hostPort", -1}} << QVariantMap{{"hostPort", 65535}};
    QTest::newRow("udpPort empty text is 0")
        << QVariantMap{{"udpPort", ""}} << QVariantMap{{"boardPort", 0}};
    QTest::newRow("hostPort 0 kept")
        << QVariantMap{{"hostPort", 0}} << QVariantMap{{"hostPort", 0}};

    QTest::newRow("ip used unchanged")
        << QVariantMap{{"ip", " 10.0.0.9 "}} << QVariantMap{{"boardIp", " 10.0.0.9 "}};
    QTest::newRow("empty ip stays empty")
        << QVariantMap{{"ip", ""}} << QVariantMap{{"boardIp", ""}};
    QTest::newRow("hostIp from list entry")
        << QVariantMap{{"hostIp", "Wi-Fi - 10.0.0.5"}} << QVariantMap{{"hostIp", "10.0.0.5"}};
    QTest::newRow("hostIp trimmed")
        << QVariantMap{{"hostIp", " 10.0.0.9 "}} << QVariantMap{{"hostIp", "10.0.0.9"}};

    QTest::newRow("port from list entry")
        << QVariantMap{{"port", "COM7 - USB Serial"}} << QVariantMap{{"portName", "COM7"}};
    QTest::newRow("port with leading space")
        << QVariantMap{{"port", " COM7"}} << QVariantMap{{"portName", ""}};

    QTest::newRow("file used unchanged")
        << QVariantMap{{"file", " dir/a b.qvbit "}} << QVariantMap{{"file", " dir/a b.qvbit "}};

    QTest::newRow("target implies warm boot") << QVariantMap{{"target", "2"}, {"warmBoot", false}}
                                              << QVariantMap{{"target", "2"}, {"warmBoot", true}};
    QTest::newRow("warm boot without target")
        << QVariantMap{{"target", ""}, {"warmBoot", true}} << QVariantMap{{"warmBoot", true}};
    QTest::newRow("warmBoot as text true")
        << QVariantMap{{"warmBoot", "true"}} << QVariantMap{{"warmBoot", true}};
    QTest::newRow("warmBoot as text false") << QVariantMap{{"warmBoot", "false"}} << QVariantMap{};
    QTest::newRow("target blank is still a target")
        << QVariantMap{{"target", " "}} << QVariantMap{{"target", " "}, {"warmBoot", true}};
}

void TestStartConfig::readStartSettings()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(QVariantMap, changed);

    QVariantMap expected = fields(StartSettings{});
    QCOMPARE(expected.value("baudRate").toInt(), 115200);
    QCOMPARE(expected.value("boardIp").toString(), QString("192.168.0.100"));
    QCOMPARE(expected.value("boardPort").toInt(), 7777);
    QCOMPARE(expected.value("hostIp").toString(), QString("192.168.0.3"));
    QCOMPARE(expected.value("hostPort").toInt(), 6666);
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        QVERIFY2(expected.contains(it.key()), qPrintable(it.key()));
        expected[it.key()] = it.value();
    }

    const QVariantMap actual = fields(qvota::read_start_settings(cfg));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(actual.value(it.key()).toString(), it.value().toString());
}

void TestStartConfig::linkForSettings_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("line");

    QTest::newRow("serial") << QVariantMap{{"transport", "uart"},
                                           {"port", "COM3 - USB Serial Device"},
                                           {"baud", "abc"}}
                            << true << "opened COM3 @0";
    QTest::newRow("udp defaults") << QVariantMap{} << false
                                  << "udp 192.168.0.100:7777 <- 192.168.0.3:6666";
    QTest::newRow("udp narrowed ports") << QVariantMap{{"transport", "udp"},
                                                       {"ip", "127.0.0.1"},
                                                       {"udpPort", 70000},
                                                       {"hostIp", "lo - 127.0.0.1"},
                                                       {"hostPort", "65537"}}
                                        << false << "udp 127.0.0.1:4464 <- 127.0.0.1:1";
    // Texts from the user are never taken for placeholders of the line.
    QTest::newRow("percent in port name")
        << QVariantMap{{"transport", "uart"}, {"port", "%2"}} << true << "opened %2 @115200";
    QTest::newRow("percent in addresses")
        << QVariantMap{{"ip", "%3"}, {"hostIp", "%1"}} << false << "udp %3:7777 <- %1:6666";
}

void TestStartConfig::linkForSettings()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(bool, serial);
    QFETCH(QString, line);

    const StartSettings settings = qvota::read_start_settings(cfg);
    QCOMPARE(qvota::link_log_line(settings), line);
    const std::unique_ptr<qvota::Link> link = qvota::make_link(settings);
    QVERIFY(link);
    QCOMPARE(dynamic_cast<qvota::SerialLink *>(link.get()) != nullptr, serial);
    QCOMPARE(dynamic_cast<qvota::UdpLink *>(link.get()) != nullptr, !serial);
}

void TestStartConfig::otaConfig_data()
{
    QTest::addColumn<QVariantMap>("cfg");
    QTest::addColumn<QString>("crcText");
    QTest::addColumn<quint32>("crc");
    QTest::addColumn<bool>("warmBoot");
    QTest::addColumn<QString>("target");

    QTest::newRow("no warm boot") << QVariantMap{} << "CBF43926" << 0xCBF43926u << false << "";
    QTest::newRow("leading zeros") << QVariantMap{} << "0000ABCD" << 0xABCDu << false << "";
    QTest::newRow("all ones") << QVariantMap{} << "FFFFFFFF" << 0xFFFFFFFFu << false << "";
    QTest::newRow("target 2, switch off")
        << QVariantMap{{"target", "2"}, {"warmBoot", false}} << "00000000" << 0u << true << "2";
    QTest::newRow("switch on, no target")
        << QVariantMap{{"warmBoot", true}} << "00000001" << 1u << true << "";
}

void TestStartConfig::otaConfig()
{
    QFETCH(QVariantMap, cfg);
    QFETCH(QString, crcText);
    QFETCH(quint32, crc);
    QFETCH(bool, warmBoot);
    QFETCH(QString, target);

    const QVariantMap info{{"size", 1}, {"containerSize", 37}, {"crc32", crcText}};
    const qvota::OtaConfig config = qvota::make_ota_config(qvota::read_start_settings(cfg), info);
    QCOMPARE(config.expectedCrc32, crc);
    QCOMPARE(config.warmBoot, warmBoot);
    QCOMPARE(config.target, target);

    // No key reaches the other fields: they keep the flow's defaults.
    const qvota::OtaConfig defaults;
    QCOMPARE(config.retries, defaults.retries);
    QCOMPARE(config.eraseTimeoutMs, defaults.eraseTimeoutMs);
    QCOMPARE(config.bannerWindowMs, defaults.bannerWindowMs);
    QCOMPARE(config.skipReopen, defaults.skipReopen);
    QCOMPARE(config.onChipDecrypt, defaults.onChipDecrypt);
}

QTEST_APPLESS_MAIN(TestStartConfig)
#include "tst_startconfig.moc"
