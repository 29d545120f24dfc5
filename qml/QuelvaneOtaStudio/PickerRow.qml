import QtQuick
import QtQuick.Layouts

// One row of the file picker's list, a folder or a file, with the in-place editor that renames
// a folder. What a click, an activation or an edit means is the picker's to decide.
Rectangle {
    id: row

    required property int index
    required property string entryName
    required property bool entryIsDir
    property bool selected: false
    property bool editing: false

    signal clicked()
    // Double-click and the accessibility press action.
    signal activated()
    // The editor's text while it is open, the name it is left with (Enter, or the focus moving
    // away) and Escape, which keeps the old name.
    signal edited(string text)
    signal renameCommitted(string name)
    signal editCancelled()
    // The editor closed while it had the keys.
    signal editorLeft()

    height: Theme.rowHeight
    radius: 4
    color: selected ? Theme.accent : (mouseArea.containsMouse ? Theme.surface : "transparent")

    Accessible.role: Accessible.ListItem
    // A trailing "/" marks a folder without a text that would need translating.
    Accessible.name: entryIsDir ? entryName + "/" : entryName
    Accessible.selectable: true
    Accessible.selected: selected
    Accessible.onPressAction: row.activated()

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        hoverEnabled: true
        onClicked: row.clicked()
        onDoubleClicked: row.activated()
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        spacing: 8

        Text {
            // One width for both markers keeps the names in one column.
            Layout.preferredWidth: Theme.fontBody
            horizontalAlignment: Text.AlignHCenter
            text: row.entryIsDir ? "▸" : "·"
            font.pixelSize: Theme.fontBody
            color: row.selected ? Theme.accentText : (row.entryIsDir ? Theme.accent : Theme.muted)
        }

        Text {
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            visible: !row.editing
            text: row.entryName
            elide: Text.ElideMiddle
            font.pixelSize: Theme.fontBody
            color: row.selected ? Theme.accentText : Theme.text
        }

        ThemedTextField {
            id: editor
            objectName: "nameEditor"
            Layout.fillWidth: true
            Layout.preferredHeight: 26
            topPadding: 0
            bottomPadding: 0
            visible: row.editing
            text: row.entryName
            font.pixelSize: Theme.fontBody
            Accessible.name: text

            onVisibleChanged: {
                if (visible) {
                    row.edited(text)
                    forceActiveFocus()
                    selectAll()
                } else if (activeFocus) {
                    // A hidden editor keeps the focus of the list's scope and would take Escape
                    // from the dialog; the list takes the keys back.
                    focus = false
                    row.editorLeft()
                }
            }
            onTextChanged: {
                if (visible)
                    row.edited(text)
            }
            onActiveFocusChanged: {
                if (!activeFocus && visible)
                    row.renameCommitted(text)
            }
            // Accepted here so that neither the list (Enter) nor the dialog (Escape) sees these
            // keys.
            Keys.onReturnPressed: (event) => {
                event.accepted = true
                row.renameCommitted(text)
            }
            Keys.onEnterPressed: (event) => {
                event.accepted = true
                row.renameCommitted(text)
            }
            Keys.onEscapePressed: (event) => {
                event.accepted = true
                text = row.entryName
                row.editCancelled()
            }
        }
    }
}
