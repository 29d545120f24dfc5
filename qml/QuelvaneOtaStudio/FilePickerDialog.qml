pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The module's own file and folder chooser. All file-system access goes through the
// controller's browse operations; the dialog itself only shows lists of names.
ThemedDialog {
    id: root

    property string pickerMode: "file"
    property var nameFilters: []
    property string initialPath: ""
    property string defaultFileName: ""
    property string currentPath: ""
    property string parentPath: ""
    property int selectedIndex: -1
    property int editingIndex: -1

    signal picked(string path)

    // Any unknown mode text behaves as "file".
    readonly property string _mode: pickerMode === "save" || pickerMode === "dir" ? pickerMode : "file"
    readonly property string _trimmedName: nameField.text.trim()
    // The text of the open in-place editor.
    property string _editText: ""

    width: 660
    height: 470
    padding: 12
    focus: true
    // Only Escape and Cancel end the browsing; a stray click beside the dialog does not.
    closePolicy: Popup.CloseOnEscape

    onAboutToShow: _open()
    onOpened: {
        // The opening listing was centred before the popup had its final size; centre again.
        if (_validRow(selectedIndex))
            listView.positionViewAtIndex(selectedIndex, ListView.Center)
        pathField.forceActiveFocus()
    }

    function navigate(path) {
        const r = _list(path)
        if (!r.ok) {
            statusLabel.text = qsTr("Cannot open folder: ") + path
            return false
        }
        applyResult(r, "")
        return true
    }

    function applyResult(r, preselectName) {
        statusLabel.text = ""
        const drive = String(r.path).substring(0, 3).toUpperCase()
        const drives = driveCombo.model || []
        for (let i = 0; i < drives.length; ++i) {
            if (String(drives[i]).toUpperCase() === drive) {
                driveCombo.currentIndex = i
                break
            }
        }
        currentPath = r.path
        parentPath = r.parent || ""
        pathField.text = r.path
        // Reset before the rows change, so no new row opens an editor or shows as selected.
        selectedIndex = -1
        editingIndex = -1
        const dirs = r.dirs || []
        const files = r.files || []
        const rows = []
        for (let d = 0; d < dirs.length; ++d)
            rows.push({ entryName: dirs[d], entryIsDir: true })
        for (let f = 0; f < files.length; ++f)
            rows.push({ entryName: files[f], entryIsDir: false })
        listModel.clear()
        listModel.append(rows)
        if (preselectName)
            _selectAndCentre(_rowOf(preselectName))
    }

    function acceptCurrent() {
        // An open editor holds a name the file system has not accepted yet.
        if (editingIndex >= 0)
            return
        if (_mode === "dir") {
            if (_validRow(selectedIndex) && listModel.get(selectedIndex).entryIsDir)
                _finish(_join(currentPath, listModel.get(selectedIndex).entryName))
            else if (currentPath !== "")
                _finish(currentPath)
        } else if (_mode === "save") {
            if (currentPath !== "" && _trimmedName !== "")
                _finishSave(_join(currentPath, _trimmedName))
        } else if (_validRow(selectedIndex)) {
            const name = listModel.get(selectedIndex).entryName
            if (listModel.get(selectedIndex).entryIsDir)
                navigate(_join(currentPath, name))
            else
                _finish(_join(currentPath, name))
        }
    }

    function createFolder() {
        if (currentPath === "")
            return
        const r = host.controller.browseCreateDir(currentPath, qsTr("New Folder"))
        if (!r.ok) {
            statusLabel.text = qsTr("Cannot create folder here")
            return
        }
        statusLabel.text = ""
        if (!navigate(currentPath))
            return
        const row = _rowOf(r.name)
        if (row < 0)
            return
        _selectAndCentre(row)
        editingIndex = row
    }

    function commitRename(index, newName) {
        if (index < 0 || index !== editingIndex || index >= listModel.count)
            return
        const oldName = listModel.get(index).entryName
        editingIndex = -1
        const name = String(newName).trim()
        if (name === "" || name === oldName)
            return
        const r = host.controller.browseRenameDir(_join(currentPath, oldName), name)
        if (!r.ok) {
            statusLabel.text = r.error === "exists" ? qsTr("A folder with this name already exists")
                                                    : qsTr("Invalid folder name")
            editingIndex = index
            return
        }
        statusLabel.text = ""
        navigate(currentPath)
        _selectAndCentre(_rowOf(r.name))
    }

    // A root such as "/" or "C:/" already ends with the separator; doubling it would hand
    // back "//x" or "C://x".
    function _join(folder, name) {
        return folder === "" || folder.endsWith("/") ? folder + name : folder + "/" + name
    }

    // A file to save shows what it could replace: every file of the folder, whatever the
    // filters say.
    function _list(path) {
        if (_mode === "save")
            return host.controller.browseListAll(path)
        const filters = _mode === "dir" ? [] : (nameFilters || [])
        return host.controller.browseListDir(path, filters)
    }

    function _show(path, preselectName) {
        const r = _list(path)
        if (r.ok)
            applyResult(r, preselectName)
        return r.ok
    }

    function _open() {
        statusLabel.text = ""
        editingIndex = -1
        driveCombo.model = host.controller.browseDrives()
        nameField.text = defaultFileName
        const p = String(initialPath).replace(/\\/g, "/")
        let shown = false
        if (p !== "") {
            shown = _show(p, "")
            const slash = p.lastIndexOf("/")
            if (!shown && slash > 0) {
                // "C:" alone names the drive's current folder, not its root.
                let folder = p.substring(0, slash)
                if (/^[A-Za-z]:$/.test(folder))
                    folder += "/"
                shown = _show(folder, p.substring(slash + 1))
            }
        }
        const drives = driveCombo.model || []
        if (!shown && drives.length > 0)
            navigate(drives[0])
    }

    function _finish(path) {
        close()
        picked(path)
    }

    // An existing entry is replaced only when the user says so.
    function _finishSave(path) {
        if (!host.controller.browseExists(path)) {
            _finish(path)
            return
        }
        replaceQuestion.path = path
        replaceQuestion.open()
    }

    // The open editor's name goes to the file system as Enter would send it; then the click
    // that ended the edit may act.
    function _endEdit() {
        if (editingIndex >= 0)
            commitRename(editingIndex, _editText)
    }

    function _validRow(row) {
        return row >= 0 && row < listModel.count
    }

    function _rowOf(name) {
        for (let i = 0; i < listModel.count; ++i) {
            if (listModel.get(i).entryName === name)
                return i
        }
        return -1
    }

    function _selectAndCentre(row) {
        if (!_validRow(row))
            return
        selectedIndex = row
        listView.positionViewAtIndex(row, ListView.Center)
    }

    // A pointer click or a keyboard move: the selection, and in "save" mode a file's name.
    function _select(row) {
        if (!_validRow(row))
            return
        selectedIndex = row
        if (_mode === "save" && !listModel.get(row).entryIsDir)
            nameField.text = listModel.get(row).entryName
    }

    // A rename sorts the list anew, so the clicked row is found again by its name. When the
    // name is refused, the editor stays open and the click does nothing more.
    function _rowClicked(row) {
        if (!_validRow(row))
            return
        const name = listModel.get(row).entryName
        const edited = editingIndex
        _endEdit()
        if (editingIndex >= 0)
            return
        if (edited === row)
            listView.forceActiveFocus()
        else
            _select(edited >= 0 ? _rowOf(name) : row)
    }

    // Double-click, Enter and the accessibility press action.
    function _rowActivated(row) {
        if (editingIndex >= 0 || !_validRow(row))
            return
        selectedIndex = row
        const name = listModel.get(row).entryName
        const isDir = listModel.get(row).entryIsDir
        if (_mode === "save" && !isDir)
            nameField.text = name
        else if (isDir)
            navigate(_join(currentPath, name))
        else
            acceptCurrent()
    }

    function _summary() {
        if (_mode === "dir") {
            if (_validRow(selectedIndex) && listModel.get(selectedIndex).entryIsDir)
                return qsTr("Selected: ") + _join(currentPath, listModel.get(selectedIndex).entryName)
            return qsTr("Selected: ") + currentPath
        }
        if (_mode === "save")
            return _trimmedName !== "" ? qsTr("Save to: ") + _join(currentPath, _trimmedName)
                                       : qsTr("Enter a file name")
        if (_validRow(selectedIndex))
            return qsTr("Selected: ") + _join(currentPath, listModel.get(selectedIndex).entryName)
        return qsTr("Select a file")
    }

    function _canAccept() {
        if (editingIndex >= 0)
            return false
        if (_mode === "dir")
            return currentPath !== ""
        if (_mode === "save")
            return currentPath !== "" && _trimmedName !== ""
        return _validRow(selectedIndex)
    }

    ListModel {
        id: listModel
    }

    Host {
        id: host
    }

    ThemedDialog {
        id: replaceQuestion
        objectName: "replaceQuestion"

        property string path: ""

        parent: Overlay.overlay
        width: 460
        title: qsTr("Replace file?")
        standardButtons: Dialog.Yes | Dialog.No
        acceptKind: 2
        closePolicy: Popup.CloseOnEscape
        onAccepted: root._finish(path)

        Label {
            width: parent.width
            text: qsTr("%1 already exists. Saving replaces it.").arg(replaceQuestion.path)
            wrapMode: Text.WrapAnywhere
            color: Theme.text
            font.pixelSize: Theme.fontBody
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            ThemedCombo {
                id: driveCombo
                objectName: "driveCombo"
                implicitWidth: 96
                onActivated: (index) => root.navigate(driveCombo.textAt(index))
            }

            ThemedTextField {
                id: pathField
                objectName: "pathField"
                Layout.fillWidth: true
                Accessible.name: text
                onAccepted: root.navigate(text)
            }

            ThemedButton {
                objectName: "upButton"
                text: qsTr("Up")
                enabled: root.parentPath !== ""
                onClicked: root.navigate(root.parentPath)
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
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
                model: listModel
                currentIndex: root.selectedIndex
                boundsBehavior: Flickable.StopAtBounds
                activeFocusOnTab: true
                keyNavigationEnabled: false
                // Scrolling the edited row away would destroy its editor in the middle of an edit.
                interactive: root.editingIndex < 0
                Accessible.role: Accessible.List
                Accessible.name: root.currentPath

                ScrollBar.vertical: ScrollBar {
                    interactive: root.editingIndex < 0
                }

                Keys.onPressed: (event) => {
                    // While the editor is open, its unused keys (Up, Down) must not move the rows.
                    if (root.editingIndex >= 0)
                        return
                    const last = listModel.count - 1
                    const page = Math.max(1, Math.floor(listView.height / Theme.rowHeight) - 1)
                    const current = root.selectedIndex
                    let row = -1
                    switch (event.key) {
                    case Qt.Key_Up: row = Math.max(0, current - 1); break
                    case Qt.Key_Down: row = Math.min(last, current + 1); break
                    case Qt.Key_PageUp: row = Math.max(0, current - page); break
                    case Qt.Key_PageDown: row = Math.min(last, current + page); break
                    case Qt.Key_Home: row = 0; break
                    case Qt.Key_End: row = last; break
                    case Qt.Key_Return:
                    case Qt.Key_Enter:
                        event.accepted = true
                        if (root._validRow(current))
                            root._rowActivated(current)
                        else
                            root.acceptCurrent()
                        return
                    default:
                        return
                    }
                    event.accepted = true
                    if (root._validRow(row)) {
                        root._select(row)
                        listView.positionViewAtIndex(row, ListView.Contain)
                    }
                }

                delegate: Rectangle {
                    id: row

                    required property int index
                    required property string entryName
                    required property bool entryIsDir
                    readonly property bool selected: index === root.selectedIndex
                    readonly property bool editing: index === root.editingIndex

                    width: listView.width
                    height: Theme.rowHeight
                    radius: 4
                    color: selected ? Theme.accent : (mouseArea.containsMouse ? Theme.surface : "transparent")

                    Accessible.role: Accessible.ListItem
                    // A trailing "/" marks a folder without a text that would need translating.
                    Accessible.name: entryIsDir ? entryName + "/" : entryName
                    Accessible.selectable: true
                    Accessible.selected: selected
                    Accessible.onPressAction: root._rowActivated(row.index)

                    MouseArea {
                        id: mouseArea
                        anchors.fill: parent
                        hoverEnabled: true
                        onClicked: root._rowClicked(row.index)
                        onDoubleClicked: root._rowActivated(row.index)
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
                                    root._editText = text
                                    forceActiveFocus()
                                    selectAll()
                                } else if (activeFocus) {
                                    // A hidden editor keeps the focus of the list's scope and
                                    // would take Escape from the dialog; the list has the keys.
                                    focus = false
                                    listView.forceActiveFocus()
                                }
                            }
                            onTextChanged: {
                                if (visible)
                                    root._editText = text
                            }
                            onActiveFocusChanged: {
                                if (!activeFocus && visible)
                                    root.commitRename(row.index, text)
                            }
                            // Accepted here so that neither the list (Enter) nor the dialog
                            // (Escape) sees these keys.
                            Keys.onReturnPressed: (event) => {
                                event.accepted = true
                                root.commitRename(row.index, text)
                            }
                            Keys.onEnterPressed: (event) => {
                                event.accepted = true
                                root.commitRename(row.index, text)
                            }
                            Keys.onEscapePressed: (event) => {
                                event.accepted = true
                                text = row.entryName
                                root.editingIndex = -1
                            }
                        }
                    }
                }
            }

            Label {
                objectName: "emptyLabel"
                anchors.centerIn: parent
                visible: listModel.count === 0
                text: qsTr("Empty folder")
                color: Theme.muted
                font.pixelSize: Theme.fontSmall
            }
        }

        Label {
            id: statusLabel
            objectName: "statusLabel"
            Layout.fillWidth: true
            color: Theme.danger
            font.pixelSize: Theme.fontSmall
            elide: Text.ElideMiddle
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            visible: root._mode === "save"

            Label {
                text: qsTr("File name:")
                color: Theme.muted
                font.pixelSize: Theme.fontBody
            }

            ThemedTextField {
                id: nameField
                objectName: "nameField"
                Layout.fillWidth: true
                Accessible.name: qsTr("File name:")
                onAccepted: root.acceptCurrent()
            }
        }

        // Not a direct child of the column: a nested layout is only rearranged when its own
        // size changes, so the New Folder button, shown by a mode set before the first
        // opening, stayed unplaced under the summary. A layout of its own polishes itself.
        Item {
            Layout.fillWidth: true
            implicitHeight: bottomRow.implicitHeight

            RowLayout {
                id: bottomRow
                anchors.fill: parent
                spacing: 8

                Label {
                    objectName: "summaryLabel"
                    Layout.fillWidth: true
                    // Only the room the buttons leave: a long path is elided, not laid under them.
                    Layout.preferredWidth: 0
                    text: root._summary()
                    color: Theme.muted
                    font.pixelSize: Theme.fontSmall
                    elide: Text.ElideMiddle
                }

                ThemedButton {
                    objectName: "newFolderButton"
                    text: qsTr("New Folder")
                    visible: root._mode !== "file"
                    enabled: root.currentPath !== ""
                    onClicked: root.createFolder()
                }

                ThemedButton {
                    objectName: "cancelButton"
                    text: qsTr("Cancel")
                    onClicked: root.close()
                }

                ThemedButton {
                    objectName: "okButton"
                    kind: 1
                    text: qsTr("OK")
                    enabled: root._canAccept()
                    onClicked: root.acceptCurrent()
                }
            }
        }
    }
}
