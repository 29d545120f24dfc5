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

    function init() {
        storedSettings.setValue("language", "en");
        storedSettings.sync();
        ui.running = false;
        win = createTemporaryObject(mainComponent, testCase);
        verify(win);
    }

    function test_summaryIsFresh() {
        const summary = item("imageSummary");
        const path = testSim.packImage(1000, "fresh.qvbit");
        // Typing: nothing is read, nor reported, until the typing pauses.
        item("fileField").text = path.substring(0, 4);
        compare(summary.text, "");
        item("fileField").text = path;
        compare(summary.text, "");
        tryVerify(() => summary.text.indexOf("5 frames") >= 0);

        // Rebuilt at the same path, then picked again: read at once.
        testSim.packImage(2000, "fresh.qvbit");
        item("fileDialog").picked(path);
        verify(summary.text.indexOf("8 frames") >= 0, summary.text);

        // Rebuilt again, then started: the summary shows what is sent.
        testSim.packImage(3000, "fresh.qvbit");
        mouseClick(item("startBtn"));
        compare(ui.lastConfig.file, path);
        verify(summary.text.indexOf("12 frames") >= 0, summary.text);
    }

    // Each control's rectangle, in the scrolled view's coordinates, lies inside the view.
    function verifyCardInView(tag) {
        const view = item("paramScroll");
        const names = ["transportCombo", "portCombo", "refreshButton", "baudCombo", "boardIpField",
                       "boardPortField", "hostIpCombo", "detectButton", "hostPortField",
                       "fileField", "browseButton", "imageSummary", "targetCombo"];
        for (const name of names) {
            const control = item(name);
            if (!control.visible)
                continue;
            const r = control.mapToItem(view, 0, 0, control.width, control.height);
            verify(r.y >= 0 && r.y + r.height <= view.height && r.x >= 0 && r.x + r.width <= view.width,
                   tag + ": " + name + " at " + r.y + ".." + (r.y + r.height) + " of " + view.height);
        }
        for (const name of ["startBtn", "cancelBtn"]) {
            const control = item(name);
            const r = control.mapToItem(win.contentItem, 0, 0, control.width, control.height);
            verify(r.y + r.height <= win.height, tag + ": " + name);
        }
    }

    function test_cardFitsAtDefaultSize() {
        compare(win.width, 1140);
        compare(win.height, 720);
        // The longest summary there is: a refusal that wraps.
        item("fileField").text = "/" + "a-firmware-image-folder-with-a-long-name/".repeat(4) + "x.qvbit";
        item("fileDialog").picked(item("fileField").text);
        tryCompare(item("imageSummary"), "lineCount", 2);
        for (const lang of win.langIds) {
            item("languageCombo").activated(win.langIds.indexOf(lang));
            tryCompare(win, "currentLang", lang);
            for (const transport of [0, 1]) {
                item("transportCombo").currentIndex = transport;
                waitForRendering(win.contentItem);
                verifyCardInView(lang + "/" + transport);
            }
        }
        if (item("paramScroll").ScrollBar.vertical.policy === ScrollBar.AlwaysOn)
            fail("the card scrolls at the default size");

        // Below the default size, a bar shows that the card scrolls.
        win.height = win.minimumHeight;
        waitForRendering(win.contentItem);
        compare(item("paramScroll").ScrollBar.vertical.policy, ScrollBar.AlwaysOn);
        verify(item("paramScroll").ScrollBar.vertical.visible);
    }

    // Every theme name fits its selector, in every language.
    function test_themeNamesFit() {
        const combo = item("themeCombo");
        for (const lang of win.langIds) {
            item("languageCombo").activated(win.langIds.indexOf(lang));
            tryCompare(win, "currentLang", lang);
            for (let i = 0; i < Theme.themeOrder.length; ++i) {
                combo.currentIndex = i;
                const label = combo.contentItem.item;
                // Measured when the header is next laid out.
                tryVerify(() => !label.truncated, 1000, lang + ": " + label.text);
            }
        }
    }
}
