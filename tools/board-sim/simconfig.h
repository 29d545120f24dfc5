// The settings of "serve": where to listen, how fast the simulated board is, and which
// faults it injects.
#pragma once

#include <QString>
#include <QStringList>

namespace qvota::sim {

struct FaultConfig
{
    int silentIdentify = 0;    // the first N "j" get no answer
    int noiseLines = 0;        // text lines sent before each JEDEC line
    QString eraseReply;        // sent instead of READY when not empty
    bool noEraseReply = false; // nothing at all after "U"
    int dropAck = -1;          // this frame's first ack is lost
    int neverAck = -1;         // this frame is never stored nor acked
    int strayAfter = -1;       // stray non-ack bytes follow this frame's ack
    bool rxdoneInsteadOfLastAck = false;
    bool badRxCrc = false;
    bool badImgCrc = false;
    bool noRxdone = false;
    bool noBanner = false;
    bool doubleBanner = false;
    int dropLinkAt = -1; // the link dies when this frame arrives
    int resetAt = -1;    // the board reboots when this frame arrives
};

struct SimConfig
{
    enum class Transport { Udp, Pty };

    Transport transport = Transport::Udp;
    QString udpAddress = QStringLiteral("127.0.0.1");
    quint16 udpPort = 7777;
    QString ptyLink; // symlink to the pty slave, when not empty
    QString jedecId = QStringLiteral("C86018");
    int eraseMs = 50;
    int readbackMs = 20;
    int latencyMs = 0;
    int baud = 0; // 0: the pty is not paced
    QString recordPath;
    FaultConfig faults;
};

// Parses the arguments that follow "serve". Returns false and sets error on a bad argument.
bool parse_serve_args(const QStringList &args, SimConfig *config, QString *error);

// The usage text printed for --help and after a bad command line.
QString usage_text();

} // namespace qvota::sim
