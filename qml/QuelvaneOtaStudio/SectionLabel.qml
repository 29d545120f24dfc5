import QtQuick

// An upper-case section caption of the window.
Text {
    color: Theme.muted
    font.pixelSize: Theme.fontCaption
    font.bold: true
    font.letterSpacing: 1
    Accessible.ignored: true
}
