import QtQuick
import QtQuick.Layouts

// The window's header: product and version, what the tool writes, the language and theme
// selectors and the run status.
Rectangle {
    id: header

    // The window's texts, translated in its own context.
    required property var texts
    // Language ids in selector order, their names, and the id whose catalogue is applied.
    required property var langIds
    required property var langText
    required property string shownLanguage
    required property string statusText
    required property color statusTone

    signal languageChosen(string lid)
    signal themeChosen(string key)

    implicitHeight: Theme.headerHeight
    color: Theme.surface

    // The theme names as the selector draws them, laid out unseen: the column is as wide as the
    // widest name in the current language, fallback fonts included, so none is cut short.
    Column {
        id: themeNameWidths
        opacity: 0
        enabled: false
        Repeater {
            model: Theme.themeOrder
            delegate: Text {
                required property string modelData
                text: Theme.themeNames[modelData]
                font.pixelSize: Theme.fontBody
            }
        }
    }

    Host {
        id: host
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.border
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        spacing: 12

        Text {
            text: "Quelvane OTA Studio"
            color: Theme.text
            font.bold: true
            font.pixelSize: Theme.fontDisplay
            Layout.alignment: Qt.AlignBaseline
        }

        Text {
            text: "v" + host.version
            color: Theme.muted
            font.pixelSize: Theme.fontSubhead
            Layout.alignment: Qt.AlignBaseline
        }

        Rectangle {
            implicitWidth: 1
            implicitHeight: 28
            color: Theme.border
            Layout.alignment: Qt.AlignVCenter
        }

        Text {
            text: header.texts.subtitle
            color: Theme.muted
            font.pixelSize: Theme.fontSubhead
            elide: Text.ElideRight
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
        }

        ThemedCombo {
            objectName: "languageCombo"
            implicitWidth: 116
            model: header.langIds
            textMapper: header.langText
            currentIndex: Math.max(0, header.langIds.indexOf(header.shownLanguage))
            Accessible.name: qsTr("Language")
            onActivated: index => header.languageChosen(header.langIds[index])
        }

        ThemedCombo {
            objectName: "themeCombo"
            // Room for the widest name, the label's own padding (12 and 30, beside the arrow)
            // and the box's.
            implicitWidth: Math.max(150, Math.ceil(themeNameWidths.implicitWidth) + 42 + leftPadding + rightPadding)
            model: Theme.themeOrder
            textMapper: key => Theme.themeNames[key]
            currentIndex: Math.max(0, Theme.themeOrder.indexOf(Theme.themeId))
            Accessible.name: qsTr("Theme")
            onActivated: index => header.themeChosen(Theme.themeOrder[index])
        }

        StatusPill {
            objectName: "statusPill"
            Layout.alignment: Qt.AlignVCenter
            text: header.statusText
            tone: header.statusTone
        }
    }
}
