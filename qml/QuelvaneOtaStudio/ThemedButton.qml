import QtQuick
import QtQuick.Controls
import "activation.js" as Activation

// A push button in the theme's colours. kind picks its tone: 1 primary, 2 danger, 3 warning,
// 4 success; 0 and any other value draw a plain outlined button.
Button {
    id: control

    property int kind: 0
    readonly property color tone: kind === 1 ? Theme.accent
                                : kind === 2 ? Theme.danger
                                : kind === 3 ? Theme.warning
                                : kind === 4 ? Theme.success
                                : Theme.border

    readonly property color _fill: control.down || (control.hovered && control.enabled)
                                   ? Theme.surfaceAlt : Theme.surface


    implicitHeight: Theme.controlHeight
    implicitWidth: Math.max(96, implicitContentWidth + 28)

    Keys.onReturnPressed: Activation.activate(control)
    Keys.onEnterPressed: Activation.activate(control)
    Accessible.name: control.text
    Accessible.onPressAction: Activation.activate(control)

    contentItem: Text {
        text: control.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        font.pixelSize: Theme.fontBody
        color: !control.enabled ? Theme.muted : control.kind === 0 ? Theme.text : control.tone
    }

    background: Rectangle {
        radius: Theme.controlRadius
        border.width: 1
        color: control._fill
        border.color: !control.enabled ? Theme.border
                    : control.kind !== 0 ? control.tone
                    : control.hovered ? Theme.accent : Theme.border

        // Keyboard focus ring inside the outline, so toned outlines keep their colour. Its fill
        // repeats the button's, which reads as an empty ring.
        Rectangle {
            objectName: "focusRing"
            anchors.fill: parent
            anchors.margins: 3
            radius: 5
            color: control._fill
            border.width: 1
            border.color: Theme.accent
            visible: control.visualFocus
        }
    }
}
