#include "startconfig.h"

#include "imagefile.h"

namespace qvota {

QString port_name_from_entry(const QString &entry)
{
    return entry.section(QLatin1Char(' '), 0, 0).trimmed();
}

QString host_ip_from_entry(const QString &entry)
{
    static const QLatin1String separator(" - ");
    const qsizetype at = entry.lastIndexOf(separator);
    return (at < 0 ? entry : entry.mid(at + separator.size())).trimmed();
}

StartSettings read_start_settings(const QVariantMap &cfg)
{
    StartSettings s;
    s.serial = cfg.value(QStringLiteral("transport")).toString() == QLatin1String("uart");
    s.file = cfg.value(QStringLiteral("file")).toString();
    s.target = cfg.value(QStringLiteral("target")).toString();
    // Naming a target implies the warm boot; the switch only matters without one.
    s.warmBoot = !s.target.isEmpty() || cfg.value(QStringLiteral("warmBoot")).toBool();
    s.portName = port_name_from_entry(cfg.value(QStringLiteral("port")).toString());
    s.baudRate = cfg.value(QStringLiteral("baud"), s.baudRate).toInt();
    s.boardIp = cfg.value(QStringLiteral("ip"), s.boardIp).toString();
    s.boardPort = static_cast<quint16>(cfg.value(QStringLiteral("udpPort"), s.boardPort).toInt());
    s.hostIp = host_ip_from_entry(cfg.value(QStringLiteral("hostIp"), s.hostIp).toString());
    s.hostPort = static_cast<quint16>(cfg.value(QStringLiteral("hostPort"), s.hostPort).toInt());
    return s;
}

QString start_settings_problem(const QVariantMap &cfg)
{
    const auto text = [&cfg](const char *key, const QVariant &fallback = {}) {
        return cfg.value(QString::fromLatin1(key), fallback).toString();
    };
    const StartSettings defaults;
    SettingsFields texts;
    texts.port = port_name_from_entry(text("port"));
    texts.baud = text("baud", defaults.baudRate);
    texts.boardIp = text("ip", defaults.boardIp);
    texts.boardPort = text("udpPort", defaults.boardPort);
    texts.hostIp = host_ip_from_entry(text("hostIp", defaults.hostIp));
    texts.hostPort = text("hostPort", defaults.hostPort);
    texts.target = text("target");
    // The window has no retries setting: a run always takes the default.
    static const SettingsFields labels{
        QStringLiteral("serial port"), QStringLiteral("baud rate"), QStringLiteral("board IP"),
        QStringLiteral("board port"),  QStringLiteral("host IP"),   QStringLiteral("host port"),
        QStringLiteral("warm-boot target"), QString()};
    return settings_problem(text("transport") == QLatin1String("uart"), texts, labels);
}

QString link_log_line(const StartSettings &s)
{
    if (s.serial)
        return serial_link_line(s.portName, QString::number(s.baudRate));
    return udp_link_line(s.boardIp, QString::number(s.boardPort), s.hostIp,
                         QString::number(s.hostPort));
}

OtaConfig make_ota_config(const StartSettings &settings, const QVariantMap &containerInfo)
{
    OtaConfig config;
    config.expectedCrc32 = expected_crc32(containerInfo);
    config.target = settings.target;
    config.warmBoot = settings.warmBoot;
    return config;
}

} // namespace qvota
