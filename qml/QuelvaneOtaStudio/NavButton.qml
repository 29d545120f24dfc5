import QtQuick
import QtQuick.Controls
import "activation.js" as Activation
import QtQuick.Layouts

// An entry of a side navigation list: it marks itself current when currentWorkspace names
// its workspaceIndex.
Button {
    id: navButton

    property int workspaceIndex: 0
    property int currentWorkspace: 0
    property bool current: currentWorkspace === workspaceIndex

    readonly property color _fill: navButton.current ? Theme.surfaceAlt
                                 : navButton.hovered && navButton.enabled
                                   ? Qt.rgba(Theme.surfaceAlt.r, Theme.surfaceAlt.g, Theme.surfaceAlt.b, 0.5)
                                 : "transparent"


    implicitHeight: 44
    Layout.fillWidth: true

    Keys.onReturnPressed: Activation.activate(navButton)
    Keys.onEnterPressed: Activation.activate(navButton)
    Accessible.name: navButton.text
    Accessible.onPressAction: Activation.activate(navButton)

    contentItem: Text {
        text: navButton.text
        leftPadding: 14
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        font.pixelSize: Theme.fontBody
        font.bold: navButton.current
        color: navButton.current ? Theme.text : navButton.enabled ? Theme.muted : Theme.border
    }

    background: Rectangle {
        radius: Theme.controlRadius
        color: navButton._fill

        Rectangle {
            visible: navButton.current
            x: 3
            y: 9
            width: 3
            height: parent.height - 18
            radius: 2
            color: Theme.accent
        }

        // Keyboard focus ring; its fill repeats the button's, which reads as an empty ring.
        Rectangle {
            objectName: "focusRing"
            anchors.fill: parent
            anchors.margins: 2
            radius: 6
            color: navButton._fill
            border.width: 1
            border.color: Theme.accent
            visible: navButton.visualFocus
        }
    }
}
