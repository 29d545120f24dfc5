// The one rule for IP addresses typed by a user, for every front end: a text names exactly one
// address or is refused. Loose forms that the system's parsers take (a leading zero read as
// octal, "127.1", a bare 32-bit number, an IPv4-mapped IPv6 address) could name another board
// than the one the user meant.
#pragma once

#include "expected.h"

#include <QHostAddress>
#include <QString>

namespace qvota {

// Reads text as a literal address: IPv4 as four decimal numbers 0-255 without leading zeros,
// IPv6 in one of its standard text forms (groups of up to four hex digits, "::" once, a
// dotted IPv4 tail), never IPv4-mapped, without brackets, zone or blanks around it. The failure
// says which rule the text breaks, for example "not an IPv4 address (four numbers 0-255, no
// leading zeros)".
Expected<QHostAddress> read_ip_address(const QString &text);

// Why address cannot name one board, or empty: the unspecified address names none, and a
// broadcast (also the directed broadcast of a local network) or multicast address would erase
// every board that hears it.
QString board_address_problem(const QHostAddress &address);

// The address as one text for each address, whatever spelling it was read from: "::1" for
// "0::1", lower-case IPv6.
QString canonical_address(const QHostAddress &address);

} // namespace qvota
