#include "startconfig.h"

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

RunTexts start_texts(const QVariantMap &cfg)
{
    const auto text = [&cfg](const char *key, const QVariant &fallback = {}) {
        return cfg.value(QString::fromLatin1(key), fallback).toString();
    };
    RunTexts texts;
    texts.serial = text("transport") == QLatin1String("uart");
    SettingsFields &v = texts.values;
    v.port = port_name_from_entry(text("port"));
    v.baud = text("baud", defaults::BAUD);
    v.boardIp = text("ip", defaults::BOARD_IP);
    v.boardPort = text("udpPort", defaults::BOARD_PORT);
    v.hostIp = host_ip_from_entry(text("hostIp", defaults::HOST_IP));
    v.hostPort = text("hostPort", defaults::HOST_PORT);
    v.target = text("target");
    texts.warmBoot = cfg.value(QStringLiteral("warmBoot")).toBool();
    // The selector's empty entry means no target.
    texts.targetGiven = !v.target.isEmpty();
    return texts;
}

Expected<RunRequest> read_start_request(const QVariantMap &cfg)
{
    // The window has no retries setting: a run always takes the default.
    static const SettingsFields labels{
        QStringLiteral("serial port"), QStringLiteral("baud rate"), QStringLiteral("board IP"),
        QStringLiteral("board port"),  QStringLiteral("host IP"),   QStringLiteral("host port"),
        QStringLiteral("warm-boot target"), QString()};
    return read_run_settings(start_texts(cfg), labels);
}

} // namespace qvota
