import QtQuick

// The log twice over: the rows the window shows, at most the newest 2,000, and every line
// since the log was last cleared, for Save Log. Lines from the controller wait for the next
// turn of the event loop and enter the rows together: a noisy board posts thousands a second,
// and one model change and one scroll per turn keep the window drawing while they arrive.
QtObject {
    id: runLog

    readonly property ListModel rows: ListModel {}
    // Save Log keeps this many of a run's lines; a run that writes more loses its oldest, and
    // the saved file says how many.
    property int keptLines: 200000

    property int _droppedLines: 0
    property var _kept: []
    property var _pending: []

    // New rows are in the model; the view scrolls to them.
    signal rowsAdded()

    function queue(line) {
        if (_pending.length === 0)
            Qt.callLater(runLog.flush); // qmllint disable type
        _pending.push(line);
    }

    // Leaves the rows as appending the lines one by one would, dropping the 500 oldest
    // whenever there are more than 2000, but with one removal and one insertion.
    function flush() {
        const lines = _pending;
        if (lines.length === 0)
            return;
        _pending = [];
        _keep(lines);
        const total = rows.count + lines.length;
        const keep = total <= 2000 ? total : 1501 + (total - 2001) % 500;
        const drop = total - keep;
        const added = [];
        if (drop >= rows.count) {
            rows.clear();
            for (let i = lines.length - keep; i < lines.length; ++i)
                added.push({ "line": lines[i] });
        } else {
            if (drop > 0)
                rows.remove(0, drop);
            for (const line of lines)
                added.push({ "line": line });
        }
        rows.append(added);
        rowsAdded();
    }

    // A line of the window's own, after everything the controller has sent; not trimmed.
    function append(line) {
        flush();
        _keep([line]);
        rows.append({ "line": line });
        rowsAdded();
    }

    function clear() {
        _pending = [];
        _kept = [];
        _droppedLines = 0;
        rows.clear();
    }

    // Every kept line of the run, led by a note when the oldest had to go.
    function lines() {
        flush();
        const extra = Math.max(0, _kept.length - keptLines);
        const dropped = _droppedLines + extra;
        const kept = _kept.slice(extra);
        if (dropped === 0)
            return kept;
        return ["[" + dropped + " earlier lines dropped: only the last " + keptLines
                + " lines of a run are kept]"].concat(kept);
    }

    function _keep(lines) {
        for (const line of lines)
            _kept.push(line);
        // Trimmed in steps of a tenth, so a long run does not copy the array at every line.
        const excess = _kept.length - keptLines;
        if (excess > keptLines / 10) {
            _kept.splice(0, excess);
            _droppedLines += excess;
        }
    }
}
