// Runs the board simulator as a child process, so that a test can drive the real links
// against something that answers like the board's update firmware.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace qvota::test {

class BoardSim
{
public:
    BoardSim();
    // For code that is not compiled with QVOTA_SIM_EXE: runs the simulator at executable.
    explicit BoardSim(const QString &executable);
    ~BoardSim(); // stops the process if still running
    BoardSim(const BoardSim &) = delete;
    BoardSim &operator=(const BoardSim &) = delete;

    // Starts "serve --udp 127.0.0.1:0 --record <temp> <extraArgs>" and waits (<= 10 s) for
    // the ready line.
    bool startUdp(const QStringList &extraArgs = {});
    // Starts "serve --pty --record <temp> <extraArgs>" and waits for the ready line.
    bool startPty(const QStringList &extraArgs = {});
    quint16 udpPort() const; // the bound port, after startUdp
    QString ptyPath() const; // the slave path, after startPty
    // SIGTERM, wait for exit, return the parsed record (empty object on failure).
    QJsonObject stop();
    QString log() const; // everything the simulator wrote on stderr so far

    QString readyLine() const; // the ready line as printed, without its line end
    bool isRunning() const;
    // After stop(): true when the process ended by itself with exit code 0.
    bool exitedCleanly() const;

private:
    bool start(const QStringList &serveArgs);

    QString m_executable;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_readyLine;
    quint16 m_udpPort = 0;
    QString m_ptyPath;
    bool m_exitedCleanly = false;
};

// A list of integers from the record, such as "frames" or "erase".
QList<int> record_ints(const QJsonObject &record, const QString &key);
// 0, 1, ..., count - 1: the frame indices of a transfer without retries.
QList<int> index_range(int count);

// Packs plain into a container with the simulator's "pack" and returns the container bytes
// (empty on failure).
QByteArray pack_with_sim(const QByteArray &plain);
QByteArray pack_with_sim(const QByteArray &plain, const QString &executable);

// The test executables get the simulator's path as a compile definition; the support library
// itself is built without it, so the path is bound here, in the test's own translation unit.
#ifdef QVOTA_SIM_EXE
inline BoardSim::BoardSim()
    : BoardSim(QStringLiteral(QVOTA_SIM_EXE))
{}

inline QByteArray pack_with_sim(const QByteArray &plain)
{
    return pack_with_sim(plain, QStringLiteral(QVOTA_SIM_EXE));
}
#endif

} // namespace qvota::test
