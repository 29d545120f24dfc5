import QtQuick

// What the chosen image holds, or why a run would refuse it, under the image field. The file
// is read again whenever the user may have rebuilt it: when it is picked (the same path too),
// when a run starts and when the window comes back to the front. While a path is being typed
// it waits for the typing to pause, so a half-typed path is neither read nor reported.
Text {
    id: summary

    required property string path
    required property bool udpMode
    required property string baudText

    property var _info: null
    readonly property bool _windowActive: Window.active

    // Reads the file now, whatever the timer was waiting for.
    function refresh() {
        pause.stop();
        _info = path === "" ? null : host.controller.imageSummary(path);
    }

    function _bytesText(count) {
        return Number(count).toLocaleString(Qt.locale(), "f", 0);
    }

    function _text(info) {
        if (!info)
            return "";
        if (!info.ok)
            return qsTr("A run would refuse this file: %1").arg(info.error);
        const text = qsTr("%1 bytes plain  ·  CRC-32 %2  ·  %3 frames")
            .arg(_bytesText(info.size)).arg(info.crc32).arg(info.frames);
        const baud = parseInt(baudText);
        if (udpMode || !(baud > 0))
            return text;
        // 8N1: ten bits on the wire for every byte, acknowledgements included.
        const seconds = info.wireBytes * 10 / baud;
        return text + "  ·  " + qsTr("at least %1 s at %2 baud")
            .arg(Number(seconds).toLocaleString(Qt.locale(), "f", 1)).arg(baud);
    }

    on_WindowActiveChanged: {
        if (_windowActive)
            refresh();
    }
    // What was read belongs to the previous text; nothing is shown until the new one is read.
    onPathChanged: {
        _info = null;
        if (path !== "")
            pause.restart();
    }

    visible: text !== ""
    text: _text(_info)
    color: _info && !_info.ok ? Theme.danger : Theme.muted
    font.pixelSize: Theme.fontSmall
    // At most two lines, so the card's height is known whatever the file says.
    wrapMode: Text.Wrap
    maximumLineCount: 2
    elide: Text.ElideRight
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    Host {
        id: host
    }

    Timer {
        id: pause
        interval: 400
        onTriggered: summary.refresh()
    }
}
