pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls

// The file picker's list in its frame: the rows, the keys that move through them and the label
// of an empty folder. What a row's selection, activation or edit means is the picker's.
Rectangle {
    id: frame

    required property ListModel entries
    required property int selectedIndex
    required property int editingIndex
    // What a screen reader calls the list: the folder shown.
    required property string folder
    required property string emptyText
    readonly property ListView view: listView

    // A row reached by a key.
    signal rowSelected(int row)
    signal rowClicked(int row)
    // Double-click, Enter and the accessibility press action.
    signal rowActivated(int row)
    // Enter with no row selected.
    signal acceptRequested()
    // The in-place editor of a row, as the rows report it.
    signal edited(string text)
    signal renameCommitted(int row, string name)
    signal editCancelled()

    // The row a navigation key leads to from current (none of an empty list), or undefined for
    // any other key.
    function _rowForKey(key, current) {
        const last = entries.count - 1
        const page = Math.max(1, Math.floor(listView.height / Theme.rowHeight) - 1)
        switch (key) {
        case Qt.Key_Up: return Math.max(0, current - 1)
        case Qt.Key_Down: return Math.min(last, current + 1)
        case Qt.Key_PageUp: return Math.max(0, current - page)
        case Qt.Key_PageDown: return Math.min(last, current + page)
        case Qt.Key_Home: return 0
        case Qt.Key_End: return last
        }
        return undefined
    }

    radius: Theme.radius
    color: Theme.surfaceAlt
    // The list is a Tab stop of its own; without an outline nothing shows it has the keys.
    border.color: listView.activeFocus ? Theme.accent : Theme.border
    clip: true

    ListView {
        id: listView
        objectName: "listView"
        anchors.fill: parent
        anchors.margins: 4
        // The frame's clip alone lets rows scroll over its border.
        clip: true
        model: frame.entries
        currentIndex: frame.selectedIndex
        boundsBehavior: Flickable.StopAtBounds
        activeFocusOnTab: true
        keyNavigationEnabled: false
        // Scrolling the edited row away would destroy its editor in the middle of an edit.
        interactive: frame.editingIndex < 0
        Accessible.role: Accessible.List
        Accessible.name: frame.folder

        ScrollBar.vertical: ScrollBar {
            interactive: frame.editingIndex < 0
        }

        Keys.onPressed: (event) => {
            // While the editor is open, its unused keys (Up, Down) must not move the rows.
            if (frame.editingIndex >= 0)
                return
            const current = frame.selectedIndex
            const valid = row => row >= 0 && row < frame.entries.count
            if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
                event.accepted = true
                if (valid(current))
                    frame.rowActivated(current)
                else
                    frame.acceptRequested()
                return
            }
            const row = frame._rowForKey(event.key, current)
            if (row === undefined)
                return
            event.accepted = true
            if (valid(row)) {
                frame.rowSelected(row)
                listView.positionViewAtIndex(row, ListView.Contain)
            }
        }

        delegate: PickerRow {
            id: entryRow
            width: listView.width
            selected: entryRow.index === frame.selectedIndex
            editing: entryRow.index === frame.editingIndex
            onClicked: frame.rowClicked(entryRow.index)
            onActivated: frame.rowActivated(entryRow.index)
            onEdited: text => frame.edited(text)
            onRenameCommitted: name => frame.renameCommitted(entryRow.index, name)
            onEditCancelled: frame.editCancelled()
            onEditorLeft: listView.forceActiveFocus()
        }
    }

    Label {
        objectName: "emptyLabel"
        anchors.centerIn: parent
        visible: frame.entries.count === 0
        text: frame.emptyText
        color: Theme.muted
        font.pixelSize: Theme.fontSmall
    }
}
