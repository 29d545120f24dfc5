import QtQuick
import QtQuick.Controls
import "activation.js" as Activation

// An on/off switch in the theme's colours: a pill track with a sliding knob.
Switch {
    id: control


    Keys.onReturnPressed: Activation.activate(control)
    Keys.onEnterPressed: Activation.activate(control)
    Accessible.name: control.text
    Accessible.onPressAction: Activation.activate(control)
    Accessible.onToggleAction: Activation.activate(control)

    indicator: Rectangle {
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        implicitWidth: 40
        implicitHeight: 22
        radius: 11
        color: control.checked ? Theme.accent : Theme.surfaceAlt
        border.color: control.checked ? Theme.accent : Theme.border

        // Keyboard focus halo around the track; a checked track's outline is already accent.
        Rectangle {
            objectName: "focusHalo"
            z: -1
            anchors.fill: parent
            anchors.margins: -3
            radius: 14
            color: Theme.accent
            opacity: 0.35
            visible: control.visualFocus
        }

        Rectangle {
            x: control.checked ? parent.width - width - 3 : 3
            y: (parent.height - height) / 2
            width: 16
            height: 16
            radius: 8
            color: control.checked ? Theme.accentText : Theme.muted
        }
    }

    // The stock label draws in the platform palette; this one follows the theme.
    contentItem: Text {
        leftPadding: control.indicator.width + control.spacing
        text: control.text
        verticalAlignment: Text.AlignVCenter
        font.pixelSize: Theme.fontBody
        color: control.enabled ? Theme.text : Theme.muted
    }
}
