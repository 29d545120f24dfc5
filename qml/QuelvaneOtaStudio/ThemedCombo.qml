import QtQuick
import QtQuick.Controls

// A combo box in the theme's colours. Selectors keep stable ids in their model and show
// translated names through textMapper, so a language switch never changes the selection.
ComboBox {
    id: control

    // Optional function from a model entry to the text shown for it.
    property var textMapper: null

    readonly property bool _mapped: typeof control.textMapper === "function"

    function _mapText(entry) {
        const mapper = control.textMapper
        return mapper(entry)
    }

    implicitHeight: Theme.controlHeight
    implicitWidth: 120

    displayText: _mapped && currentIndex >= 0 && currentIndex < count
                 ? control._mapText(control.model[currentIndex])
                 : currentText

    // A captioned combo is named by its caption instead; the shown text is then still read
    // from the label inside.
    Accessible.name: control.displayText

    // The components below reach the combo through its id. Qt 6.4's item models create
    // delegates outside this file's context, which rules out `pragma ComponentBehavior: Bound`,
    // and without it the linter cannot see that `control` resolves here, as it does at run time.
    // qmllint disable unqualified
    delegate: ItemDelegate {
        id: entry

        required property int index
        required property var model

        width: control.width
        highlighted: control.highlightedIndex === index
        hoverEnabled: control.hoverEnabled
        // Rows not wholly inside the popup's view stay out of the accessibility tree: a screen
        // reader would offer them at places where a click lands outside the popup.
        readonly property Flickable _view: ListView.view
        Accessible.ignored: !_view || entry.y < _view.contentY
                            || entry.y + entry.height > _view.contentY + _view.height
        Accessible.name: entry.text

        text: control._mapped ? control._mapText(entry.model.modelData)
            : control.textRole ? (Array.isArray(control.model) ? entry.model.modelData[control.textRole]
                                                               : entry.model[control.textRole])
            : entry.model.modelData

        contentItem: Text {
            text: entry.text
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            font.pixelSize: Theme.fontSmall
            color: entry.highlighted ? Theme.text : Theme.muted
        }
        // Rounded so the first and last rows stay inside the popup's rounded frame.
        background: Rectangle {
            radius: Theme.controlRadius - 1
            color: entry.highlighted ? Theme.surfaceAlt : Theme.surface
        }
    }
    // qmllint enable unqualified

    indicator: Text {
        x: control.width - width - 12
        y: (control.height - height) / 2
        text: "⌄"
        font.pixelSize: Theme.fontTitle
        color: control.enabled ? Theme.muted : Theme.border
    }

    contentItem: Loader {
        sourceComponent: control.editable ? editorComponent : labelComponent
    }

    // qmllint disable unqualified
    Component {
        id: editorComponent
        TextInput {
            text: control.editText
            onTextEdited: control.editText = text
            leftPadding: 12
            rightPadding: 30
            verticalAlignment: Text.AlignVCenter
            clip: true
            font.pixelSize: Theme.fontBody
            color: control.enabled ? Theme.text : Theme.muted
            selectionColor: Theme.accent
            selectedTextColor: Theme.accentText
            selectByMouse: true
            inputMethodHints: control.inputMethodHints
            validator: control.validator
        }
    }

    Component {
        id: labelComponent
        Text {
            text: control.displayText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            leftPadding: 12
            rightPadding: 30
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            font.pixelSize: Theme.fontBody
            color: control.enabled ? Theme.text : Theme.muted
        }
    }
    // qmllint enable unqualified

    background: Rectangle {
        radius: Theme.controlRadius
        color: Theme.surfaceAlt
        border.color: control.activeFocus || control.popup.visible ? Theme.accent : Theme.border
    }

    popup: Popup {
        y: control.height + 4
        // Inside the window: a row drawn past its edge could not be clicked.
        margins: 4
        width: control.width
        padding: 1
        implicitHeight: Math.min(implicitContentHeight + topPadding + bottomPadding, 320)

        // Delegates exist only while the list is shown; a closed combo keeps none alive.
        contentItem: ListView {
            // The current and the highlighted row always lie in the shown part of the list.
            readonly property bool _opened: control.popup.opened
            on_OpenedChanged: if (_opened) positionViewAtIndex(control.currentIndex, ListView.Contain)

            implicitHeight: contentHeight
            clip: true
            reuseItems: true
            model: control.popup.visible ? control.delegateModel : null
            currentIndex: control.highlightedIndex
            highlightMoveDuration: 0
            onCurrentIndexChanged: if (currentIndex >= 0) positionViewAtIndex(currentIndex, ListView.Contain)
            ScrollBar.vertical: ScrollBar {}
        }

        background: Rectangle {
            radius: Theme.controlRadius
            color: Theme.surface
            border.color: Theme.border
        }
    }
}
