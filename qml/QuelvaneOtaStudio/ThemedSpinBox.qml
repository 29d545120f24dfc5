import QtQuick
import QtQuick.Controls

// An editable spin box in the theme's colours, with − and + buttons at its ends.
SpinBox {
    id: control

    editable: true
    implicitHeight: Theme.controlHeight
    implicitWidth: Math.max(132, implicitContentWidth + 76)

    contentItem: TextInput {
        // textFromValue(value, locale), kept current by the spin box itself.
        text: control.displayText
        horizontalAlignment: Qt.AlignHCenter
        verticalAlignment: Qt.AlignVCenter
        font.pixelSize: Theme.fontBody
        color: control.enabled ? Theme.text : Theme.muted
        selectionColor: Theme.accent
        selectedTextColor: Theme.accentText
        readOnly: !control.editable
        validator: control.validator
        selectByMouse: true
        inputMethodHints: Qt.ImhFormattedNumbersOnly
    }

    down.indicator: Rectangle {
        x: 0
        height: control.height
        implicitWidth: 34
        radius: Theme.controlRadius
        color: control.down.pressed ? Theme.surface : "transparent"

        Text {
            anchors.centerIn: parent
            text: "\u2212"
            font.pixelSize: Theme.fontTitle
            color: control.enabled ? Theme.muted : Theme.border
        }
    }

    up.indicator: Rectangle {
        x: control.width - width
        height: control.height
        implicitWidth: 34
        radius: Theme.controlRadius
        color: control.up.pressed ? Theme.surface : "transparent"

        Text {
            anchors.centerIn: parent
            text: "+"
            font.bold: true
            font.pixelSize: Theme.fontTitle
            color: control.enabled ? Theme.accent : Theme.border
        }
    }

    background: Rectangle {
        radius: Theme.controlRadius
        color: Theme.surfaceAlt
        border.color: control.activeFocus ? Theme.accent : Theme.border
    }
}
