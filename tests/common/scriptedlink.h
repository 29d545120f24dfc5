// A scripted in-memory stand-in for the board behind a Link. Tests queue the board's replies per
// command; the fake records every write and every read request and answers a read of an empty
// input with an immediate time-out, so a whole update runs in milliseconds without sleeping.
#pragma once

#include "link.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace qvota::test {

class ScriptedLink : public Link
{
public:
    // How readLine cuts the queued input, after the two real links.
    enum class LineMode {
        // Up to the first LF, CR dropped. Without a queued LF the read times out and the
        // partial line is lost; a time-out of 0 or less fails at once.
        Serial,
        // Everything queued, with every CR and LF removed wherever it stands; queued bytes are
        // delivered whatever the time-out.
        Udp,
    };

    enum class ReadKind { Byte, Line };

    struct ReadRequest
    {
        ReadKind kind;
        int timeoutMs;
        bool delivered;   // a byte or a line was handed out; false means a time-out
        int writesBefore; // how many writes had been made when the read was requested
    };

    using Matcher = std::function<bool(const QByteArray &bytes)>;

    static constexpr int Unlimited = -1;

    explicit ScriptedLink(LineMode mode = LineMode::Serial);

    // --- Scripting the board

    // Bytes that are readable at once, as if they had already arrived.
    void enqueueInput(const QByteArray &bytes);
    // When a write matches, reply is queued as input. Rules are tried in the order they were
    // added and the first match with uses left answers, so several one-use rules for the same
    // command answer its successive writes in turn. A rule with an empty reply swallows the
    // write (a lost answer).
    void onWrite(Matcher matches, const QByteArray &reply, int uses = Unlimited);
    // The same for writes that begin with prefix ("j", "U", "F", "b", a target text).
    void onCommand(const QByteArray &prefix, const QByteArray &reply, int uses = Unlimited);
    // The same for frames with this index; -1 matches every frame.
    void onFrame(int index, const QByteArray &reply, int uses = Unlimited);
    // The next count writes report failure; they are recorded but reach no rule.
    void failNextWrites(int count);
    // open() fails with this message from now on.
    void failOpen(const QString &message);
    // Called after each write has been recorded and answered, e.g. to raise a cancel flag.
    void setWriteObserver(std::function<void(const QByteArray &bytes)> observer);
    // Called before each read is served, e.g. to let real time pass during one chosen wait.
    void setReadObserver(std::function<void(ReadKind kind, int timeoutMs)> observer);

    // --- What the code under test did

    const QList<QByteArray> &writes() const { return m_writes; }
    // Indices of the frames written, in order (resends included).
    QList<int> frameIndices() const;
    const QList<ReadRequest> &reads() const { return m_reads; }
    // The number of writes made before each call, so tests can place the call in the sequence.
    const QList<int> &reopenCalls() const { return m_reopenCalls; }
    const QList<int> &clearInputCalls() const { return m_clearInputCalls; }
    int openCount() const { return m_openCount; }
    int closeCount() const { return m_closeCount; }
    bool isOpen() const { return m_open; }
    QByteArray pendingInput() const { return m_input.mid(m_head); }

    // The index of a frame write (AA 55, LE16 index, at least one payload byte and the CRC),
    // or -1 when bytes are not a frame.
    static int frameIndex(const QByteArray &bytes);

    // --- Link

    bool open(QString *error) override;
    void close() override;
    // Serial mode drops the pending input as the serial link does; UDP mode keeps it.
    void reopen() override;
    bool write(const QByteArray &bytes) override;
    int readByte(int timeoutMs) override;
    bool readLine(int timeoutMs, QString &line) override;
    void clearInput() override;

private:
    struct Rule
    {
        Matcher matches;
        QByteArray reply;
        int usesLeft;
    };

    int pendingSize() const { return int(m_input.size() - m_head); }
    void dropInput();
    void record(ReadKind kind, int timeoutMs, bool delivered);

    LineMode m_mode;
    QList<Rule> m_rules;
    QByteArray m_input;
    qsizetype m_head = 0; // first unread byte of m_input
    int m_failWrites = 0;
    QString m_openError;
    std::function<void(const QByteArray &)> m_writeObserver;
    std::function<void(ReadKind, int)> m_readObserver;

    QList<QByteArray> m_writes;
    QList<ReadRequest> m_reads;
    QList<int> m_reopenCalls;
    QList<int> m_clearInputCalls;
    int m_openCount = 0;
    int m_closeCount = 0;
    bool m_open = false;
};

} // namespace qvota::test
