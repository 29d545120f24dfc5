import QtQuick
import QtQuick.Controls

// A single-line text field in the theme's colours; the outline turns accent while it has focus.
TextField {
    id: control

    implicitHeight: Theme.controlHeight
    leftPadding: 10
    rightPadding: 10
    selectByMouse: true
    font.pixelSize: Theme.fontBody
    color: Theme.text
    placeholderTextColor: Theme.muted
    selectionColor: Theme.accent
    selectedTextColor: Theme.accentText

    // A screen reader has no caption to read unless the field's user sets one.
    Accessible.name: control.placeholderText

    background: Rectangle {
        implicitWidth: 200
        radius: Theme.controlRadius
        border.width: 1
        color: control.enabled ? Theme.surfaceAlt : Theme.surface
        border.color: control.activeFocus ? Theme.accent : Theme.border
    }
}
