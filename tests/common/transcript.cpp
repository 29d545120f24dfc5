#include "transcript.h"

#include "processrun.h"

namespace qvota::test {

Transcript read_transcript(const QStringList &outLines, int bareHead)
{
    Transcript t;
    for (int i = 0; i < outLines.size(); ++i) {
        const QString &line = outLines.at(i);
        const bool last = i == outLines.size() - 1;
        bool stamped = false;
        const QString stripped = strip_time_stamp(line, &stamped);
        if (i < bareHead || (last && line.startsWith(QLatin1String("ERROR: ")))) {
            if (stamped && t.problem.isEmpty())
                t.problem = QStringLiteral("line %1 should carry no stamp: %2").arg(i).arg(line);
            t.lines.append(line);
        } else {
            if (!stamped && t.problem.isEmpty())
                t.problem = QStringLiteral("line %1 lacks its time stamp: %2").arg(i).arg(line);
            t.lines.append(stamped ? stripped : line);
        }
    }
    return t;
}

QString match_lines(const QStringList &lines, const QStringList &patterns)
{
    const qsizetype common = qMin(lines.size(), patterns.size());
    for (qsizetype i = 0; i < common; ++i) {
        const QRegularExpression re(QRegularExpression::anchoredPattern(patterns.at(i)));
        if (!re.match(lines.at(i)).hasMatch())
            return QStringLiteral("line %1: '%2' does not match '%3'")
                .arg(i)
                .arg(lines.at(i), patterns.at(i));
    }
    if (lines.size() != patterns.size())
        return QStringLiteral("%1 lines, expected %2; first extra: '%3'")
            .arg(lines.size())
            .arg(patterns.size())
            .arg(lines.size() > common ? lines.at(common) : patterns.at(common));
    return {};
}

} // namespace qvota::test
