// What a user meets while renaming in the picker and when Save Log would replace a file.
import QtQuick
import QtQuick.Controls
import QtTest
import QuelvaneOtaStudio
import "finder.js" as Finder

Item {
    id: page
    width: 900
    height: 700

    FilePickerDialog { id: picker; title: "Pick" }
    SignalSpy { id: pickedSpy; target: picker; signalName: "picked" }

    Component {
        id: mainComponent
        Main {}
    }

    TestCase {
        name: "PickerAndSaveLog"
        when: windowShown

        function part(name) { return findChild(picker.contentItem, name) }
        function row(i) {
            const view = part("listView")
            tryVerify(() => view.itemAtIndex(i) !== null && view.itemAtIndex(i).index === i, 1000, "row " + i)
            return view.itemAtIndex(i)
        }
        function rowOf(name) {
            const model = part("listView").model
            for (let i = 0; i < model.count; ++i) {
                if (model.get(i).entryName === name)
                    return i
            }
            return -1
        }
        function show(mode, path, fileName) {
            picker.close()
            tryCompare(picker, "visible", false)
            pickedSpy.clear()
            picker.pickerMode = mode
            picker.initialPath = path
            picker.defaultFileName = fileName || ""
            picker.open()
            tryCompare(picker, "opened", true)
        }
        function editor() {
            const found = Finder.find(row(picker.editingIndex), "nameEditor")
            tryVerify(() => found.activeFocus)
            return found
        }

        function cleanup() {
            picker.close()
        }

        function test_clickWhileRenaming() {
            const t = testFs.makeTree(["alpha/", "beta/"])
            show("dir", t)
            picker.createFolder()
            verify(picker.editingIndex >= 0)
            verify(!part("okButton").enabled, "OK while the name is being edited")
            editor().text = "zeta"

            // A click on another row commits the name as Enter would, then selects that row.
            mouseClick(row(rowOf("alpha")))
            compare(picker.editingIndex, -1)
            verify(rowOf("zeta") >= 0 && rowOf("New Folder") < 0)
            compare(picker.selectedIndex, rowOf("alpha"))
            verify(part("okButton").enabled)

            // A refused name keeps the editor open, and the click does nothing more.
            picker.createFolder()
            editor().text = "beta"
            mouseClick(row(rowOf("alpha")))
            compare(part("statusLabel").text, "A folder with this name already exists")
            compare(picker.editingIndex, rowOf("New Folder"))
            compare(picker.selectedIndex, rowOf("New Folder"))
            keyClick(Qt.Key_Escape)
            compare(picker.editingIndex, -1)

            // A click beside the dialog keeps it open; Escape closes it.
            mouseClick(page, 5, 5)
            verify(picker.opened)
            keyClick(Qt.Key_Escape)
            tryCompare(picker, "visible", false)
            compare(pickedSpy.count, 0)
        }

        function test_saveAsksBeforeReplacing() {
            const t = testFs.makeTree(["image.qvbit", "notes"])
            show("save", t + "/image.qvbit", "image.qvbit")
            // Every file of the folder is listed, and a folder can be made here.
            verify(rowOf("image.qvbit") >= 0 && rowOf("notes") >= 0)
            verify(part("newFolderButton").visible)

            const question = findChild(picker, "replaceQuestion")
            mouseClick(part("okButton"))
            tryCompare(question, "opened", true)
            compare(pickedSpy.count, 0)
            question.reject()
            tryCompare(question, "visible", false)
            verify(picker.opened)
            compare(pickedSpy.count, 0)

            mouseClick(part("okButton"))
            tryCompare(question, "opened", true)
            question.accept()
            tryCompare(picker, "visible", false)
            compare(pickedSpy.signalArguments.map(args => args[0]), [t + "/image.qvbit"])

            // A new name asks nothing.
            show("save", t, "new.log")
            mouseClick(part("okButton"))
            compare(pickedSpy.signalArguments.map(args => args[0]), [t + "/new.log"])
            verify(!question.opened)
        }

        // Save Log writes the whole run, not only the rows still shown, and says what it lost.
        function test_saveLogKeepsTheRun() {
            ui.running = false
            const win = createTemporaryObject(mainComponent, page)
            const runLog = Finder.find(win, "runLog")
            for (let i = 0; i < 5000; ++i)
                ui.logAppended("line " + i)
            ui.otaFinished(true, "OTA FLOW COMPLETE")
            compare(Finder.find(win, "logView").count, 2001)
            const path = testSim.writeText("run.log", "")
            Finder.find(win, "saveDialog").picked(path)
            compare(ui.savedLines.length, 5001)
            compare(ui.savedLines[0], "line 0")
            compare(ui.savedLines[5000], "[OK] OTA FLOW COMPLETE")

            runLog.keptLines = 1000
            ui.logAppended("line 5000")
            Finder.find(win, "saveDialog").picked(path)
            compare(ui.savedLines.length, 1001)
            compare(ui.savedLines[0], "[4003 earlier lines dropped: only the last 1000 lines of a run are kept]")
            compare(ui.savedLines[1], "line 4003")
        }
    }
}
