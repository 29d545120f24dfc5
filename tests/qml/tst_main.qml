// The window with the real controller against the board simulator on 127.0.0.1: a user fills
// the card, presses Start and follows the run in the status pill, the progress and the log.
import QtQuick
import QtTest
import Qt.labs.settings
import QuelvaneOtaStudio
import "finder.js" as Finder

TestCase {
    id: testCase
    name: "MainEndToEnd"
    when: windowShown

    Component {
        id: mainComponent
        Main {}
    }

    property var win: null

    // In English, so that the texts below read as the source texts. Both keys, since Qt 6.4's
    // Settings writes every default back when one of its keys is missing.
    Settings {
        id: storedSettings
        category: "ui"
        Component.onCompleted: {
            setValue("language", "en");
            setValue("theme", "abyss");
            sync();
        }
    }

    function item(name) {
        const found = Finder.find(win, name);
        verify(found, name);
        return found;
    }

    function lastLine() {
        const view = item("logView");
        return view.count > 0 ? view.model.get(view.count - 1).line : "";
    }

    // The card filled for an update over UDP to a simulator started with simArgs.
    function prepare(simArgs, plainBytes) {
        const port = testSim.startUdp(simArgs);
        verify(port > 0, "simulator");
        win = createTemporaryObject(mainComponent, testCase);
        verify(win);
        item("transportCombo").currentIndex = 1;
        item("boardIpField").text = "127.0.0.1";
        item("boardPortField").text = String(port);
        item("hostIpCombo").model = ["loopback - 127.0.0.1"];
        item("hostIpCombo").currentIndex = 0;
        item("hostPortField").text = "0";
        item("targetCombo").currentIndex = 0; // no warm boot: its 8 s banner wait adds nothing here
        item("fileField").text = testSim.packImage(plainBytes);
    }

    function cleanup() {
        testSim.stop();
    }

    function test_successfulRun() {
        prepare([], 64 * 1024);
        const pill = item("statusPill");
        compare(pill.text, "Ready");
        mouseClick(item("startBtn"));
        tryCompare(pill, "text", "Upgrading", 5000);
        verify(!item("fileField").enabled && item("cancelBtn").enabled && !item("startBtn").enabled);
        tryCompare(pill, "text", "Last upgrade OK", 30000);
        compare(pill.tone, Theme.success);
        compare(item("progressText").text, "100%");
        compare(lastLine(), "[OK] OTA FLOW COMPLETE");
        const view = item("logView");
        view.positionViewAtEnd();
        tryVerify(() => view.itemAtIndex(view.count - 1) !== null);
        compare(view.itemAtIndex(view.count - 1).color, Theme.success);
        verify(item("startBtn").enabled && !item("cancelBtn").enabled);
    }

    function test_failingRun() {
        prepare(["--bad-img-crc"], 8 * 1024);
        mouseClick(item("startBtn"));
        tryCompare(item("statusPill"), "text", "Last upgrade failed", 30000);
        compare(item("statusPill").tone, Theme.danger);
        verify(lastLine().startsWith("[FAIL] IMG CRC32 mismatch"), lastLine());
        compare(win.lineColor(lastLine()), Theme.danger);
    }

    function test_cancelDuringTransfer() {
        // A slow board keeps the transfer going long enough to cancel it.
        prepare(["--latency-ms", "20"], 256 * 400);
        mouseClick(item("startBtn"));
        tryVerify(() => ui.progressDone >= 2, 20000);
        mouseClick(item("cancelBtn"));
        tryCompare(item("statusPill"), "text", "Last upgrade failed", 20000);
        compare(lastLine(), "[FAIL] cancelled by user");
        verify(ui.progressDone < ui.progressTotal);
    }
}
