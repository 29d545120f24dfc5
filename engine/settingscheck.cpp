#include "settingscheck.h"

#include "ipaddress.h"
#include "runlines.h"

#include <QHostAddress>

#include <limits>

namespace qvota {

namespace {

QString port_problem(const QString &text, qint64 lowest)
{
    if (whole_number_in(text, lowest, 65535))
        return {};
    return QStringLiteral("not a port number (%1..65535)").arg(lowest);
}

QString board_ip_problem(const QString &text)
{
    const Expected<QHostAddress> address = read_ip_address(text);
    return address ? board_address_problem(*address) : address.message();
}

// An empty host text binds any local address of the board's family.
QString host_ip_problem(const QString &text)
{
    return text.isEmpty() ? QString() : read_ip_address(text).message();
}

QString shown(const QString &value)
{
    if (value.isEmpty() || value.contains(u' '))
        return u'\'' + value + u'\'';
    return value;
}

// Runs the checks in order and stops at the first field that fails.
class Checker
{
public:
    template<typename Check>
    void check(const QString &label, const QString &value, Check problemOf)
    {
        if (!m_problem.isEmpty() || label.isEmpty())
            return;
        if (const QString reason = problemOf(value); !reason.isEmpty())
            m_problem = label + u' ' + shown(value) + QLatin1String(": ") + reason;
    }

    void fail(const QString &problem)
    {
        if (m_problem.isEmpty())
            m_problem = problem;
    }

    QString problem() const { return m_problem; }

private:
    QString m_problem;
};

} // namespace

bool whole_number_in(const QString &text, qint64 lowest, qint64 highest)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const qint64 value = text.toLongLong();
    return value >= lowest && value <= highest;
}

QString settings_problem(bool serial, const SettingsFields &t, const SettingsFields &l)
{
    Checker checker;
    if (serial) {
        checker.check(l.port, t.port, [](const QString &port) {
            return port.trimmed().isEmpty() ? QStringLiteral("no serial port named") : QString();
        });
        checker.check(l.baud, t.baud, [](const QString &baud) {
            return whole_number_in(baud, 1, std::numeric_limits<int>::max())
                ? QString()
                : QStringLiteral("not a baud rate (a whole number above 0)");
        });
    } else {
        checker.check(l.boardIp, t.boardIp, board_ip_problem);
        checker.check(l.boardPort, t.boardPort, [](const QString &port) { return port_problem(port, 1); });
        checker.check(l.hostIp, t.hostIp, host_ip_problem);
        // 0 lets the system choose the local port, which is sound: the board answers the sender.
        checker.check(l.hostPort, t.hostPort, [](const QString &port) { return port_problem(port, 0); });
        if (!l.boardIp.isEmpty() && !l.hostIp.isEmpty() && !t.hostIp.isEmpty()
            && QHostAddress(t.boardIp).protocol() != QHostAddress(t.hostIp).protocol()) {
            checker.fail(QStringLiteral("%1 %2 and %3 %4: not of the same IP family")
                             .arg(l.boardIp, t.boardIp, l.hostIp, t.hostIp));
        }
    }
    // The board knows two images; any other text would go to it raw and boot who knows what.
    checker.check(l.target, t.target, [](const QString &target) {
        return target.isEmpty() || target == QLatin1String("1") || target == QLatin1String("2")
            ? QString()
            : QStringLiteral("not a warm-boot target (1 or 2)");
    });
    checker.check(l.retries, t.retries, [](const QString &retries) {
        return whole_number_in(retries, 1, MAX_RETRIES)
            ? QString()
            : QStringLiteral("not a number of tries (1..%1)").arg(MAX_RETRIES);
    });
    return checker.problem();
}

Expected<RunRequest> read_run_settings(const RunTexts &texts, const SettingsFields &labels)
{
    const SettingsFields &v = texts.values;
    if (QString problem = settings_problem(texts.serial, v, labels); !problem.isEmpty())
        return Failure::refused(problem);
    RunRequest request;
    LinkSettings &link = request.link;
    link.serial = texts.serial;
    const auto use = [](const QString &label, const QString &text, auto &field, auto read) {
        if (!label.isEmpty())
            field = read(text);
    };
    const auto toInt = [](const QString &text) { return text.toInt(); };
    const auto toPort = [](const QString &text) { return quint16(text.toUInt()); };
    const auto same = [](const QString &text) { return text; };
    if (link.serial) {
        use(labels.port, v.port, link.portName, same);
        use(labels.baud, v.baud, link.baudRate, toInt);
    } else {
        use(labels.boardIp, v.boardIp, link.boardIp, same);
        use(labels.boardPort, v.boardPort, link.boardPort, toPort);
        use(labels.hostIp, v.hostIp, link.hostIp, same);
        use(labels.hostPort, v.hostPort, link.hostPort, toPort);
    }
    use(labels.target, v.target, request.flow.target, same);
    use(labels.retries, v.retries, request.flow.retries, toInt);
    // Naming a target asks for the warm boot; the switch only matters without one.
    request.flow.warmBoot = texts.warmBoot || texts.targetGiven;
    return request;
}

QString link_line(const RunTexts &texts)
{
    const SettingsFields &v = texts.values;
    return texts.serial ? serial_link_line(v.port, v.baud)
                        : udp_link_line(v.boardIp, v.boardPort, v.hostIp, v.hostPort);
}

} // namespace qvota
