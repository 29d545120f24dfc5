import QtQuick

// A framed panel. Children declared inside a Card land in an inset item, so the frame keeps
// its 14 px margin whatever the content.
Rectangle {
    id: card

    default property alias content: container.data

    implicitWidth: container.implicitWidth + 28
    implicitHeight: container.implicitHeight + 28
    radius: Theme.radius
    color: Theme.surface
    border.width: 1
    border.color: Theme.border

    Item {
        id: container
        anchors.fill: parent
        anchors.margins: 14
        implicitWidth: childrenRect.width
        implicitHeight: childrenRect.height
    }
}
