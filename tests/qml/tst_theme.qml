import QtQuick
import QtTest
import QuelvaneOtaStudio

TestCase {
    name: "Theme"
    width: 200
    height: 100
    when: windowShown

    ThemedButton { id: button; text: "Start" }

    function cleanup() {
        Theme.themeId = "abyss"
        i18n.setLanguage("en")
    }

    function test_palettes() {
        // A role misspelt in one palette would leave that theme with an undefined colour.
        const roles = Object.keys(Theme.palettes.abyss)
        compare(roles.length, 24)
        for (const key of Theme.themeOrder)
            compare(Object.keys(Theme.palettes[key]), roles, key)

        const overlay = Theme.plotBg85
        compare(String(Qt.rgba(overlay.r, overlay.g, overlay.b, 1)), "#0a0e15")
        fuzzyCompare(overlay.a, 0.85, 0.002)
    }

    // Unknown keys, including names every JS object inherits, fall back to abyss while the
    // written text is kept.
    function test_unknown_key_falls_back_to_abyss() {
        for (const key of ["nope", "", "constructor", "toString"]) {
            Theme.themeId = "light"
            Theme.themeId = key
            compare(Theme.themeId, key)
            compare(String(Theme.bg), "#0a0c10", "bg for '" + key + "'")
        }
    }

    function test_theme_names_follow_the_language() {
        i18n.setLanguage("zh_CN")
        compare(Theme.themeNames.graphite, "石墨灰")
        i18n.setLanguage("en")
        compare(Theme.themeNames.graphite, "Graphite Gray")
    }

    // A control that drew a literal colour would keep its dark look in the light theme.
    function test_switch_recolours_controls_live() {
        Theme.themeId = "light"
        compare(String(button.contentItem.color), "#1c2530")
        compare(String(button.background.color), "#ffffff")
        compare(String(button.background.border.color), "#cfd8e3")
    }
}
