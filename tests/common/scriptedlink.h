// A scripted in-memory stand-in for the board behind a serial Link. Tests queue the board's
// replies per command; the fake records every write and every read request and answers a read of
// an empty input with an immediate time-out, so a whole update runs in milliseconds.
#pragma once

#include "link.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <utility>

namespace qvota::test {

class ScriptedLink : public Link
{
public:
    enum class ReadKind { Byte, Line };

    struct ReadRequest
    {
        ReadKind kind;
        int timeoutMs;
        int writesBefore; // how many writes had been made when the read was requested
    };

    static constexpr int UNLIMITED = -1;

    // When a write begins with prefix ("j", "U", "F", "b", a target text), reply is queued as
    // input. Rules are tried in the order they were added and the first match with uses left
    // answers, so one-use rules added first answer successive writes in turn. An empty reply
    // swallows the write (a lost answer).
    void onCommand(const QByteArray &prefix, const QByteArray &reply, int uses = UNLIMITED);
    // The same for frames with this index; -1 matches every frame.
    void onFrame(int index, const QByteArray &reply, int uses = UNLIMITED);
    // Called after each write has been recorded and answered, e.g. to raise a cancel flag.
    void setWriteObserver(std::function<void(const QByteArray &bytes)> observer)
    {
        m_writeObserver = std::move(observer);
    }

    // From the write after the first count writes on, every write fails and the link reports
    // why, as a link whose device went away.
    void failWritesAfter(int count, const QString &why)
    {
        m_failWritesAfter = count;
        m_writeFailure = why;
    }

    const QList<QByteArray> &writes() const { return m_writes; }
    const QList<ReadRequest> &reads() const { return m_reads; }
    // The number of writes made before each reopen, to place it in the sequence.
    const QList<int> &reopenCalls() const { return m_reopenCalls; }

    // The index of a frame write (AA 55, LE16 index, at least one payload byte and the CRC),
    // or -1 when bytes are not a frame.
    static int frameIndex(const QByteArray &bytes);

    Expected<void> open() override { return {}; }
    void close() override {}
    // Drops the pending input as the serial link does.
    void reopen() override;
    bool write(const QByteArray &bytes) override;
    int readByte(int timeoutMs) override;
    // Up to the first LF, CR dropped. Without a queued LF the read times out and the partial
    // line is lost, as on the serial link.
    bool readLine(int timeoutMs, QString &line) override;
    void clearInput() override { m_input.clear(); }
    // What the link says it set aside, as a UDP link does for datagrams of other senders.
    QString inputNote() const override { return m_inputNote; }
    void setInputNote(const QString &note) { m_inputNote = note; }

private:
    struct Rule
    {
        std::function<bool(const QByteArray &)> matches;
        QByteArray reply;
        int usesLeft;
    };

    QList<Rule> m_rules;
    QByteArray m_input;
    std::function<void(const QByteArray &)> m_writeObserver;
    QList<QByteArray> m_writes;
    QList<ReadRequest> m_reads;
    QList<int> m_reopenCalls;
    QString m_inputNote;
    int m_failWritesAfter = -1;
    QString m_writeFailure;
};

} // namespace qvota::test
