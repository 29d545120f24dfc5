// The real window, driven as a user would: an update over UDP to the simulator, and the window
// closed while frames are going by ("frame") or while the board erases ("erase"). Run through
// the window start-up by tst_window.
import QtQuick
import QuelvaneOtaStudio

Main {
    id: main

    function find(item, name) {
        if (item.objectName === name)
            return item;
        for (let i = 0; i < item.children.length; ++i) {
            const found = find(item.children[i], name);
            if (found)
                return found;
        }
        return null;
    }

    Component.onCompleted: {
        find(contentItem, "transportCombo").currentIndex = 1;
        find(contentItem, "boardIpField").text = "127.0.0.1";
        find(contentItem, "boardPortField").text = Qt.application.arguments[3];
        find(contentItem, "hostIpCombo").model = ["loopback - 127.0.0.1"];
        find(contentItem, "hostPortField").text = "0";
        find(contentItem, "fileField").text = Qt.application.arguments[4];
        startOta();
    }

    readonly property string closeAt: Qt.application.arguments[5]

    Connections {
        target: ui
        function onProgressChanged() {
            if (main.closeAt === "frame" && ui.progressDone >= 3 && main.visible) {
                console.log("closing at frame " + ui.progressDone);
                main.close();
            }
        }
        function onLogAppended(line) {
            if (main.closeAt === "erase" && line.indexOf("erasing APP2") >= 0 && main.visible) {
                console.log("closing at erase");
                main.close();
            }
        }
    }
}
