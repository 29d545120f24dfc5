// The parameter card as a user meets it: the image summary is read again whenever the file may
// have changed, and every control of the card is in view at the window's default size.
import QtQuick
import QtQuick.Controls
import QtTest
import Qt.labs.settings
import QuelvaneOtaStudio
import "finder.js" as Finder

TestCase {
    id: testCase
    name: "ParamCard"
    when: windowShown

    Component { id: mainComponent; Main {} }
    Settings { id: storedSettings; category: "ui" }
    property var win: null

    function item(name) {
        const found = Finder.find(win, name);
        verify(found, name);
        return found;
    }

    function init() {
        storedSettings.setValue("language", "en");
        storedSettings.sync();
        ui.fakeRunning = false;
        win = createTemporaryObject(mainComponent, testCase);
    }

    function test_summaryIsFresh() {
        const summary = item("imageSummary");
        const path = testSim.packImage(1000, "fresh.qvbit");
        // While a path is typed nothing is read or reported, until the typing pauses.
        item("fileField").text = path.substring(0, 4);
        item("fileField").text = path;
        compare(summary.text, "");
        tryVerify(() => summary.text.indexOf("5 frames") >= 0);
        // Rebuilt at the same path, then picked again or started: read at once.
        testSim.packImage(2000, "fresh.qvbit");
        item("fileDialog").picked(path);
        verify(summary.text.indexOf("8 frames") >= 0, summary.text);
        testSim.packImage(3000, "fresh.qvbit");
        mouseClick(item("startBtn"));
        verify(summary.text.indexOf("12 frames") >= 0, summary.text);
    }

    // In each language and transport, with a summary that wraps: every control lies inside the
    // card's view, and every theme name fits its selector.
    function test_cardFitsAtDefaultSize() {
        compare(win.height, 720);
        item("fileDialog").picked("/" + "a-firmware-image-folder-with-a-long-name/".repeat(4) + "x");
        tryCompare(item("imageSummary"), "lineCount", 2);
        const view = item("paramScroll");
        const themes = item("themeCombo");
        for (const lang of win.langIds) {
            item("languageCombo").activated(win.langIds.indexOf(lang));
            tryCompare(win, "currentLang", lang);
            for (const transport of [0, 1]) {
                item("transportCombo").currentIndex = transport;
                waitForRendering(win.contentItem);
                for (const name of ["transportCombo", "portCombo", "refreshButton", "baudCombo",
                                    "boardIpField", "boardPortField", "hostIpCombo", "detectButton",
                                    "hostPortField", "fileField", "browseButton", "imageSummary",
                                    "targetCombo", "startBtn", "cancelBtn"]) {
                    // Start and Cancel lie below the scrolled part, inside the window.
                    const area = name.endsWith("Btn") ? win.contentItem : view;
                    const r = item(name).mapToItem(area, 0, 0, item(name).width, item(name).height);
                    verify(!item(name).visible || (r.y >= 0 && r.y + r.height <= area.height),
                           lang + "/" + transport + ": " + name + " at " + r.y + ".." + (r.y + r.height));
                }
            }
            for (let i = 0; i < Theme.themeOrder.length; ++i) {
                themes.currentIndex = i;
                tryVerify(() => !themes.contentItem.item.truncated, 1000, lang + ": " + themes.displayText);
            }
        }
        compare(view.ScrollBar.vertical.policy, ScrollBar.AlwaysOff);
        // Below the default size, a bar shows that the card scrolls.
        win.height = win.minimumHeight;
        tryCompare(view.ScrollBar.vertical, "visible", true);
    }
}
