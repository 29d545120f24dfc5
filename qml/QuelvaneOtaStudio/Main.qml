// The window: a header with the language and theme selectors and the run status, the parameter
// card that starts and cancels an update, and the log card that follows it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt.labs.settings

ApplicationWindow {
    id: window

    // 0: no result yet (or a run is being started), 1: the last run succeeded, 2: it failed.
    property int lastResult: 0
    readonly property var langIds: ["zh_CN", "en", "ja_JP"]
    property string currentLang: "zh_CN"
    readonly property var transportIds: ["uart", "udp"]
    readonly property bool udpMode: paramCard.udpMode
    // The empty id means no warm boot.
    readonly property var targetIds: ["", "1", "2"]

    // After a theme or language went to the settings store, which tells QML nothing when it
    // cannot keep it; the window start-up asks the store and says so.
    signal settingWritten(string key)

    // The texts of the window's parts, translated in the window's context; a language switch
    // re-evaluates them all.
    readonly property var _texts: ({
        "transport": qsTr("TRANSPORT"),
        "serial": qsTr("SERIAL"),
        //: A chosen serial port that is not plugged in at the moment; %1 is the port as listed.
        "portAbsent": qsTr("%1 (not found)"),
        "refresh": qsTr("Refresh"),
        "baudRate": qsTr("BAUD RATE"),
        "boardIp": qsTr("BOARD IP"),
        "boardPort": qsTr("BOARD PORT"),
        "hostAdapter": qsTr("HOST ADAPTER"),
        "detect": qsTr("Detect"),
        "hostPort": qsTr("HOST PORT"),
        "firmwareImage": qsTr("FIRMWARE IMAGE"),
        "selectImage": qsTr("Select encrypted image (.qvbit)..."),
        "browse": qsTr("Browse"),
        "options": qsTr("OPTIONS"),
        "upgrading": qsTr("Upgrading..."),
        "startUpgrade": qsTr("Start Upgrade"),
        "cancel": qsTr("Cancel"),
        "subtitle": qsTr("PGL25G firmware update  ·  writes slot APP2 @0x400000  ·  Golden/APP1 untouched"),
        "upgradeLog": qsTr("UPGRADE LOG"),
        "clearLog": qsTr("Clear Log")
    })

    function langText(lid) {
        if (lid === "zh_CN")
            return "简体中文";
        if (lid === "ja_JP")
            return "日本語";
        return "English";
    }

    function transportText(tid) {
        return tid === "uart" ? qsTr("UART Serial (APP1)") : qsTr("UDP Network (100M)");
    }

    function targetText(tid) {
        if (tid === "")
            return qsTr("No warm boot");
        if (tid === "1")
            return qsTr("Warm boot to APP1");
        return qsTr("Warm boot to APP2");
    }

    function startOta() {
        runLog.clear();
        lastResult = 0;
        // The file may have been rebuilt since it was chosen; show what is sent.
        paramCard.refreshImageSummary();
        host.controller.start(paramCard.configuration());
    }

    function refreshSerialPorts() {
        paramCard.refreshSerialPorts();
    }

    function refreshHostAddresses() {
        paramCard.refreshHostAddresses();
    }

    function lineColor(line) {
        return logCard.lineColor(line);
    }

    // The language whose texts the window shows for a stored id. The translator falls back from
    // an unknown id to its shorter forms at "_" and ".", so "ja_JP.UTF-8" shows Japanese, while
    // "zh", "en_US" or "fr" find no catalogue and leave the English source texts.
    function _shownLanguage(lid) {
        for (const known of ["zh_CN", "ja_JP"]) {
            if (lid === known || (lid.startsWith(known) && "_.".indexOf(lid.charAt(known.length)) >= 0))
                return known;
        }
        return "en";
    }

    function _applyLanguage(lid) {
        currentLang = lid;
        uiSettings.setValue("language", lid);
        settingWritten("language");
        host.translation.setLanguage(lid);
    }

    function _applyTheme(key) {
        Theme.themeId = key;
        uiSettings.setValue("theme", key);
        settingWritten("theme");
    }

    function _saveLog(path) {
        const error = host.controller.saveLog(path, runLog.lines());
        runLog.append(error === "" ? qsTr("Log saved to %1").arg(path) : "ERROR: " + error);
    }

    // A dropped file's local path: "file:///C:/x" gives "C:/x", "file://server/x" "//server/x".
    function _localPath(url) {
        const text = url.toString();
        if (!text.startsWith("file://"))
            return "";
        const path = decodeURIComponent(text.substring(7));
        if (/^\/[A-Za-z]:\//.test(path))
            return path.substring(1);
        return path.startsWith("/") ? path : "//" + path;
    }

    width: 1140
    height: 720
    minimumWidth: 1024
    minimumHeight: 640
    visible: true
    title: "Quelvane OTA Studio"
    color: Theme.bg

    Component.onCompleted: {
        Theme.themeId = uiSettings.value("theme", "abyss");
        currentLang = uiSettings.value("language", "zh_CN");
        host.translation.setLanguage(currentLang);
        refreshSerialPorts();
        refreshHostAddresses();
    }

    Host {
        id: host
    }

    RunLog {
        id: runLog
        objectName: "runLog"
    }

    Connections {
        target: host.controller

        function onLogAppended(line) {
            runLog.queue(line);
        }

        function onLogCleared() {
            runLog.clear();
        }

        function onOtaFinished(ok, message) {
            window.lastResult = ok ? 1 : 2;
            runLog.append((ok ? "[OK] " : "[FAIL] ") + message);
        }
    }

    // Read and written key by key: Qt 6.4's declared settings properties turn a store that
    // holds only one of the keys into the defaults of both, and write those back.
    Settings {
        id: uiSettings
        category: "ui"
    }

    // A file dropped anywhere on the window becomes the image, unless a run is using it.
    DropArea {
        anchors.fill: parent
        enabled: !host.controller.running
        onEntered: drag => drag.accepted = drag.hasUrls && window._localPath(drag.urls[0]) !== ""
        onDropped: drop => {
            const path = window._localPath(drop.urls[0]);
            if (path !== "" && !host.controller.running) {
                paramCard.setImage(path);
                drop.accept();
            }
        }
    }

    HeaderBar {
        id: headerBar
        texts: window._texts
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        langIds: window.langIds
        langText: window.langText
        shownLanguage: window._shownLanguage(window.currentLang)
        statusText: host.controller.running ? qsTr("Upgrading")
            : window.lastResult === 1 ? qsTr("Last upgrade OK")
            : window.lastResult === 2 ? qsTr("Last upgrade failed")
            : qsTr("Ready")
        statusTone: host.controller.running ? Theme.warning
            : window.lastResult === 1 ? Theme.success
            : window.lastResult === 2 ? Theme.danger
            : Theme.muted
        // Applied on the next turn, after the selector has finished its own handling.
        onLanguageChosen: lid => Qt.callLater(window._applyLanguage, lid) // qmllint disable type
        onThemeChosen: key => window._applyTheme(key)
    }

    RowLayout {
        id: contentRow
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: headerBar.bottom
        anchors.bottom: parent.bottom
        anchors.margins: 16
        spacing: 16

        ParamCard {
            id: paramCard
            objectName: "paramCard"
            texts: window._texts
            Layout.preferredWidth: 400
            Layout.fillHeight: true
            transportIds: window.transportIds
            transportText: window.transportText
            targetIds: window.targetIds
            targetText: window.targetText
            onStartRequested: window.startOta()
            onBrowseRequested: fileDialog.open()
        }

        LogCard {
            id: logCard
            texts: window._texts
            Layout.fillWidth: true
            Layout.fillHeight: true
            runLog: runLog
            onSaveRequested: {
                saveDialog.defaultFileName = "quelvane-ota-"
                    + Qt.formatDateTime(new Date(), "yyyyMMdd-HHmmss") + ".log";
                saveDialog.open();
            }
        }
    }

    FilePickerDialog {
        id: fileDialog
        objectName: "fileDialog"
        parent: Overlay.overlay
        title: qsTr("Select Firmware Image")
        pickerMode: "file"
        nameFilters: ["*.qvbit"]
        initialPath: paramCard.imagePath
        onPicked: path => paramCard.setImage(path)
    }

    FilePickerDialog {
        id: saveDialog
        objectName: "saveDialog"
        parent: Overlay.overlay
        title: qsTr("Save Log")
        pickerMode: "save"
        initialPath: paramCard.imagePath
        onPicked: path => window._saveLog(path)
    }
}
