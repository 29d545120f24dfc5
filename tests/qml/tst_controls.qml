import QtQuick
import QtQuick.Controls
import QtTest
import QuelvaneOtaStudio

TestCase {
    id: testCase
    name: "ThemedControls"
    width: 640
    height: 480
    visible: true
    when: windowShown

    Column {
        ThemedButton { id: button; text: "Start Upgrade"; hoverEnabled: true }
        ThemedCombo { id: combo }
        ThemedSlider { id: slider; to: 10; stepSize: 1 }
        ThemedSwitch { id: toggle; text: "Verbose" }
        ThemedTextField { id: plainField; placeholderText: "Select encrypted image (.qvbit)..." }
        ThemedTextField { id: captionedField; placeholderText: "7777"; Accessible.name: "BOARD PORT" }
        Card { id: card; Item { width: 300; height: 100 } }
    }

    ThemedDialog {
        id: dialog
        Item { implicitWidth: 100; implicitHeight: 50 }
    }

    SignalSpy { id: clickedSpy; target: button; signalName: "clicked" }
    SignalSpy { id: toggledSpy; target: toggle; signalName: "toggled" }

    function init() {
        button.kind = 0
        button.enabled = true
        combo.textMapper = null
        combo.textRole = ""
        combo.model = []
        toggle.checked = false
        slider.value = 5
        dialog.title = ""
        dialog.standardButtons = Dialog.NoButton
        clickedSpy.clear()
        toggledSpy.clear()
    }

    function cleanup() {
        dialog.close()
        combo.popup.close()
        tryCompare(dialog, "visible", false)
        tryCompare(combo.popup, "visible", false)
        mouseMove(testCase, testCase.width - 1, testCase.height - 1)
        i18n.setLanguage("en")
    }

    // The list creates its delegates on its next polish, after the popup has opened.
    function _openPopup() {
        combo.popup.open()
        tryCompare(combo.popup, "opened", true)
        waitForItemPolished(combo.popup.contentItem)
        return combo.popup.contentItem
    }

    function _buttonTexts() {
        const texts = []
        for (let i = 0; i < dialog.footer.count; ++i)
            texts.push(dialog.footer.itemAt(i).text + "/" + dialog.footer.itemAt(i).kind)
        return texts.sort()
    }

    function test_button_colours() {
        // kind: [text, outline]; 5 is not a listed kind and takes the border tone.
        const rows = { 0: [Theme.text, Theme.border], 1: [Theme.accent, Theme.accent],
                       2: [Theme.danger, Theme.danger], 5: [Theme.border, Theme.border] }
        for (const kind in rows) {
            button.kind = Number(kind)
            compare(String(button.contentItem.color), String(rows[kind][0]), "text " + kind)
            compare(String(button.background.border.color), String(rows[kind][1]), "outline " + kind)
        }

        button.kind = 0
        mouseMove(button, button.width / 2, button.height / 2)
        tryCompare(button, "hovered", true)
        compare(String(button.background.color), String(Theme.surfaceAlt))
        compare(String(button.background.border.color), String(Theme.accent))

        // Disabled while the pointer stays on it: muted text, plain outline, no hover fill.
        button.kind = 1
        button.enabled = false
        compare(String(button.contentItem.color), String(Theme.muted))
        compare(String(button.background.border.color), String(Theme.border))
        compare(String(button.background.color), String(Theme.surface))
    }

    function test_combo_texts() {
        combo.model = ["uart", "udp"]
        combo.currentIndex = 1
        combo.textMapper = id => id === "uart" ? "Serial (UART)" : "Network (UDP)"
        compare(combo.displayText, "Network (UDP)")
        compare(combo.contentItem.item.text, "Network (UDP)")
        compare(combo.Accessible.name, "Network (UDP)")
        combo.currentIndex = -1
        compare(combo.displayText, "")

        let list = _openPopup()
        compare([list.itemAtIndex(0).text, list.itemAtIndex(1).text], ["Serial (UART)", "Network (UDP)"])
        combo.popup.close()
        tryCompare(combo.popup, "visible", false)
        combo.textMapper = null
        combo.textRole = "name"
        combo.model = [{ name: "COM3" }, { name: "COM35" }]
        list = _openPopup()
        compare(list.itemAtIndex(1).text, "COM35")
    }

    function test_combo_popup_height() {
        combo.model = Array.from({ length: 100 }, (_, i) => "entry " + i)
        let list = _openPopup()
        tryCompare(combo.popup, "height", 320)
        verify(list.contentHeight > 320, "the list scrolls")
        combo.popup.close()
        tryCompare(combo.popup, "visible", false)

        combo.model = ["a", "b", "c"]
        list = _openPopup()
        const rows = list.itemAtIndex(0).height + list.itemAtIndex(1).height + list.itemAtIndex(2).height
        tryCompare(combo.popup, "height", rows + 2)
    }

    function test_dialog_header_and_footer_collapse() {
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(dialog.header.height, 0)
        compare(dialog.implicitFooterHeight, 0)
        compare(dialog.implicitHeight, 50 + 2 * 14)
        compare(dialog.contentItem.y, 14)

        dialog.title = "Select Firmware"
        dialog.standardButtons = Dialog.Ok
        verify(dialog.implicitHeaderHeight > 14 + 4)
        compare(dialog.implicitFooterHeight, Theme.controlHeight + 8 + 14)
    }

    function test_dialog_standard_buttons() {
        dialog.standardButtons = Dialog.Ok | Dialog.Close
        compare(_buttonTexts(), ["Close/0", "OK/1"])
        dialog.acceptKind = 2
        dialog.standardButtons = Dialog.Yes | Dialog.No | Dialog.Cancel
        compare(_buttonTexts(), ["Cancel/0", "No/0", "Yes/2"])
        dialog.acceptKind = 1
        compare(dialog.standardButtonText(Dialog.HelpRole), "")

        i18n.setLanguage("zh_CN")
        dialog.standardButtons = Dialog.Ok | Dialog.Cancel
        compare(_buttonTexts(), ["取消/0", "确定/1"])
        dialog.standardButtons = Dialog.Close
        compare(_buttonTexts(), ["关闭/0"])
    }

    function test_keyboard() {
        button.forceActiveFocus(Qt.TabFocusReason)
        verify(findChild(button.background, "focusRing").visible, "focus ring")
        keyClick(Qt.Key_Space)
        keyClick(Qt.Key_Return)
        keyClick(Qt.Key_Enter)
        compare(clickedSpy.count, 3)

        slider.forceActiveFocus(Qt.TabFocusReason)
        keyClick(Qt.Key_Right)
        compare(slider.value, 6)

        toggle.forceActiveFocus(Qt.TabFocusReason)
        keyClick(Qt.Key_Return)
        verify(toggle.checked)
        compare(toggledSpy.count, 1)

        dialog.open()
        tryCompare(dialog, "opened", true)
        keyClick(Qt.Key_Escape)
        tryCompare(dialog, "visible", false)
    }

    // The accessibility layer's press and toggle actions arrive as these attached signals.
    function test_accessibility() {
        compare(button.Accessible.name, "Start Upgrade")
        compare(plainField.Accessible.name, "Select encrypted image (.qvbit)...")
        compare(captionedField.Accessible.name, "BOARD PORT")

        button.Accessible.pressAction()
        compare(clickedSpy.count, 1)
        button.enabled = false
        button.Accessible.pressAction()
        compare(clickedSpy.count, 1)

        toggle.Accessible.toggleAction()
        verify(toggle.checked)
        toggle.Accessible.pressAction()
        verify(!toggle.checked)
        compare(toggledSpy.count, 2)
    }

    function test_card_implicit_size() {
        compare([card.implicitWidth, card.implicitHeight], [328, 128])
    }
}
