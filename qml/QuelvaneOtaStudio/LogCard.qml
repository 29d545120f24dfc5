pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The log card: the run's progress and its log, with Clear Log and Save Log.
Card {
    id: card

    // The window's texts, translated in its own context.
    required property var texts
    required property RunLog runLog

    signal saveRequested()

    // First matching group wins: failure, warning, success, plain.
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

    readonly property string _progressText: host.controller.progressTotal > 0
        ? Math.round(100 * host.controller.progressDone / host.controller.progressTotal) + "%"
        : "--"

    Host {
        id: host
    }

    Connections {
        target: card.runLog
        function onRowsAdded() {
            logView.positionViewAtEnd();
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            SectionLabel {
                text: card.texts.upgradeLog
            }
            Item {
                Layout.fillWidth: true
            }
            Text {
                objectName: "progressText"
                text: card._progressText
                color: Theme.muted
                font.family: Theme.fontMono
                font.pixelSize: Theme.fontSmall
                Accessible.ignored: true
            }
            ThemedButton {
                objectName: "clearLogButton"
                text: card.texts.clearLog
                enabled: !host.controller.running && card.runLog.rows.count > 0
                onClicked: host.controller.clearLog()
            }
            ThemedButton {
                objectName: "saveLogButton"
                text: qsTr("Save Log")
                enabled: card.runLog.rows.count > 0
                onClicked: card.saveRequested()
            }
        }

        ProgressBar {
            id: progressTrack
            objectName: "progressTrack"
            Layout.fillWidth: true
            implicitHeight: Theme.progressHeight
            padding: 1
            from: 0
            to: Math.max(1, host.controller.progressTotal)
            value: host.controller.progressTotal > 0 ? host.controller.progressDone : 0
            Accessible.name: qsTr("Progress")
            Accessible.description: card._progressText

            background: Rectangle {
                radius: height / 2
                color: Theme.surfaceAlt
                border.width: 1
                border.color: Theme.border
            }

            contentItem: Item {
                Rectangle {
                    objectName: "progressBar"
                    anchors.verticalCenter: parent.verticalCenter
                    height: parent.height
                    radius: Theme.controlRadius / 2
                    color: Theme.accent
                    width: progressTrack.visualPosition * parent.width
                    Behavior on width {
                        NumberAnimation { duration: 80 }
                    }
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: Theme.bg
            radius: Theme.controlRadius
            border.width: 1
            border.color: Theme.border

            ListView {
                id: logView
                objectName: "logView"
                anchors.fill: parent
                anchors.margins: 10
                clip: true
                reuseItems: true
                model: card.runLog.rows
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}
                Accessible.role: Accessible.List
                Accessible.name: card.texts.upgradeLog

                delegate: Text {
                    id: row

                    required property string line
                    // Pooled rows keep their last line, and rows kept beyond the view's edges
                    // are not seen: a screen reader must not read either.
                    property bool _pooled: false
                    readonly property bool _inView: y + height > logView.contentY
                                                    && y < logView.contentY + logView.height

                    text: line
                    wrapMode: Text.NoWrap
                    font.family: Theme.fontMono
                    font.pixelSize: Theme.fontSmall
                    color: card.lineColor(line)
                    Accessible.role: Accessible.StaticText
                    Accessible.name: line
                    Accessible.ignored: _pooled || !_inView
                    ListView.onPooled: row._pooled = true
                    ListView.onReused: row._pooled = false
                }
            }
        }
    }
}
