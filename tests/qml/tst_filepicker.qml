import QtQuick
import QtTest
import QuelvaneOtaStudio

// The picker against real temporary folders, through the real controller.
Item {
    width: 900
    height: 700

    FilePickerDialog { id: picker; title: "Pick" }
    SignalSpy { id: pickedSpy; target: picker; signalName: "picked" }

    TestCase {
        name: "FilePickerDialog"
        when: windowShown

        function part(name) { return findChild(picker.contentItem, name) }
        // Rows are remade when the list is next laid out, not when the listing arrives;
        // until then the old ones, already without an index, are still in place.
        function row(i) {
            const view = part("listView")
            tryVerify(() => view.itemAtIndex(i) !== null && view.itemAtIndex(i).index === i, 1000, "row " + i)
            return view.itemAtIndex(i)
        }
        function status() { return part("statusLabel").text }
        function summary() { return part("summaryLabel").text }
        // Folders carry a trailing "/", so order and kind are checked in one comparison.
        function rows() {
            const model = part("listView").model
            return Array.from({ length: model.count }, (_, i) => model.get(i))
                .map(entry => entry.entryName + (entry.entryIsDir ? "/" : ""))
        }
        function show(mode, path, filters, fileName) {
            picker.close()
            tryCompare(picker, "visible", false)
            pickedSpy.clear()
            picker.pickerMode = mode
            picker.initialPath = path
            picker.nameFilters = filters || []
            picker.defaultFileName = fileName || ""
            picker.open()
            tryCompare(picker, "opened", true)
        }
        function expectPicked(path) {
            compare(pickedSpy.signalArguments.map(args => args[0]), [path])
            tryCompare(picker, "visible", false)
        }

        function cleanup() {
            picker.close()
        }

        function test_opening() {
            const t = testFs.makeTree(["fw/image.qvbit", "fw/another.qvbit"])
            // A file, spelt with backslashes: its folder opens with the file selected.
            show("file", (t + "/fw/image.qvbit").replace(/\//g, "\\"), ["*.qvbit"])
            compare(rows()[picker.selectedIndex], "image.qvbit")

            // A failed listing keeps what is shown and says why.
            verify(!picker.navigate(t + "/missing"))
            compare(status(), "Cannot open folder: " + t + "/missing")
            mouseClick(part("okButton"))
            expectPicked(t + "/fw/image.qvbit")

            // No parent is tried for a slash at the start, nor found for a missing one.
            for (const path of ["/qvota-no-such-entry", t + "/missing/deeper/x.qvbit"]) {
                show("file", path, ["*.qvbit"])
                compare(picker.currentPath, ui.browseDrives()[0], path)
            }
        }

        function test_filtersAndAcceptPerMode() {
            const t = testFs.makeTree(["sub/", "b.QVBIT", "a.qvbit", "c.bin"])
            show("file", t, ["Images (*.qvbit)"])
            compare(rows(), ["sub/", "a.qvbit", "b.QVBIT"])
            verify(!part("okButton").enabled)
            compare(summary(), "Select a file")
            mouseClick(row(0))
            mouseClick(part("okButton"))    // a folder is entered, not picked
            compare(picker.currentPath, t + "/sub")
            compare(pickedSpy.count, 0)

            show("dir", t, ["*.qvbit"])
            compare(rows(), ["sub/"])
            verify(part("okButton").enabled)
            mouseClick(row(0))
            compare(summary(), "Selected: " + t + "/sub")
            mouseClick(part("okButton"))
            expectPicked(t + "/sub")

            show("save", t, ["*.qvbit"], "  ")
            verify(!part("okButton").enabled)
            compare(summary(), "Enter a file name")
            part("nameField").text = " fw.bin "
            part("nameField").forceActiveFocus()
            keyClick(Qt.Key_Return)
            expectPicked(t + "/fw.bin")

            // At a root the folder already ends with the separator.
            show("save", "/", [], " fw.bin ")
            compare(summary(), "Save to: /fw.bin")
            mouseClick(part("okButton"))
            expectPicked("/fw.bin")
        }

        // Double-click and Return activate a row the same way: a folder is entered and a file
        // picked, except in "save" mode, where a file only lends its name.
        function test_activation() {
            const t = testFs.makeTree(["sub/inner.qvbit", "fw.qvbit"])
            show("save", t, ["*.qvbit"], "mine.bin")
            mouseClick(row(1))
            compare(part("nameField").text, "fw.qvbit")
            part("nameField").text = "mine.bin"
            mouseDoubleClickSequence(row(1))
            compare(part("nameField").text, "fw.qvbit")
            compare(pickedSpy.count, 0)

            show("file", t, ["*.qvbit"])
            keyClick(Qt.Key_Tab)    // to Up
            keyClick(Qt.Key_Tab)    // to the list
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Up)
            keyClick(Qt.Key_Return)
            compare(picker.currentPath, t + "/sub")
            mouseDoubleClickSequence(row(0))
            expectPicked(t + "/sub/inner.qvbit")

            show("file", t, ["*.qvbit"])
            keyClick(Qt.Key_Escape)
            tryCompare(picker, "visible", false)
            compare(pickedSpy.count, 0)
        }

        function test_newFolderAndRename() {
            const t = testFs.makeTree(["Existing/"])
            show("dir", t)
            // The button a mode change shows has room of its own beside the summary.
            tryVerify(() => part("summaryLabel").x + part("summaryLabel").width <= part("newFolderButton").x)
            mouseClick(part("newFolderButton"))
            compare(rows(), ["Existing/", "New Folder/"])
            compare(picker.editingIndex, 1)
            const editor = findChild(row(1), "nameEditor")
            verify(editor.activeFocus)
            compare(editor.selectedText, "New Folder")

            const refusals = [["Existing", "A folder with this name already exists"],
                              ["a/b", "Invalid folder name"]]
            for (const [name, message] of refusals) {
                editor.text = name
                keyClick(Qt.Key_Return)
                compare(status(), message, name)
                compare(picker.editingIndex, 1, name)    // the editor is back for another try
                verify(editor.activeFocus, name)
            }

            // Escape leaves the typed name behind and the dialog open.
            keyClick(Qt.Key_Escape)
            compare(picker.editingIndex, -1)
            verify(picker.opened)
            // Blanks rename nothing; taking the focus away commits as Enter does.
            for (const name of ["   ", " Builds "]) {
                picker.editingIndex = 1
                editor.text = name
                mouseClick(part("pathField"))
                compare(picker.editingIndex, -1, name)
            }
            compare(status(), "")
            compare(rows()[picker.selectedIndex], "Builds/")
            compare(ui.browseListDir(t, []).dirs, ["Builds", "Existing"])
        }
    }
}
