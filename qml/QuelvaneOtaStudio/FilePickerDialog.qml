pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "pickerlisting.js" as Listing

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
            entryList.view.positionViewAtIndex(selectedIndex, ListView.Center)
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
        const drive = Listing.driveIndex(driveCombo.model || [], r.path)
        if (drive >= 0)
            driveCombo.currentIndex = drive
        currentPath = r.path
        parentPath = r.parent || ""
        pathField.text = r.path
        // Reset before the rows change, so no new row opens an editor or shows as selected.
        selectedIndex = -1
        editingIndex = -1
        listModel.clear()
        listModel.append(Listing.rows(r))
        if (preselectName)
            _selectAndCentre(_rowOf(preselectName))
    }

    function acceptCurrent() {
        // An open editor holds a name the file system has not accepted yet.
        if (editingIndex >= 0)
            return
        if (_mode === "dir") {
            if (_validRow(selectedIndex) && listModel.get(selectedIndex).entryIsDir)
                _finish(Listing.join(currentPath, listModel.get(selectedIndex).entryName))
            else if (currentPath !== "")
                _finish(currentPath)
        } else if (_mode === "save") {
            if (currentPath !== "" && _trimmedName !== "")
                _finishSave(Listing.join(currentPath, _trimmedName))
        } else if (_validRow(selectedIndex)) {
            const name = listModel.get(selectedIndex).entryName
            if (listModel.get(selectedIndex).entryIsDir)
                navigate(Listing.join(currentPath, name))
            else
                _finish(Listing.join(currentPath, name))
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
        const r = host.controller.browseRenameDir(Listing.join(currentPath, oldName), name)
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

    function _list(path) {
        return Listing.list(host.controller, _mode, nameFilters, path)
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
        const shown = Listing.openingChoices(initialPath).some(([folder, name]) => _show(folder, name))
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
        entryList.view.positionViewAtIndex(row, ListView.Center)
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
            entryList.view.forceActiveFocus()
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
            navigate(Listing.join(currentPath, name))
        else
            acceptCurrent()
    }

    function _summary() {
        if (_mode === "dir") {
            if (_validRow(selectedIndex) && listModel.get(selectedIndex).entryIsDir)
                return qsTr("Selected: ") + Listing.join(currentPath, listModel.get(selectedIndex).entryName)
            return qsTr("Selected: ") + currentPath
        }
        if (_mode === "save")
            return _trimmedName !== "" ? qsTr("Save to: ") + Listing.join(currentPath, _trimmedName)
                                       : qsTr("Enter a file name")
        if (_validRow(selectedIndex))
            return qsTr("Selected: ") + Listing.join(currentPath, listModel.get(selectedIndex).entryName)
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

    ReplaceQuestion {
        id: replaceQuestion
        objectName: "replaceQuestion"
        title: qsTr("Replace file?")
        message: qsTr("%1 already exists. Saving replaces it.").arg(replaceQuestion.path)
        onAccepted: root._finish(replaceQuestion.path)
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

        PickerList {
            id: entryList
            Layout.fillWidth: true
            Layout.fillHeight: true
            entries: listModel
            selectedIndex: root.selectedIndex
            editingIndex: root.editingIndex
            folder: root.currentPath
            emptyText: qsTr("Empty folder")
            onRowSelected: row => root._select(row)
            onRowClicked: row => root._rowClicked(row)
            onRowActivated: row => root._rowActivated(row)
            onAcceptRequested: root.acceptCurrent()
            onEdited: text => root._editText = text
            onRenameCommitted: (row, name) => root.commitRename(row, name)
            onEditCancelled: root.editingIndex = -1
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
