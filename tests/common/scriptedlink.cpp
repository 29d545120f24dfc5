#include "scriptedlink.h"

#include <utility>

namespace qvota::test {

namespace {

constexpr int FRAME_OVERHEAD = 6; // AA 55, LE16 index, BE16 CRC

} // namespace

ScriptedLink::ScriptedLink(LineMode mode)
    : m_mode(mode)
{}

void ScriptedLink::enqueueInput(const QByteArray &bytes)
{
    m_input.append(bytes);
}

void ScriptedLink::onWrite(Matcher matches, const QByteArray &reply, int uses)
{
    m_rules.append(Rule{std::move(matches), reply, uses});
}

void ScriptedLink::onCommand(const QByteArray &prefix, const QByteArray &reply, int uses)
{
    onWrite([prefix](const QByteArray &bytes) { return bytes.startsWith(prefix); }, reply, uses);
}

void ScriptedLink::onFrame(int index, const QByteArray &reply, int uses)
{
    onWrite(
        [index](const QByteArray &bytes) {
            const int written = frameIndex(bytes);
            return written >= 0 && (index < 0 || written == index);
        },
        reply, uses);
}

void ScriptedLink::failNextWrites(int count)
{
    m_failWrites = count;
}

void ScriptedLink::failOpen(const QString &message)
{
    m_openError = message;
}

void ScriptedLink::setWriteObserver(std::function<void(const QByteArray &)> observer)
{
    m_writeObserver = std::move(observer);
}

void ScriptedLink::setReadObserver(std::function<void(ReadKind, int)> observer)
{
    m_readObserver = std::move(observer);
}

QList<int> ScriptedLink::frameIndices() const
{
    QList<int> indices;
    for (const QByteArray &bytes : m_writes) {
        if (const int index = frameIndex(bytes); index >= 0)
            indices.append(index);
    }
    return indices;
}

int ScriptedLink::frameIndex(const QByteArray &bytes)
{
    if (bytes.size() <= FRAME_OVERHEAD || uchar(bytes[0]) != 0xAA || uchar(bytes[1]) != 0x55)
        return -1;
    return uchar(bytes[2]) | (uchar(bytes[3]) << 8);
}

bool ScriptedLink::open(QString *error)
{
    ++m_openCount;
    if (!m_openError.isEmpty()) {
        if (error)
            *error = m_openError;
        return false;
    }
    m_open = true;
    return true;
}

void ScriptedLink::close()
{
    ++m_closeCount;
    m_open = false;
}

void ScriptedLink::reopen()
{
    m_reopenCalls.append(int(m_writes.size()));
    if (m_mode == LineMode::Serial)
        dropInput();
}

bool ScriptedLink::write(const QByteArray &bytes)
{
    m_writes.append(bytes);
    bool sent = true;
    if (m_failWrites > 0) {
        --m_failWrites;
        sent = false;
    } else {
        for (Rule &rule : m_rules) {
            if (rule.usesLeft == 0 || !rule.matches(bytes))
                continue;
            if (rule.usesLeft > 0)
                --rule.usesLeft;
            m_input.append(rule.reply);
            break;
        }
    }
    if (m_writeObserver)
        m_writeObserver(bytes);
    return sent;
}

int ScriptedLink::readByte(int timeoutMs)
{
    if (m_readObserver)
        m_readObserver(ReadKind::Byte, timeoutMs);
    const bool available = pendingSize() > 0 && (timeoutMs > 0 || m_mode == LineMode::Udp);
    record(ReadKind::Byte, timeoutMs, available);
    if (!available)
        return -1;
    const int byte = uchar(m_input[m_head++]);
    if (m_head == m_input.size())
        dropInput();
    return byte;
}

bool ScriptedLink::readLine(int timeoutMs, QString &line)
{
    if (m_readObserver)
        m_readObserver(ReadKind::Line, timeoutMs);
    QByteArray bytes;
    bool delivered = false;
    if (m_mode == LineMode::Serial) {
        if (timeoutMs > 0) {
            const qsizetype lf = m_input.indexOf('\n', m_head);
            if (lf >= 0) {
                bytes = m_input.mid(m_head, lf - m_head);
                m_head = lf + 1;
                delivered = true;
            } else {
                // The serial link reads the partial line while it waits and loses it.
                dropInput();
            }
        }
    } else if (pendingSize() > 0) {
        bytes = m_input.mid(m_head);
        dropInput();
        delivered = true;
    }
    record(ReadKind::Line, timeoutMs, delivered);
    if (!delivered)
        return false;
    bytes.replace("\r", "");
    if (m_mode == LineMode::Udp)
        bytes.replace("\n", "");
    line = QString::fromLatin1(bytes);
    return true;
}

void ScriptedLink::clearInput()
{
    m_clearInputCalls.append(int(m_writes.size()));
    dropInput();
}

void ScriptedLink::dropInput()
{
    m_input.clear();
    m_head = 0;
}

void ScriptedLink::record(ReadKind kind, int timeoutMs, bool delivered)
{
    m_reads.append(ReadRequest{kind, timeoutMs, delivered, int(m_writes.size())});
}

} // namespace qvota::test
