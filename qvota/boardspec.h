// Where a board is: the board spec an operator writes for it, read into link settings, and the
// choice of a serial port by its USB serial number. Pure functions, so the rules can be
// checked as a table without hardware.
#pragma once

#include "linksettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qvota::cli {

struct BoardSpec
{
    QString label; // the board spec as written; names the board in every output
    bool serial = false;
    // uart: a device, or (when serialNumber is set) the port whose USB serial number it is.
    QString device;
    QString serialNumber;
    int baud = defaults::BAUD;
    // udp: the board's address without brackets; an empty bindAddress and a bindPort of 0 let
    // the system choose, so boards on one host never share a socket.
    QString address;
    quint16 port = defaults::BOARD_PORT;
    QString bindAddress;
    quint16 bindPort = 0;
};

// Reads udp:ADDRESS[:PORT][,bind=ADDRESS[:PORT]], uart:DEVICE[@BAUD] or
// uart:serial=NUMBER[@BAUD]; a failure names the board spec and its fault.
Expected<BoardSpec> parse_board_spec(const QString &text);

// One board spec per line; '#' starts a comment, blank lines are skipped. A fault names its line.
Expected<QList<BoardSpec>> parse_boards_file(const QString &content);

// The link of a board; for a uart:serial= board, port is the device its number resolved to.
LinkSettings link_settings(const BoardSpec &spec, const QString &port = {});

// A serial port as the system lists it.
struct PortInfo
{
    QString location; // "/dev/ttyUSB0", "COM7"
    QString serialNumber;
    QString description;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};

// The ports the system lists now.
QList<PortInfo> available_ports();

// Why the boards cannot run together, naming both boards: two specs that reach one board (the
// same address and port however spelt, one device through any symbolic link, one USB serial
// number in any case, a device and the serial number of its port), or two boards that bind one
// local address and port. Empty when every board is its own.
QString shared_board_problem(const QList<BoardSpec> &boards, const QList<PortInfo> &ports);

// A USB vendor or product id as four lower-case hex digits.
QString hex4(quint16 id);

// "ttyUSB0 (serial A50285BI, 0403:6001, FT232R USB UART)".
QString describe_port(const PortInfo &port);

// The port whose USB serial number is number (case aside: people copy them from labels).
// No match or more than one is refused; the message lists the ports that could have been meant.
Expected<QString> match_serial_number(const QList<PortInfo> &ports, const QString &number);

} // namespace qvota::cli
