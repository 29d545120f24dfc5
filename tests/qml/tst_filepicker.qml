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
            const view = part("listView"), names = []
            for (let i = 0; i < view.count; ++i)
                names.push(view.model.get(i).entryName + (view.model.get(i).entryIsDir ? "/" : ""))
            return names
        }
        function close() {
            picker.close()
            tryCompare(picker, "visible", false)
        }
        function show(mode, path, filters, fileName) {
            close()
            pickedSpy.clear()
            picker.pickerMode = mode
            picker.initialPath = path
            picker.nameFilters = filters || []
            picker.defaultFileName = fileName || ""
            picker.open()
            tryCompare(picker, "opened", true)
        }
        function expectPicked(path) {
            compare(pickedSpy.count, 1)
            compare(pickedSpy.signalArguments[0][0], path)
            tryCompare(picker, "visible", false)
        }

        function cleanup() {
            i18n.setLanguage("en")
            close()
        }

        function test_opening() {
            const t = testFs.makeTree(["fw/image.qvbit", "fw/another.qvbit"])
            // A file, spelt with backslashes: its folder opens with the file selected.
            show("file", (t + "/fw/image.qvbit").replace(/\//g, "\\"), ["*.qvbit"])
            compare(picker.currentPath, t + "/fw")
            compare(rows()[picker.selectedIndex], "image.qvbit")
            verify(part("pathField").activeFocus)
            compare(summary(), "Selected: " + t + "/fw/image.qvbit")

            // A failed listing keeps what is shown and says why, in the chosen language.
            verify(!picker.navigate(t + "/missing"))
            compare(status(), "Cannot open folder: " + t + "/missing")
            compare(picker.currentPath, t + "/fw")
            i18n.setLanguage("zh_CN")
            picker.navigate(t + "/missing")
            compare(status(), "无法打开文件夹：" + t + "/missing")
            mouseClick(part("okButton"))
            expectPicked(t + "/fw/image.qvbit")

            // No parent is tried for a slash at the start, nor found for a missing one.
            const firstDrive = ui.browseDrives()[0]
            for (const path of ["/qvota-no-such-entry", t + "/missing/deeper/x.qvbit"]) {
                show("file", path, ["*.qvbit"])
                compare(picker.currentPath, firstDrive, path)
            }
        }

        function test_filtersAndEmpty() {
            const t = testFs.makeTree(["sub/", "b.QVBIT", "a.qvbit", "c.bin", "empty/"])
            show("file", t, ["Images (*.qvbit)"])
            compare(rows(), ["empty/", "sub/", "a.qvbit", "b.QVBIT"])
            verify(!part("emptyLabel").visible)
            picker.navigate(t + "/empty")
            verify(part("emptyLabel").visible)
            show("dir", t, ["*.qvbit"])
            compare(rows(), ["empty/", "sub/"])
        }

        function test_acceptPerMode() {
            const t = testFs.makeTree(["sub/", "fw.qvbit"])
            show("file", t, ["*.qvbit"])
            verify(!part("okButton").enabled)
            compare(summary(), "Select a file")
            mouseClick(row(0))
            verify(part("okButton").enabled)
            mouseClick(part("okButton"))    // a folder is entered, not picked
            compare(picker.currentPath, t + "/sub")
            compare(pickedSpy.count, 0)

            show("dir", t)
            verify(part("okButton").enabled)
            compare(summary(), "Selected: " + t)
            mouseClick(row(0))
            compare(summary(), "Selected: " + t + "/sub")
            mouseClick(part("okButton"))
            expectPicked(t + "/sub")

            show("save", t, ["*.qvbit"], "  ")
            verify(!part("okButton").enabled)
            compare(summary(), "Enter a file name")
            part("nameField").text = " fw.bin "
            verify(part("okButton").enabled)
            part("nameField").forceActiveFocus()
            keyClick(Qt.Key_Return)
            expectPicked(t + "/fw.bin")

            // At a root the folder already ends with the separator.
            show("save", "/", [], " fw.bin ")
            compare(summary(), "Save to: /fw.bin")
            mouseClick(part("okButton"))
            expectPicked("/fw.bin")
        }

        function test_doubleClick() {
            const t = testFs.makeTree(["sub/inner.qvbit", "fw.qvbit"])
            show("save", t, ["*.qvbit"], "mine.bin")
            mouseClick(row(1))
            compare(part("nameField").text, "fw.qvbit")
            part("nameField").text = "mine.bin"
            mouseDoubleClickSequence(row(1))
            compare(part("nameField").text, "fw.qvbit")
            compare(pickedSpy.count, 0)

            show("file", t, ["*.qvbit"])
            mouseDoubleClickSequence(row(0))
            compare(picker.currentPath, t + "/sub")
            mouseDoubleClickSequence(row(0))
            expectPicked(t + "/sub/inner.qvbit")
        }

        function test_newFolderAndRename() {
            const t = testFs.makeTree(["Existing/"])
            show("dir", t)
            // The button a mode change shows has room of its own beside the summary.
            const summaryLabel = part("summaryLabel")
            tryVerify(() => summaryLabel.x + summaryLabel.width <= part("newFolderButton").x)
            mouseClick(part("newFolderButton"))
            compare(rows(), ["Existing/", "New Folder/"])
            compare(picker.selectedIndex, 1)
            compare(picker.editingIndex, 1)
            const editor = findChild(row(1), "nameEditor")
            verify(editor.activeFocus)
            compare(editor.selectedText, "New Folder")

            const refusals = [["Existing", "A folder with this name already exists"],
                              ["a/b", "Invalid folder name"], ["CON", "Invalid folder name"]]
            for (const [name, message] of refusals) {
                editor.text = name
                keyClick(Qt.Key_Return)
                compare(status(), message, name)
                compare(picker.editingIndex, 1, name)    // the editor is back for another try
                verify(editor.activeFocus, name)
            }
            compare(rows(), ["Existing/", "New Folder/"])

            // Taking the focus away commits too.
            editor.text = " Builds "
            mouseClick(part("pathField"))
            compare(picker.editingIndex, -1)
            compare(status(), "")
            compare(rows(), ["Builds/", "Existing/"])
            compare(rows()[picker.selectedIndex], "Builds/")
            compare(ui.browseListDir(t, []).dirs, ["Builds", "Existing"])

            mouseClick(part("newFolderButton"))
            findChild(row(picker.editingIndex), "nameEditor").text = "Other"
            keyClick(Qt.Key_Escape)
            compare(picker.editingIndex, -1)
            verify(picker.opened)
            compare(rows(), ["Builds/", "Existing/", "New Folder/"])

            mouseClick(part("newFolderButton"))
            findChild(row(picker.editingIndex), "nameEditor").text = "   "
            keyClick(Qt.Key_Return)
            compare(picker.editingIndex, -1)
            compare(status(), "")
            compare(ui.browseListDir(t, []).dirs, ["Builds", "Existing", "New Folder", "New Folder (2)"])
        }

        function test_keyboard() {
            const t = testFs.makeTree(["a/inner.qvbit", "b.qvbit"])
            show("file", t, ["*.qvbit"])
            keyClick(Qt.Key_Tab)    // to Up
            keyClick(Qt.Key_Tab)    // to the list
            verify(part("listView").activeFocus)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Down)
            compare(picker.selectedIndex, 1)
            keyClick(Qt.Key_Up)
            keyClick(Qt.Key_Return)
            compare(picker.currentPath, t + "/a")
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Return)
            expectPicked(t + "/a/inner.qvbit")

            show("file", t, ["*.qvbit"])
            keyClick(Qt.Key_Escape)
            tryCompare(picker, "visible", false)
            compare(pickedSpy.count, 0)
        }
    }
}
