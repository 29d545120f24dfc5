import QtQuick
import QtQuick.Controls
import QuelvaneOtaStudio

Main {
    id: main

    readonly property var args: Qt.application.arguments
    readonly property var shots: [
        { name: "window", theme: "abyss", lang: "zh_CN" },
        { name: "window", theme: "abyss", lang: "en" },
        { name: "window", theme: "abyss", lang: "ja_JP" },
        { name: "window", theme: "light", lang: "zh_CN" },
        { name: "window", theme: "light", lang: "en" },
        { name: "window", theme: "light", lang: "ja_JP" },
        { name: "window-min", theme: "abyss", lang: "zh_CN" },
        { name: "window-min", theme: "abyss", lang: "en" },
        { name: "window-min", theme: "abyss", lang: "ja_JP" },
        { name: "picker", theme: "abyss", lang: "zh_CN" },
        { name: "picker", theme: "light", lang: "en" },
        { name: "picker", theme: "midnightTeal", lang: "ja_JP" }
    ]
    property int next: -1

    // The window colour is not an item, so a grab would leave it transparent.
    background: Rectangle { color: Theme.bg }

    function find(item, name) {
        if (item.objectName === name)
            return item;
        const kids = item.data !== undefined ? item.data : item.children;
        if (!kids)
            return null;
        for (let i = 0; i < kids.length; ++i) {
            const found = find(kids[i], name);
            if (found)
                return found;
        }
        return null;
    }

    function select(name, index) {
        const combo = find(main, name);
        combo.currentIndex = index;
        combo.activated(index);
    }

    function shootNext() {
        next += 1;
        if (next >= shots.length) {
            Qt.quit();
            return;
        }
        const shot = shots[next];
        // The smallest window the user can make, then back to the size the window opens at.
        const small = shot.name === "window-min";
        main.width = small ? main.minimumWidth : 1140;
        main.height = small ? main.minimumHeight : 720;
        // As a user picks them: through the two selectors.
        select("themeCombo", Theme.themeOrder.indexOf(shot.theme));
        select("languageCombo", langIds.indexOf(shot.lang));
        const picker = find(main, "fileDialog");
        if (shot.name === "picker" && !picker.opened) {
            picker.initialPath = args.length > 4 ? args[4] : "";
            picker.open();
        }
        settle.restart();
    }

    Timer {
        id: settle
        // Long enough for the combo texts, the relayout and the progress animation to settle.
        interval: 600
        onTriggered: {
            const shot = main.shots[main.next];
            const path = main.args[1] + "/" + shot.name + "-" + shot.theme + "-" + shot.lang + ".png";
            main.Overlay.overlay.parent.grabToImage(result => {
                result.saveToFile(path);
                console.info("saved " + path);
                main.shootNext();
            });
        }
    }

    // A run that never gets under way must not leave the tool hanging.
    Timer {
        running: true
        interval: 120000
        onTriggered: {
            console.error("timed out after shot " + main.next);
            Qt.exit(1);
        }
    }

    Component.onCompleted: {
        find(main, "transportCombo").currentIndex = 1;
        find(main, "boardIpField").text = "127.0.0.1";
        find(main, "boardPortField").text = args[2];
        find(main, "hostIpCombo").model = ["Loopback - 127.0.0.1"];
        find(main, "hostPortField").text = "0";
        find(main, "fileField").text = args[3];
        startOta();
    }

    Connections {
        target: ui // qmllint disable unqualified
        function onProgressChanged() {
            const total = ui.progressTotal; // qmllint disable unqualified
            if (main.next < 0 && total > 0 && ui.progressDone * 100 >= 42 * total)
                main.shootNext();
        }
    }
}
