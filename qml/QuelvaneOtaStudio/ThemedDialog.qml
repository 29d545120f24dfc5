import QtQuick
import QtQuick.Controls

// A modal dialog in the theme's colours, centred in its parent. Its standard buttons are
// themed buttons with texts from this module's catalogue, not the platform's, so they follow
// the window's language.
Dialog {
    id: control

    // ThemedButton kind of the accepting buttons (accept and yes roles).
    property int acceptKind: 1

    // role is a DialogButtonBox role. Dialog carries the same enumeration and, unlike the
    // button box, declares it to the QML tooling, so the roles are spelled through Dialog here.
    function standardButtonText(role) {
        switch (role) {
        case Dialog.AcceptRole:
            return qsTr("OK")
        case Dialog.YesRole:
            return qsTr("Yes")
        case Dialog.NoRole:
            return qsTr("No")
        case Dialog.RejectRole:
            return (control.standardButtons & Dialog.Close) ? qsTr("Close") : qsTr("Cancel")
        default:
            return ""
        }
    }

    modal: true
    padding: 14
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0

    background: Rectangle {
        radius: Theme.radius
        color: Theme.surface
        border.color: Theme.border
    }

    // Header and footer collapse to no height when empty, so an untitled or button-less
    // dialog gives all its room to the content.
    header: Label {
        text: control.title
        visible: control.title !== ""
        height: visible ? implicitHeight : 0
        leftPadding: 16
        rightPadding: 16
        topPadding: 14
        bottomPadding: 4
        elide: Text.ElideRight
        font.bold: true
        font.pixelSize: Theme.fontTitle
        color: Theme.text
    }

    footer: DialogButtonBox {
        visible: count > 0
        implicitHeight: count > 0 ? contentHeight + topPadding + bottomPadding : 0
        padding: 14
        topPadding: 8
        spacing: 8
        alignment: Qt.AlignRight | Qt.AlignVCenter
        background: Item {}

        // As in ThemedCombo: the box creates its buttons outside this file's context, so the
        // linter cannot see that `control` resolves here, as it does at run time.
        // qmllint disable unqualified
        delegate: ThemedButton {
            id: standardButton
            readonly property int _role: standardButton.DialogButtonBox.buttonRole
            kind: _role === Dialog.AcceptRole || _role === Dialog.YesRole
                  ? control.acceptKind : 0
            text: control.standardButtonText(_role)
        }
        // qmllint enable unqualified
    }
}
