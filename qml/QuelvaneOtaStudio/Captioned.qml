import QtQuick
import QtQuick.Layouts

// A section caption over one input (or a row that holds it). A screen reader hears the
// caption as the input's name, since the caption itself stays out of the accessibility tree.
ColumnLayout {
    id: captioned

    property string caption: ""
    // The input the caption names: the first child declared inside, unless set.
    property Item input: children.length > 1 ? children[1] : null

    // Close to its input, so that a caption reads as belonging to it rather than to the
    // section above.
    spacing: 4
    Layout.fillWidth: true

    SectionLabel {
        text: captioned.caption
    }

    Binding {
        target: captioned.input
        property: "Accessible.name"
        value: captioned.caption
    }
}
