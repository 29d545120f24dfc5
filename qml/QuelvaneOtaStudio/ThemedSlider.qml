import QtQuick
import QtQuick.Controls

// A horizontal slider in the theme's colours: a thin track filled up to a round handle.
Slider {
    id: control

    implicitHeight: 28

    handle: Rectangle {
        x: control.leftPadding + control.visualPosition * (control.availableWidth - width)
        y: control.topPadding + (control.availableHeight - height) / 2
        implicitWidth: 16
        implicitHeight: 16
        radius: 8
        color: control.enabled ? Theme.accent : Theme.muted

        // Keyboard focus halo: the handle is too small for a visible outline.
        Rectangle {
            objectName: "focusHalo"
            z: -1
            anchors.centerIn: parent
            width: 26
            height: 26
            radius: 13
            color: Theme.accent
            opacity: 0.35
            visible: control.visualFocus
        }
    }

    background: Rectangle {
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        implicitWidth: 160
        implicitHeight: 4
        width: control.availableWidth
        height: implicitHeight
        radius: 2
        color: Theme.border

        Rectangle {
            width: control.visualPosition * parent.width
            height: parent.height
            radius: 2
            color: control.enabled ? Theme.accent : Theme.muted
        }
    }
}
