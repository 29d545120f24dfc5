import QtQuick
import QtQuick.Controls

// The file picker's question before a save replaces an existing file: Yes replaces, No and
// Escape go back to the picker.
ThemedDialog {
    id: question

    // The file that would be replaced, and what the question says of it.
    property string path: ""
    property string message: ""

    parent: Overlay.overlay
    width: 460
    standardButtons: Dialog.Yes | Dialog.No
    acceptKind: 2
    closePolicy: Popup.CloseOnEscape

    Label {
        width: parent.width
        text: question.message
        wrapMode: Text.WrapAnywhere
        color: Theme.text
        font.pixelSize: Theme.fontBody
    }
}
