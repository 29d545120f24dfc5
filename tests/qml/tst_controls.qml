import QtQuick
import QtQuick.Controls
import QtTest
import QuelvaneOtaStudio

TestCase {
    name: "ThemedControls"
    width: 640
    height: 480
    visible: true
    when: windowShown

    Column {
        ThemedButton { id: button; text: "Start Upgrade"; hoverEnabled: true }
        ThemedCombo { id: combo }
        ThemedSwitch { id: toggle; text: "Verbose" }
        Card { id: card; Item { width: 300; height: 100 } }
    }

    ThemedDialog {
        id: dialog
        Item { implicitWidth: 100; implicitHeight: 50 }
    }

    SignalSpy { id: clickedSpy; target: button; signalName: "clicked" }
    SignalSpy { id: toggledSpy; target: toggle; signalName: "toggled" }

    function init() {
        button.enabled = true
        clickedSpy.clear()
        toggledSpy.clear()
    }

    function cleanup() {
        dialog.close()
        tryCompare(dialog, "visible", false)
        _closePopup()
        i18n.setLanguage("en")
    }

    // The list creates its delegates on its next polish, after the popup has opened.
    function _openPopup(model) {
        _closePopup()
        combo.model = model
        combo.popup.open()
        tryCompare(combo.popup, "opened", true)
        waitForItemPolished(combo.popup.contentItem)
        return combo.popup.contentItem
    }

    function _closePopup() {
        combo.popup.close()
        tryCompare(combo.popup, "visible", false)
    }

    // As strings, so that colours compare by value.
    function _buttonColours() {
        return [button.contentItem.color, button.background.border.color, button.background.color].map(String)
    }

    function _buttonTexts() {
        return Array.from(dialog.footer.contentChildren, b => b.text + "/" + b.kind).sort()
    }

    function test_button_colours() {
        // kind: [text, outline]; 5 is not a listed kind and takes the border tone.
        const rows = { 0: [Theme.text, Theme.border], 1: [Theme.accent, Theme.accent],
                       2: [Theme.danger, Theme.danger], 5: [Theme.border, Theme.border] }
        for (const kind in rows) {
            button.kind = Number(kind)
            compare(_buttonColours().slice(0, 2), rows[kind].map(String), "kind " + kind)
        }

        button.kind = 0
        mouseMove(button, button.width / 2, button.height / 2)
        tryCompare(button, "hovered", true)
        compare(_buttonColours(), [Theme.text, Theme.accent, Theme.surfaceAlt].map(String))

        // Disabled while the pointer stays on it: muted text, plain outline, no hover fill.
        button.kind = 1
        button.enabled = false
        compare(_buttonColours(), [Theme.muted, Theme.border, Theme.surface].map(String))
    }

    function test_combo() {
        combo.textMapper = id => id === "uart" ? "Serial (UART)" : "Network (UDP)"
        let list = _openPopup(["uart", "udp"])
        compare([list.itemAtIndex(0).text, list.itemAtIndex(1).text], ["Serial (UART)", "Network (UDP)"])
        combo.currentIndex = 1
        compare(combo.displayText, "Network (UDP)")
        combo.currentIndex = -1
        compare(combo.displayText, "")

        combo.textMapper = null
        combo.textRole = "name"
        list = _openPopup([{ name: "COM3" }, { name: "COM35" }])
        compare(list.itemAtIndex(1).text, "COM35")

        // The popup fits a short list and caps a long one, which then scrolls.
        combo.textRole = ""
        list = _openPopup(["a", "b", "c"])
        const rows = list.itemAtIndex(0).height + list.itemAtIndex(1).height + list.itemAtIndex(2).height
        tryCompare(combo.popup, "height", rows + 2)
        list = _openPopup(Array.from({ length: 100 }, (_, i) => "entry " + i))
        tryCompare(combo.popup, "height", 320)
        verify(list.contentHeight > 320, "the list scrolls")
    }

    // Empty header and footer take no room; the button texts come from the module's catalogue.
    function test_dialog() {
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(dialog.header.height, 0)
        compare(dialog.implicitFooterHeight, 0)
        compare(dialog.implicitHeight, 50 + 2 * 14)

        dialog.title = "Select Firmware"
        dialog.standardButtons = Dialog.Ok
        verify(dialog.implicitHeaderHeight > 14 + 4)
        compare(dialog.implicitFooterHeight, Theme.controlHeight + 8 + 14)

        dialog.standardButtons = Dialog.Ok | Dialog.Close
        compare(_buttonTexts(), ["Close/0", "OK/1"])
        dialog.acceptKind = 2
        dialog.standardButtons = Dialog.Yes | Dialog.No | Dialog.Cancel
        compare(_buttonTexts(), ["Cancel/0", "No/0", "Yes/2"])
        compare(dialog.standardButtonText(Dialog.HelpRole), "")

        i18n.setLanguage("zh_CN")
        dialog.standardButtons = Dialog.Ok | Dialog.Cancel
        compare(_buttonTexts(), ["取消/0", "确定/2"])
    }

    // Return, Enter and a screen reader's press act as a click does, and only while enabled.
    function test_keyboard_and_accessibility() {
        button.forceActiveFocus(Qt.TabFocusReason)
        keyClick(Qt.Key_Return)
        keyClick(Qt.Key_Enter)
        button.Accessible.pressAction()
        compare(clickedSpy.count, 3)
        button.enabled = false
        button.Accessible.pressAction()
        compare(clickedSpy.count, 3)

        toggle.forceActiveFocus(Qt.TabFocusReason)
        keyClick(Qt.Key_Return)
        verify(toggle.checked)
        compare(toggledSpy.count, 1)
    }

    function test_card_implicit_size() {
        compare([card.implicitWidth, card.implicitHeight], [328, 128])
    }
}
