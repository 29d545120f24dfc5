// The window: a header with the language and theme selectors and the run status, the parameter
// card that starts and cancels an update, and the log card that follows it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt.labs.settings

ApplicationWindow {
    id: window

    width: 1140
    height: 720
    minimumWidth: 1024
    minimumHeight: 640
    visible: true
    title: "Quelvane OTA Studio"
    color: Theme.bg

    // 0: no result yet (or a run is being started), 1: the last run succeeded, 2: it failed.
    property int lastResult: 0
    readonly property var langIds: ["zh_CN", "en", "ja_JP"]
    property string currentLang: "zh_CN"
    readonly property var transportIds: ["uart", "udp"]
    readonly property bool udpMode: transportIds[transportCombo.currentIndex] === "udp"
    // The empty id means no warm boot.
    readonly property var targetIds: ["", "1", "2"]

    // The start-up publishes the controller and the translation manager as the context
    // properties "ui" and "i18n", which the linter cannot see; everything else reads these two.
    readonly property var _ui: ui // qmllint disable unqualified
    readonly property var _i18n: i18n // qmllint disable unqualified

    // The container's numbers, or why a run would refuse the file; null while the field is empty.
    readonly property var _imageInfo: fileField.text === "" ? null : window._ui.imageSummary(fileField.text)

    function langText(lid) {
        if (lid === "zh_CN")
            return "简体中文";
        if (lid === "ja_JP")
            return "日本語";
        return "English";
    }

    function transportText(tid) {
        return tid === "uart" ? qsTr("UART Serial (APP1)") : qsTr("UDP Network (100M)");
    }

    function targetText(tid) {
        if (tid === "")
            return qsTr("No warm boot");
        if (tid === "1")
            return qsTr("Warm boot to APP1");
        return qsTr("Warm boot to APP2");
    }

    function startOta() {
        _clearLog();
        lastResult = 0;
        const cfg = {
            "transport": udpMode ? "udp" : "uart",
            "port": portCombo.currentText,
            "baud": parseInt(baudCombo.currentText),
            "ip": boardIpField.text,
            "udpPort": parseInt(boardPortField.text),
            "hostIp": hostIpCombo.currentText,
            "hostPort": parseInt(hostPortField.text),
            "file": fileField.text,
            "target": targetIds[targetCombo.currentIndex],
            "warmBoot": targetCombo.currentIndex !== 0
        };
        window._ui.start(cfg);
    }

    function refreshSerialPorts() {
        _fillPreferring(portCombo, window._ui.serialPorts(), entry => entry.startsWith("COM35"));
    }

    function refreshHostAddresses() {
        _fillPreferring(hostIpCombo, window._ui.hostAddresses(), entry => entry.indexOf("192.168.0.") >= 0);
    }

    // The first entry that the test accepts becomes current, else the first entry.
    function _fillPreferring(combo, entries, preferred) {
        combo.model = entries;
        for (let i = 0; i < entries.length; ++i) {
            if (preferred(entries[i])) {
                combo.currentIndex = i;
                return;
            }
        }
        if (entries.length > 0)
            combo.currentIndex = 0;
    }

    function lineColor(line) {
        if (line.indexOf("ERROR") >= 0 || line.indexOf("[FAIL]") >= 0 || line.indexOf("timeout") >= 0)
            return Theme.danger;
        if (line.indexOf("WARN") >= 0 || line.indexOf("skip") >= 0)
            return Theme.warning;
        if (line.indexOf("MATCH") >= 0 || line.indexOf("COMPLETE") >= 0
                || line.indexOf("WARM BOOT OK") >= 0 || line.indexOf("[OK]") >= 0)
            return Theme.success;
        return Theme.text;
    }

    // Lines from the controller wait here for the next turn of the event loop and then enter the
    // model together: a noisy board posts thousands a second, and one model change and one
    // scroll per turn keep the window drawing while they arrive.
    property var _pendingLines: []

    function _queueLogLine(line) {
        if (_pendingLines.length === 0)
            Qt.callLater(_flushLog); // qmllint disable type
        _pendingLines.push(line);
    }

    // Leaves the model as appending the lines one by one would, dropping the 500 oldest rows
    // whenever there are more than 2000, but with one removal and one insertion.
    function _flushLog() {
        const lines = _pendingLines;
        if (lines.length === 0)
            return;
        _pendingLines = [];
        const total = logModel.count + lines.length;
        const keep = total <= 2000 ? total : 1501 + (total - 2001) % 500;
        const drop = total - keep;
        const rows = [];
        if (drop >= logModel.count) {
            logModel.clear();
            for (let i = lines.length - keep; i < lines.length; ++i)
                rows.push({ "line": lines[i] });
        } else {
            if (drop > 0)
                logModel.remove(0, drop);
            for (const line of lines)
                rows.push({ "line": line });
        }
        logModel.append(rows);
        logView.positionViewAtEnd();
    }

    function _clearLog() {
        _pendingLines = [];
        logModel.clear();
    }

    // A line of the window's own, after everything the controller has sent; not trimmed.
    function _appendLog(line) {
        _flushLog();
        logModel.append({ "line": line });
        logView.positionViewAtEnd();
    }

    function _logLines() {
        _flushLog();
        const lines = [];
        for (let i = 0; i < logModel.count; ++i)
            lines.push(logModel.get(i).line);
        return lines;
    }

    function _saveLog(path) {
        const error = window._ui.saveLog(path, _logLines());
        _appendLog(error === "" ? qsTr("Log saved to %1").arg(path) : "ERROR: " + error);
    }

    function _applyLanguage(lid) {
        currentLang = lid;
        uiSettings.language = lid;
        window._i18n.setLanguage(lid);
    }

    // A dropped file's local path: "file:///C:/x" gives "C:/x", "file://server/x" "//server/x".
    function _localPath(url) {
        const text = url.toString();
        if (!text.startsWith("file://"))
            return "";
        const path = decodeURIComponent(text.substring(7));
        if (/^\/[A-Za-z]:\//.test(path))
            return path.substring(1);
        return path.startsWith("/") ? path : "//" + path;
    }

    function _bytesText(count) {
        return Number(count).toLocaleString(Qt.locale(), "f", 0);
    }

    function _imageSummaryText(info) {
        if (!info)
            return "";
        if (!info.ok)
            return info.error;
        const text = qsTr("%1 bytes plain  ·  CRC-32 %2  ·  %3 frames")
            .arg(_bytesText(info.size)).arg(info.crc32).arg(info.frames);
        const baud = parseInt(baudCombo.currentText);
        if (udpMode || !(baud > 0))
            return text;
        // 8N1: ten bits on the wire for every byte, acknowledgements included.
        const seconds = info.wireBytes * 10 / baud;
        return text + "  ·  " + qsTr("at least %1 s at %2 baud")
            .arg(Number(seconds).toLocaleString(Qt.locale(), "f", 1)).arg(baud);
    }

    component SectionLabel: Text {
        color: Theme.muted
        font.pixelSize: Theme.fontCaption
        font.bold: true
        font.letterSpacing: 1
        Accessible.ignored: true
    }

    component StatusPill: Rectangle {
        id: pill

        property string text: ""
        property color tone: Theme.muted

        implicitHeight: 26
        implicitWidth: Math.max(72, pillLabel.implicitWidth + 24)
        radius: height / 2
        color: Theme.surfaceAlt
        border.width: 1
        border.color: tone
        Accessible.role: Accessible.StaticText
        Accessible.name: text

        Text {
            id: pillLabel
            anchors.centerIn: parent
            text: pill.text
            color: pill.tone
            font.bold: true
            font.pixelSize: Theme.fontSmall
        }
    }

    ListModel {
        id: logModel
    }

    Connections {
        target: window._ui

        function onLogAppended(line) {
            window._queueLogLine(line);
        }

        function onLogCleared() {
            window._clearLog();
        }

        function onOtaFinished(ok, message) {
            window.lastResult = ok ? 1 : 2;
            window._appendLog((ok ? "[OK] " : "[FAIL] ") + message);
        }
    }

    Settings {
        id: uiSettings
        category: "ui"
        property string theme: "abyss"
        property string language: "zh_CN"
    }

    Component.onCompleted: {
        Theme.themeId = uiSettings.theme;
        currentLang = uiSettings.language;
        languageCombo.currentIndex = Math.max(0, langIds.indexOf(currentLang));
        themeCombo.currentIndex = Math.max(0, Theme.themeOrder.indexOf(Theme.themeId));
        window._i18n.setLanguage(currentLang);
        refreshSerialPorts();
        refreshHostAddresses();
    }

    // A file dropped anywhere on the window becomes the image, unless a run is using it.
    DropArea {
        anchors.fill: parent
        enabled: !window._ui.running
        onEntered: drag => drag.accepted = drag.hasUrls && window._localPath(drag.urls[0]) !== ""
        onDropped: drop => {
            const path = window._localPath(drop.urls[0]);
            if (path !== "" && !window._ui.running) {
                fileField.text = path;
                drop.accept();
            }
        }
    }

    Rectangle {
        id: headerBar
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 72
        color: Theme.surface

        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 1
            color: Theme.border
        }

        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 18
            anchors.rightMargin: 18
            spacing: 12

            Text {
                id: productName
                text: "Quelvane OTA Studio"
                color: Theme.text
                font.bold: true
                font.pixelSize: Theme.fontDisplay
                Layout.alignment: Qt.AlignBaseline
            }

            Text {
                text: "v" + appVersion // qmllint disable unqualified
                color: Theme.muted
                font.pixelSize: Theme.fontSubhead
                Layout.alignment: Qt.AlignBaseline
            }

            Rectangle {
                implicitWidth: 1
                implicitHeight: 28
                color: Theme.border
                Layout.alignment: Qt.AlignVCenter
            }

            Text {
                text: qsTr("PGL25G firmware update  ·  writes slot APP2 @0x400000  ·  Golden/APP1 untouched")
                color: Theme.muted
                font.pixelSize: Theme.fontSubhead
                elide: Text.ElideRight
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
            }

            ThemedCombo {
                id: languageCombo
                objectName: "languageCombo"
                implicitWidth: 116
                model: window.langIds
                textMapper: window.langText
                Component.onCompleted: currentIndex = Math.max(0, window.langIds.indexOf(window.currentLang))
                onActivated: index => {
                    const lid = window.langIds[index];
                    Qt.callLater(() => window._applyLanguage(lid)); // qmllint disable type
                }
            }

            ThemedCombo {
                id: themeCombo
                objectName: "themeCombo"
                implicitWidth: 150
                model: Theme.themeOrder
                textMapper: key => Theme.themeNames[key]
                Component.onCompleted: currentIndex = Math.max(0, Theme.themeOrder.indexOf(Theme.themeId))
                onActivated: index => {
                    Theme.themeId = Theme.themeOrder[index];
                    uiSettings.theme = Theme.themeId;
                }
            }

            StatusPill {
                id: statusPill
                objectName: "statusPill"
                Layout.alignment: Qt.AlignVCenter
                text: window._ui.running ? qsTr("Upgrading")
                    : window.lastResult === 1 ? qsTr("Last upgrade OK")
                    : window.lastResult === 2 ? qsTr("Last upgrade failed")
                    : qsTr("Ready")
                tone: window._ui.running ? Theme.warning
                    : window.lastResult === 1 ? Theme.success
                    : window.lastResult === 2 ? Theme.danger
                    : Theme.muted
            }
        }
    }

    RowLayout {
        id: contentRow
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: headerBar.bottom
        anchors.bottom: parent.bottom
        anchors.margins: 16
        spacing: 16

        Card {
            id: paramCard
            Layout.preferredWidth: 400
            Layout.fillHeight: true

            ColumnLayout {
                anchors.fill: parent
                spacing: 10

                ScrollView {
                    id: paramScroll
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    contentWidth: availableWidth
                    // The column never scrolls sideways, and a hidden bar would still take the
                    // clicks along the bottom edge.
                    ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

                    ColumnLayout {
                        id: paramCol
                        width: paramScroll.availableWidth
                        spacing: 10

                        SectionLabel { text: qsTr("TRANSPORT") }
                        ThemedCombo {
                            id: transportCombo
                            objectName: "transportCombo"
                            Layout.fillWidth: true
                            enabled: !window._ui.running
                            model: window.transportIds
                            textMapper: window.transportText
                            currentIndex: 0
                            Accessible.name: qsTr("TRANSPORT")
                        }

                        ColumnLayout {
                            objectName: "serialGroup"
                            visible: !window.udpMode
                            spacing: 10
                            Layout.fillWidth: true

                            SectionLabel { text: qsTr("SERIAL") }
                            RowLayout {
                                spacing: 8
                                Layout.fillWidth: true
                                ThemedCombo {
                                    id: portCombo
                                    objectName: "portCombo"
                                    Layout.fillWidth: true
                                    editable: false
                                    enabled: !window._ui.running
                                    Accessible.name: qsTr("SERIAL")
                                }
                                ThemedButton {
                                    objectName: "refreshButton"
                                    text: qsTr("Refresh")
                                    enabled: !window._ui.running
                                    onClicked: window.refreshSerialPorts()
                                }
                            }
                            SectionLabel { text: qsTr("BAUD RATE") }
                            ThemedCombo {
                                id: baudCombo
                                objectName: "baudCombo"
                                Layout.fillWidth: true
                                enabled: !window._ui.running
                                model: ["115200", "57600", "9600"]
                                currentIndex: 0
                                Accessible.name: qsTr("BAUD RATE")
                            }
                        }

                        ColumnLayout {
                            objectName: "networkGroup"
                            visible: window.udpMode
                            spacing: 10
                            Layout.fillWidth: true

                            SectionLabel { text: qsTr("BOARD IP") }
                            ThemedTextField {
                                id: boardIpField
                                objectName: "boardIpField"
                                Layout.fillWidth: true
                                enabled: !window._ui.running
                                text: "192.168.0.100"
                                Accessible.name: qsTr("BOARD IP")
                            }
                            SectionLabel { text: qsTr("BOARD PORT") }
                            ThemedTextField {
                                id: boardPortField
                                objectName: "boardPortField"
                                Layout.fillWidth: true
                                enabled: !window._ui.running
                                text: "7777"
                                Accessible.name: qsTr("BOARD PORT")
                            }
                            SectionLabel { text: qsTr("HOST ADAPTER") }
                            RowLayout {
                                spacing: 8
                                Layout.fillWidth: true
                                ThemedCombo {
                                    id: hostIpCombo
                                    objectName: "hostIpCombo"
                                    Layout.fillWidth: true
                                    editable: false
                                    enabled: !window._ui.running
                                    Accessible.name: qsTr("HOST ADAPTER")
                                }
                                ThemedButton {
                                    objectName: "detectButton"
                                    text: qsTr("Detect")
                                    enabled: !window._ui.running
                                    onClicked: window.refreshHostAddresses()
                                }
                            }
                            SectionLabel { text: qsTr("HOST PORT") }
                            ThemedTextField {
                                id: hostPortField
                                objectName: "hostPortField"
                                Layout.fillWidth: true
                                enabled: !window._ui.running
                                text: "6666"
                                Accessible.name: qsTr("HOST PORT")
                            }
                        }

                        Rectangle {
                            implicitHeight: 1
                            Layout.fillWidth: true
                            color: Theme.border
                        }

                        SectionLabel { text: qsTr("FIRMWARE IMAGE") }
                        RowLayout {
                            spacing: 8
                            Layout.fillWidth: true
                            ThemedTextField {
                                id: fileField
                                objectName: "fileField"
                                Layout.fillWidth: true
                                enabled: !window._ui.running
                                placeholderText: qsTr("Select encrypted image (.qvbit)...")
                                Accessible.name: qsTr("FIRMWARE IMAGE")
                            }
                            ThemedButton {
                                objectName: "browseButton"
                                text: qsTr("Browse")
                                enabled: !window._ui.running
                                onClicked: fileDialog.open()
                            }
                        }
                        Text {
                            id: imageSummary
                            objectName: "imageSummary"
                            Layout.fillWidth: true
                            visible: text !== ""
                            text: window._imageSummaryText(window._imageInfo)
                            color: window._imageInfo && !window._imageInfo.ok ? Theme.danger : Theme.muted
                            font.pixelSize: Theme.fontSmall
                            wrapMode: Text.Wrap
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }

                        SectionLabel { text: qsTr("OPTIONS") }
                        ThemedCombo {
                            id: targetCombo
                            objectName: "targetCombo"
                            Layout.fillWidth: true
                            enabled: !window._ui.running
                            model: window.targetIds
                            textMapper: window.targetText
                            currentIndex: 2
                            Accessible.name: qsTr("OPTIONS")
                        }

                        ExtraOptions {
                            Layout.fillWidth: true
                        }
                    }
                }

                // Outside the scrolled part, so Start and Cancel stay in view however tall the
                // inputs above them grow.
                RowLayout {
                    spacing: 8
                    Layout.fillWidth: true
                    ThemedButton {
                        id: startBtn
                        objectName: "startBtn"
                        kind: 1
                        Layout.fillWidth: true
                        text: window._ui.running ? qsTr("Upgrading...") : qsTr("Start Upgrade")
                        enabled: !window._ui.running && fileField.text !== ""
                        onClicked: window.startOta()
                    }
                    ThemedButton {
                        objectName: "cancelBtn"
                        kind: 2
                        text: qsTr("Cancel")
                        enabled: window._ui.running
                        onClicked: window._ui.cancel()
                    }
                }
            }
        }

        Card {
            id: logCard
            Layout.fillWidth: true
            Layout.fillHeight: true

            ColumnLayout {
                anchors.fill: parent
                spacing: 10

                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8

                    SectionLabel { text: qsTr("UPGRADE LOG") }
                    Item {
                        Layout.fillWidth: true
                    }
                    Text {
                        id: progressText
                        objectName: "progressText"
                        text: window._ui.progressTotal > 0
                            ? Math.round(100 * window._ui.progressDone / window._ui.progressTotal) + "%"
                            : "--"
                        color: Theme.muted
                        font.family: Theme.fontMono
                        font.pixelSize: Theme.fontSmall
                        Accessible.ignored: true
                    }
                    ThemedButton {
                        objectName: "clearLogButton"
                        text: qsTr("Clear Log")
                        enabled: !window._ui.running && logModel.count > 0
                        onClicked: window._ui.clearLog()
                    }
                    ThemedButton {
                        objectName: "saveLogButton"
                        text: qsTr("Save Log")
                        enabled: logModel.count > 0
                        onClicked: {
                            saveDialog.defaultFileName = "quelvane-ota-"
                                + Qt.formatDateTime(new Date(), "yyyyMMdd-HHmmss") + ".log";
                            saveDialog.open();
                        }
                    }
                }

                Rectangle {
                    id: progressTrack
                    objectName: "progressTrack"
                    Layout.fillWidth: true
                    implicitHeight: 10
                    radius: 5
                    color: Theme.surfaceAlt
                    border.width: 1
                    border.color: Theme.border
                    Accessible.role: Accessible.ProgressBar
                    Accessible.name: qsTr("UPGRADE LOG")
                    Accessible.description: progressText.text

                    Rectangle {
                        objectName: "progressBar"
                        x: 1
                        anchors.verticalCenter: parent.verticalCenter
                        height: parent.height - 2
                        radius: 4
                        color: Theme.accent
                        width: window._ui.progressTotal > 0
                            ? (progressTrack.width - 2) * window._ui.progressDone / window._ui.progressTotal
                            : 0
                        Behavior on width {
                            NumberAnimation { duration: 80 }
                        }
                    }
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    color: Theme.bg
                    radius: 8
                    border.width: 1
                    border.color: Theme.border

                    ListView {
                        id: logView
                        objectName: "logView"
                        anchors.fill: parent
                        anchors.margins: 10
                        clip: true
                        reuseItems: true
                        model: logModel
                        boundsBehavior: Flickable.StopAtBounds
                        ScrollBar.vertical: ScrollBar {}
                        Accessible.role: Accessible.List
                        Accessible.name: qsTr("UPGRADE LOG")

                        delegate: Text {
                            required property string line
                            text: line
                            wrapMode: Text.NoWrap
                            font.family: Theme.fontMono
                            font.pixelSize: Theme.fontSmall
                            // The linter cannot follow ids into a delegate.
                            color: window.lineColor(line) // qmllint disable unqualified
                            Accessible.role: Accessible.StaticText
                            Accessible.name: line
                        }
                    }
                }
            }
        }
    }

    FilePickerDialog {
        id: fileDialog
        objectName: "fileDialog"
        parent: Overlay.overlay
        title: qsTr("Select Firmware Image")
        pickerMode: "file"
        nameFilters: ["*.qvbit"]
        initialPath: fileField.text
        onPicked: path => fileField.text = path
    }

    FilePickerDialog {
        id: saveDialog
        objectName: "saveDialog"
        parent: Overlay.overlay
        title: qsTr("Save Log")
        pickerMode: "save"
        initialPath: fileField.text
        onPicked: path => window._saveLog(path)
    }
}
