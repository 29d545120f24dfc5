import QtQuick

// A rounded badge with one word of status, outlined and written in its tone.
Rectangle {
    id: pill

    property string text: ""
    property color tone: Theme.muted

    implicitHeight: Theme.pillHeight
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
