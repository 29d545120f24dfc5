#include "scriptedlink.h"

namespace qvota::test {

void ScriptedLink::onCommand(const QByteArray &prefix, const QByteArray &reply, int uses)
{
    m_rules.append(
        Rule{[prefix](const QByteArray &bytes) { return bytes.startsWith(prefix); }, reply, uses});
}

void ScriptedLink::onFrame(int index, const QByteArray &reply, int uses)
{
    const auto matches = [index](const QByteArray &bytes) {
        const int written = frameIndex(bytes);
        return written >= 0 && (index < 0 || written == index);
    };
    m_rules.append(Rule{matches, reply, uses});
}

int ScriptedLink::frameIndex(const QByteArray &bytes)
{
    if (bytes.size() <= 6 || uchar(bytes[0]) != 0xAA || uchar(bytes[1]) != 0x55)
        return -1;
    return uchar(bytes[2]) | (uchar(bytes[3]) << 8);
}

void ScriptedLink::reopen()
{
    m_reopenCalls.append(int(m_writes.size()));
    m_input.clear();
}

bool ScriptedLink::write(const QByteArray &bytes)
{
    if (m_failWritesAfter >= 0 && m_writes.size() >= m_failWritesAfter) {
        m_writes.append(bytes);
        setFailure(m_writeFailure);
        return false;
    }
    m_writes.append(bytes);
    for (Rule &rule : m_rules) {
        if (rule.usesLeft == 0 || !rule.matches(bytes))
            continue;
        if (rule.usesLeft > 0)
            --rule.usesLeft;
        m_input.append(rule.reply);
        break;
    }
    if (m_writeObserver)
        m_writeObserver(bytes);
    return true;
}

int ScriptedLink::readByte(int timeoutMs)
{
    m_reads.append({ReadKind::Byte, timeoutMs, int(m_writes.size())});
    if (m_input.isEmpty() || timeoutMs <= 0)
        return -1;
    const int byte = uchar(m_input.front());
    m_input.remove(0, 1);
    return byte;
}

bool ScriptedLink::readLine(int timeoutMs, QString &line)
{
    m_reads.append({ReadKind::Line, timeoutMs, int(m_writes.size())});
    if (timeoutMs <= 0)
        return false;
    const qsizetype lf = m_input.indexOf('\n');
    if (lf < 0) {
        m_input.clear();
        return false;
    }
    line = QString::fromLatin1(m_input.left(lf).replace("\r", ""));
    m_input.remove(0, lf + 1);
    return true;
}

} // namespace qvota::test
