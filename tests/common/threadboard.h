// A board played by a thread of the test process over UDP on 127.0.0.1: it answers the update
// protocol one datagram per command or frame and reports the CRC that the container's header
// states, as a board that decrypted it would. It involves no child process, so ThreadSanitizer
// can watch a run, and it can hold back one acknowledgement until the test lets it go, so that a
// cancel lands at a known frame however slow the machine is.
#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qvota::test {

class ThreadBoard
{
public:
    ThreadBoard();
    ~ThreadBoard();
    ThreadBoard(const ThreadBoard &) = delete;
    ThreadBoard &operator=(const ThreadBoard &) = delete;

    // A step after which the board says nothing, so the host sits in that step's wait.
    enum class Quiet { Never, Identify, Erase, RxDone, Readback };

    quint16 port() const { return m_port.load(); }
    void keepQuietAt(Quiet step) { m_quiet.store(step); }
    // The next arrival of this frame waits for release() before it is acknowledged, or, with
    // releaseAfterMs >= 0, at most that long: for a test whose thread is blocked meanwhile.
    void holdAckOf(int frame, int releaseAfterMs = -1);
    // Blocks until the held frame has arrived (false after timeoutMs).
    bool waitUntilHolding(int timeoutMs);
    void release();
    // Frames received so far, retries included.
    int framesSeen() const { return m_frames.load(); }

private:
    void serve();
    void holdIfAsked(int index);

    std::atomic<quint16> m_port{0};
    std::atomic<Quiet> m_quiet{Quiet::Never};
    std::atomic_bool m_stop{false};
    std::atomic_int m_frames{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_holdAt = -1;
    int m_releaseAfterMs = -1;
    bool m_holding = false;
    bool m_released = false;
    std::thread m_thread;
};

} // namespace qvota::test
