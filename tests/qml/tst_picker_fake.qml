// What a user meets while renaming in the picker and when Save Log would replace a file.
import QtQuick
import QtTest
import QuelvaneOtaStudio
import "finder.js" as Finder

Item {
    id: page
    width: 900
    height: 700

    FilePickerDialog { id: picker }
    SignalSpy { id: pickedSpy; target: picker; signalName: "picked" }
    Component { id: mainComponent; Main {} }

    TestCase {
        name: "PickerAndSaveLog"
        when: windowShown

        function part(name) { return findChild(picker.contentItem, name) }
        function row(name) {
            const view = part("listView")
            for (let i = 0; i < view.count; ++i) {
                if (view.model.get(i).entryName === name) {
                    tryVerify(() => view.itemAtIndex(i) !== null && view.itemAtIndex(i).index === i)
                    return view.itemAtIndex(i)
                }
            }
            return null
        }
        function show(mode, path, fileName) {
            pickedSpy.clear()
            picker.pickerMode = mode
            picker.initialPath = path
            picker.defaultFileName = fileName
            picker.open()
            tryCompare(picker, "opened", true)
        }
        function rename(text) {
            picker.createFolder()
            const editor = findChild(part("listView").itemAtIndex(picker.editingIndex), "nameEditor")
            tryVerify(() => editor.activeFocus)
            editor.text = text
        }

        function test_clickWhileRenaming() {
            show("dir", testFs.makeTree(["alpha/", "beta/"]), "")
            rename("zeta")
            verify(!part("okButton").enabled, "OK while a name is edited")
            // A click on another row commits the name as Enter would, then selects that row.
            mouseClick(row("alpha"))
            verify(row("zeta") && !row("New Folder"))
            compare(picker.selectedIndex, row("alpha").index)
            verify(part("okButton").enabled)
            // A refused name keeps the editor open, and the click does nothing more.
            rename("beta")
            mouseClick(row("alpha"))
            compare(part("statusLabel").text, "A folder with this name already exists")
            compare(picker.editingIndex, row("New Folder").index)
            keyClick(Qt.Key_Escape)
            compare(picker.editingIndex, -1)
            // A click beside the dialog keeps it; Escape closes it.
            mouseClick(page, 5, 5)
            verify(picker.opened)
            keyClick(Qt.Key_Escape)
            tryCompare(picker, "visible", false)
            compare(pickedSpy.count, 0)
        }

        function test_saveAsksBeforeReplacing() {
            const t = testFs.makeTree(["image.qvbit", "notes"])
            show("save", t + "/image.qvbit", "image.qvbit")
            verify(row("image.qvbit") && row("notes") && part("newFolderButton").visible)
            const question = findChild(picker, "replaceQuestion")
            mouseClick(part("okButton"))
            tryCompare(question, "opened", true)
            question.reject()
            mouseClick(part("okButton"))
            tryCompare(question, "opened", true)
            compare(pickedSpy.count, 0)
            question.accept()
            compare(pickedSpy.signalArguments.map(args => args[0]), [t + "/image.qvbit"])
            // A new name asks nothing.
            show("save", t, "new.log")
            mouseClick(part("okButton"))
            compare(pickedSpy.signalArguments.map(args => args[0]), [t + "/new.log"])
            verify(!question.opened)
        }

        // Save Log writes the whole run, not only the rows still shown, and says what it lost.
        function test_saveLogKeepsTheRun() {
            ui.fakeRunning = false
            const win = createTemporaryObject(mainComponent, page)
            for (let i = 0; i < 5000; ++i)
                ui.logAppended("line " + i)
            ui.otaFinished(true, "OTA FLOW COMPLETE")
            compare(Finder.find(win, "logView").count, 2001)
            const path = testSim.writeText("run.log", "")
            Finder.find(win, "saveDialog").picked(path)
            compare(ui.fakeSavedLines.length, 5001)
            compare([ui.fakeSavedLines[0], ui.fakeSavedLines[5000]], ["line 0", "[OK] OTA FLOW COMPLETE"])
            // 5,003 lines with the note of the first save: the oldest 4,003 go.
            Finder.find(win, "runLog").keptLines = 1000
            ui.logAppended("line 5000")
            Finder.find(win, "saveDialog").picked(path)
            compare(ui.fakeSavedLines.slice(0, 2),
                    ["[4003 earlier lines dropped: only the last 1000 lines of a run are kept]",
                     "line 4003"])
            compare(ui.fakeSavedLines.length, 1001)
        }
    }
}
