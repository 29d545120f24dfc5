import QtQml

// The window start-up's context properties under names the linter can follow. The module's
// files reach the controller, the translation manager and the version only through this.
QtObject {
    // qmllint disable unqualified
    readonly property var controller: ui
    readonly property var translation: i18n
    readonly property string version: appVersion
    // qmllint enable unqualified
}
