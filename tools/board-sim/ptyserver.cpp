#include "ptyserver.h"

#include "posixwait.h"
#include "simlog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#ifdef Q_OS_LINUX
#    include <sys/prctl.h>
#endif
#ifdef Q_OS_MACOS
#    include <util.h>
#else
#    include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>

namespace qvota::sim {

namespace {

// Quiet time after which a half-received frame or command is dropped, like a UART receiver's
// idle time-out. A host writes a frame in one go, so only a broken frame leaves such a gap.
constexpr auto INPUT_GAP = std::chrono::milliseconds(100);
// A host that stops reading for this long loses the reply.
constexpr auto WRITE_TIMEOUT = std::chrono::seconds(2);

bool make_raw(int fd)
{
    termios attributes = {};
    if (::tcgetattr(fd, &attributes) != 0)
        return false;
    ::cfmakeraw(&attributes);
    return ::tcsetattr(fd, TCSANOW, &attributes) == 0;
}

} // namespace

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

PtyServer::PtyServer(ProtocolEngine &engine, const StopSignal &stop, int baud)
    : m_engine(engine)
    , m_stop(stop)
    , m_pacer(baud)
{
#ifdef Q_OS_LINUX
    // The kernel may defer a timed wake-up by 50 us by default; at 921600 baud that is five
    // byte times on every frame and again on every ack.
    if (m_pacer.enabled())
        ::prctl(PR_SET_TIMERSLACK, 1000UL);
#endif
}

PtyServer::~PtyServer()
{
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
}

bool PtyServer::open(const QString &linkPath, QString *error)
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        *error =
            QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_master.reset(master);
    m_slave.reset(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!make_raw(master) || !make_raw(slave)) {
        *error = QStringLiteral("cannot put the pty in raw mode");
        return false;
    }
    const char *name = ::ttyname(slave);
    if (!name) {
        *error = QStringLiteral("cannot name the pty slave");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);

    if (!linkPath.isEmpty()) {
        // A stale link from an earlier run would make the new one fail.
        if (QFileInfo(linkPath).isSymLink())
            QFile::remove(linkPath);
        if (!QFile::link(m_slavePath, linkPath)) {
            *error = QStringLiteral("cannot create the link %1").arg(linkPath);
            return false;
        }
        m_linkPath = linkPath;
    }
    return true;
}

void PtyServer::run(const std::function<void()> &afterInput)
{
    using Clock = StopSignal::Clock;
    auto lastInput = Clock::now();
    while (!m_stop.requested()) {
        auto deadline = Clock::time_point::max();
        if (!m_inFlight.empty())
            deadline = m_inFlight.front().due;
        else if (m_engine.hasPartialInput())
            deadline = lastInput + INPUT_GAP;

        std::vector<pollfd> fds{pollfd{m_stop.fd(), POLLIN, 0}};
        if (m_master.valid())
            fds.push_back(pollfd{m_master.get(), POLLIN, 0});
        if (poll_until(fds, deadline) < 0) {
            log_line(QStringLiteral("poll failed: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        if (m_stop.requested())
            return;
        if (fds.size() > 1 && fds[1].revents != 0 && !readMaster())
            hangUp();

        const auto now = Clock::now();
        bool fed = false;
        while (!m_inFlight.empty() && m_inFlight.front().due <= now && m_master.valid()) {
            const Chunk chunk = std::move(m_inFlight.front());
            m_inFlight.pop_front();
            lastInput = chunk.due;
            perform(m_engine.feedStream(chunk.bytes), chunk.due);
            fed = true;
        }
        if (fed && afterInput)
            afterInput();
        if (m_inFlight.empty() && m_engine.hasPartialInput() && now - lastInput >= INPUT_GAP)
            m_engine.inputIdle();
    }
}

bool PtyServer::readMaster()
{
    char buffer[4096];
    const ssize_t count = ::read(m_master.get(), buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (count <= 0)
        return false;
    const auto now = StopSignal::Clock::now();
    m_inFlight.push_back(Chunk{m_pacer.receiveDone(now, count), QByteArray(buffer, int(count))});
    return true;
}

void PtyServer::perform(const Actions &actions, StopSignal::Clock::time_point seen)
{
    // Replies are timed from when the input was complete on the wire, not from when this
    // process got round to it, so a late wake-up does not add to the board's turnaround.
    auto ready = seen;
    for (const Action &action : actions) {
        ready += std::chrono::milliseconds(action.delayMs);
        if (action.kind == Action::Kind::HangUp) {
            if (m_stop.sleepUntil(ready))
                hangUp();
            return;
        }
        // The host sees a reply once its last byte is through the wire, not before.
        const auto due = m_pacer.transmitDone(ready, action.bytes.size());
        if (!m_stop.sleepUntil(due) || !writeMaster(action.bytes))
            return;
    }
}

bool PtyServer::writeMaster(const QByteArray &bytes)
{
    const auto deadline = StopSignal::Clock::now() + WRITE_TIMEOUT;
    qsizetype done = 0;
    while (done < bytes.size() && m_master.valid()) {
        const ssize_t count =
            ::write(m_master.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (count > 0) {
            done += count;
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            break;
        std::vector<pollfd> fds{pollfd{m_master.get(), POLLOUT, 0}, pollfd{m_stop.fd(), POLLIN, 0}};
        if (poll_until(fds, deadline) <= 0 || m_stop.requested())
            break;
    }
    if (done < bytes.size()) {
        log_line(
            QStringLiteral("pty write: %1 of %2 reply byte(s) not delivered (host not reading)")
                .arg(bytes.size() - done)
                .arg(bytes.size()));
        return false;
    }
    return true;
}

void PtyServer::hangUp()
{
    if (!m_master.valid())
        return;
    // Closing both sides is what the host sees as the cable being pulled.
    m_master.reset();
    m_slave.reset();
    m_inFlight.clear();
    log_line(QStringLiteral("pty hung up; the link stays down until the simulator ends"));
}

} // namespace qvota::sim
