// The window's own rules, with a recording stand-in as "ui": the start configuration, the
// list preferences, enabling while running, the log's trimming and colours, progress, status.
import QtQuick
import QtTest
import Qt.labs.settings
import QuelvaneOtaStudio
import "finder.js" as Finder

TestCase {
    id: testCase
    name: "MainRules"
    when: windowShown

    Component {
        id: mainComponent
        Main {}
    }

    Settings {
        id: storedSettings
        category: "ui"
    }

    property var win: null

    function item(name) {
        const found = Finder.find(win, name);
        verify(found, name);
        return found;
    }

    function open(ports, hosts) {
        ui.ports = ports;
        ui.hosts = hosts;
        ui.running = false;
        ui.progressTotal = 0;
        ui.progressDone = 0;
        win = createTemporaryObject(mainComponent, testCase);
        verify(win);
        return win;
    }

    // Synced at once, so a window made next reads it.
    function store(language, theme) {
        storedSettings.setValue("language", language);
        storedSettings.setValue("theme", theme);
        storedSettings.sync();
    }

    function init() {
        store("en", "abyss");
    }

    function test_startConfiguration() {
        open(["COM3 - a", "COM35 - b", "COM350 - c"], ["Wi-Fi - 10.0.0.5", "Ethernet - 192.168.0.3"]);
        compare(item("portCombo").currentText, "COM35 - b");
        compare(item("hostIpCombo").currentText, "Ethernet - 192.168.0.3");
        verify(!item("startBtn").enabled, "no image yet");

        item("fileField").text = "/fw/image.qvbit";
        item("boardPortField").text = "77x";
        item("hostPortField").text = "port";
        item("targetCombo").currentIndex = 0;
        mouseClick(item("startBtn"));
        compare(ui.starts, 1);
        compare(ui.lastKeys, ["transport", "port", "baud", "ip", "udpPort", "hostIp", "hostPort",
                              "file", "target", "warmBoot"]);
        const cfg = ui.lastConfig;
        compare(cfg.transport, "uart");
        compare(cfg.port, "COM35 - b");
        compare(cfg.baud, 115200);
        compare(cfg.ip, "192.168.0.100");
        compare(cfg.udpPort, 77);
        compare(cfg.hostIp, "Ethernet - 192.168.0.3");
        verify(isNaN(cfg.hostPort));
        compare(cfg.file, "/fw/image.qvbit");
        compare(cfg.target, "");
        compare(cfg.warmBoot, false);

        // The other transport shows the other group; the serial values still travel.
        item("transportCombo").currentIndex = 1;
        verify(!item("serialGroup").visible && item("networkGroup").visible);
        item("targetCombo").currentIndex = 1;
        item("baudCombo").currentIndex = 2;
        win.startOta();
        compare(ui.lastConfig.transport, "udp");
        compare(ui.lastConfig.baud, 9600);
        compare(ui.lastConfig.port, "COM35 - b");
        compare(ui.lastConfig.target, "1");
        compare(ui.lastConfig.warmBoot, true);
    }

    function test_listPreferences_data() {
        return [
            { tag: "only COM7", ports: ["COM7"], port: "COM7", hosts: [], host: "" },
            { tag: "none", ports: [], port: "", hosts: ["a - 10.1.1.1", "b - 10.2.2.2"], host: "a - 10.1.1.1" },
            { tag: "prefix", ports: ["COM350 - x", "COM35"], port: "COM350 - x",
              hosts: ["x - 10.0.0.1", "y - 192.168.0.77"], host: "y - 192.168.0.77" }
        ];
    }

    function test_listPreferences(data) {
        open(data.ports, data.hosts);
        compare(item("portCombo").currentText, data.port);
        compare(item("hostIpCombo").currentText, data.host);
        // Refresh asks the controller again.
        ui.ports = ["COM1", "COM35 - fresh"];
        mouseClick(item("refreshButton"));
        compare(item("portCombo").currentText, "COM35 - fresh");
    }

    function test_enablingWhileRunning() {
        open(["COM35"], ["e - 192.168.0.3"]);
        item("fileField").text = "/fw/image.qvbit";
        for (let i = 0; i < 3; ++i)
            ui.logAppended("line " + i);
        tryCompare(item("logView"), "count", 3);
        verify(item("startBtn").enabled && !item("cancelBtn").enabled && item("clearLogButton").enabled);
        compare(item("statusPill").text, "Ready");

        ui.running = true;
        for (const name of ["transportCombo", "portCombo", "baudCombo", "boardIpField", "boardPortField",
                            "hostIpCombo", "hostPortField", "fileField", "targetCombo", "refreshButton",
                            "detectButton", "browseButton", "startBtn", "clearLogButton"])
            verify(!item(name).enabled, name);
        verify(item("cancelBtn").enabled && item("languageCombo").enabled && item("themeCombo").enabled);
        compare(item("startBtn").text, "Upgrading...");
        compare(item("statusPill").text, "Upgrading");
        compare(item("statusPill").tone, Theme.warning);
        mouseClick(item("cancelBtn"));
        compare(ui.cancels, 1);

        ui.running = false;
        ui.otaFinished(true, "OTA FLOW COMPLETE");
        compare(item("statusPill").text, "Last upgrade OK");
        compare(item("statusPill").tone, Theme.success);
        compare(item("startBtn").text, "Start Upgrade");
        // Clear Log goes through the controller, which clears the model by its signal.
        mouseClick(item("clearLogButton"));
        compare(item("logView").count, 0);
        verify(!item("clearLogButton").enabled);
    }

    function test_logTrimmingAndColours() {
        open([], []);
        const view = item("logView");
        // Lines enter the model a turn later, in batches; the rows must be those that trimming
        // line by line leaves, however the lines fall into batches.
        const append = (from, to) => {
            for (let i = from; i <= to; ++i)
                ui.logAppended("line " + i);
        };
        append(1, 1000);
        tryCompare(view, "count", 1000);
        append(1001, 2001);
        tryCompare(view, "count", 1501);
        compare(view.model.get(0).line, "line 501");
        append(2002, 3101); // trimmed twice within one batch
        tryCompare(view, "count", 1601);
        compare(view.model.get(0).line, "line 1501");
        compare(view.model.get(1600).line, "line 3101");
        append(3102, 9000); // more than a whole log in one batch
        tryCompare(view, "count", 2000);
        compare(view.model.get(0).line, "line 7001");
        // The finish line follows every line before it, is not trimmed away, and a failure
        // reads in the danger colour.
        ui.logAppended("last line");
        ui.otaFinished(false, "CRC MISMATCH");
        compare(view.count, 1502);
        compare(view.model.get(1500).line, "last line");
        compare(view.model.get(1501).line, "[FAIL] CRC MISMATCH");
        compare(item("statusPill").text, "Last upgrade failed");
        compare(item("statusPill").tone, Theme.danger);
        view.positionViewAtEnd();
        tryVerify(() => view.itemAtIndex(1501) !== null);
        compare(view.itemAtIndex(1501).color, Theme.danger);

        const cases = [["[OK] done", Theme.success], ["[FAIL] CRC MISMATCH", Theme.danger],
                       ["rx timeout", Theme.danger], ["Timeout", Theme.text],
                       ["ERROR: x", Theme.danger], ["WARN: no ack", Theme.warning],
                       ["skip reopen", Theme.warning], ["IMG CRC32 MATCH", Theme.success],
                       ["WARM BOOT OK: WARN: no warm-boot ack seen", Theme.warning],
                       ["OTA FLOW COMPLETE", Theme.success], ["progress 1/3", Theme.text]];
        for (const [line, colour] of cases)
            compare(win.lineColor(line), colour, line);
    }

    function test_progress() {
        open([], []);
        const text = item("progressText");
        compare(text.text, "--");
        ui.progressTotal = 3;
        ui.progressDone = 1;
        ui.progressChanged();
        compare(text.text, "33%");
        ui.progressDone = 2;
        ui.progressChanged();
        compare(text.text, "67%");
        tryCompare(item("progressBar"), "width", (item("progressTrack").width - 2) * 2 / 3);
        compare(item("progressTrack").Accessible.description, "67%");
    }

    function test_unlistedStoredLanguage() {
        store("fr", "light");
        ignoreWarning('i18n: translation missing for "fr" -- source strings stay visible');
        open([], []);
        compare(win.currentLang, "fr");
        compare(item("languageCombo").currentIndex, 0);
        compare(item("themeCombo").currentIndex, 8);
        compare(win.color, Theme.bg);
        compare(Theme.bg, "#e9edf2");
        Theme.themeId = "abyss";
    }

    function test_imageSummary() {
        open([], []);
        const summary = item("imageSummary");
        verify(!summary.visible);
        item("fileField").text = testSim.packImage(1000);
        verify(summary.visible);
        compare(summary.color, Theme.muted);
        // 1036 bytes in 5 frames: 1071 bytes on the wire, 0.09 s at 115200 baud.
        verify(summary.text.indexOf("5 frames") >= 0, summary.text);
        verify(summary.text.indexOf("at least 0.1 s at 115200 baud") >= 0, summary.text);
        item("transportCombo").currentIndex = 1;
        verify(summary.text.indexOf("baud") < 0, summary.text);

        item("fileField").text = testSim.writeText("plain.bin", "not a container at all, just text");
        compare(summary.text, "not a .qvbit encrypted image (plain .sbit/.bin rejected)");
        compare(summary.color, Theme.danger);
    }

    function test_saveLog() {
        open([], []);
        ui.logAppended("12:00:00.000 RX> JEDEC=C86018");
        ui.otaFinished(true, "OTA FLOW COMPLETE");
        const path = testSim.writeText("saved.log", "");
        item("saveDialog").picked(path);
        compare(ui.savedLines, ["12:00:00.000 RX> JEDEC=C86018", "[OK] OTA FLOW COMPLETE"]);
        const view = item("logView");
        compare(view.model.get(view.count - 1).line, "Log saved to " + path);
        // A failure is said in the log, in the danger colour.
        item("saveDialog").picked(path + "/no/such/place.log");
        verify(view.model.get(view.count - 1).line.startsWith("ERROR: cannot write "));
    }

    function test_droppedPaths() {
        open([], []);
        compare(win._localPath("file:///home/me/fw%20v2.qvbit"), "/home/me/fw v2.qvbit");
        compare(win._localPath("file:///C:/fw/image.qvbit"), "C:/fw/image.qvbit");
        compare(win._localPath("file://server/share/image.qvbit"), "//server/share/image.qvbit");
        compare(win._localPath("https://example.invalid/x.qvbit"), "");
    }
}
