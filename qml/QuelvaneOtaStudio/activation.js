// What a mouse click does, for the keys and actions the stock controls leave unanswered: they
// react to Space only, not to Return, Enter or a screen reader's press and toggle actions.
.pragma library

function activate(control) {
    if (!control.enabled)
        return;
    if (control.checkable) {
        control.toggle();
        control.toggled();
    }
    control.clicked();
}
