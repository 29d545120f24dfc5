# Drives two whole updates and a Clear Log through the platform accessibility layer (AT-SPI),
# as a screen reader user or a UI automation tool would: focus, keys and press actions only, and
# follows them through what the window publishes (status pill, progress, log rows). At the end
# it prints what a screen reader finds showing in the window.
# Usage (inside tools/a11y/drive-update.sh): drive_update.py BOARD_PORT IMAGE
import sys
import time

import pyatspi

KEY_END, KEY_BACKSPACE, KEY_UP, KEY_DOWN = 0xFF57, 0xFF08, 0xFF52, 0xFF54


def find(node, pred):
    try:
        if pred(node):
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), pred)
            if found:
                return found
    except Exception:  # objects vanish while the window changes
        pass
    return None


def find_app(name):
    for _ in range(50):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app and name in (app.name or ""):
                return app
        time.sleep(0.2)
    sys.exit("the window did not appear on the accessibility bus")


def node(role, name):
    found = find(app, lambda n: n.getRoleName() == role and n.name == name)
    if not found:
        sys.exit(f"no {role} named {name!r}")
    return found


def action(n, name):
    a = n.queryAction()
    a.doAction([a.getName(i) for i in range(a.nActions)].index(name))
    time.sleep(0.2)


def key(sym):
    pyatspi.Registry.generateKeyboardEvent(sym, None, pyatspi.KEY_SYM)
    time.sleep(0.03)


def set_field(name, text):
    field = node("text", name)
    action(field, "SetFocus")
    key(KEY_END)
    for _ in range(80):
        key(KEY_BACKSPACE)
    pyatspi.Registry.generateKeyboardEvent(0, text, pyatspi.KEY_STRING)
    time.sleep(0.2)
    print(f"{name}: {field.queryText().getText(0, -1)!r}")


port, image = sys.argv[1], sys.argv[2]
app = find_app("Quelvane OTA Studio")
action(node("combo box", "TRANSPORT"), "SetFocus")
key(KEY_DOWN)  # the next transport: UDP
set_field("BOARD IP", "127.0.0.1")
set_field("BOARD PORT", port)
set_field("HOST PORT", "0")
set_field("FIRMWARE IMAGE", image)
action(node("combo box", "OPTIONS"), "SetFocus")
key(KEY_UP)  # warm boot to APP1


def run_once():
    action(node("push button", "Start Upgrade"), "Press")
    progress = node("progress bar", "Progress")
    last = None
    for _ in range(600):
        pill = find(app, lambda n: n.getRoleName() == "label" and n.name.startswith(("Upgrading", "Last", "Ready")))
        state = (pill.name if pill else "", progress.description)
        if state != last:
            print("status:", state)
            last = state
        if state[0].startswith("Last upgrade"):
            break
        time.sleep(0.1)
    return last and last[0] == "Last upgrade OK"


def showing_rows(log):
    rows = []
    for i in range(log.childCount):
        child = log.getChildAtIndex(i)
        if child.getState().contains(pyatspi.STATE_SHOWING):
            rows.append(child.name)
    return rows


def dump(n, depth=0):
    try:
        states = n.getState()
        if not states.contains(pyatspi.STATE_SHOWING):
            return
        flags = "" if states.contains(pyatspi.STATE_ENABLED) else " [not enabled]"
        print(f"{'  ' * depth}{n.getRoleName()} {n.name!r} {n.description!r}{flags}")
        for i in range(n.childCount):
            dump(n.getChildAtIndex(i), depth + 1)
    except Exception:
        pass


ok = run_once()
log = node("list", "UPGRADE LOG")
first = showing_rows(log)
print("after run 1, showing log rows:", len(first), first[-2:])
ok = run_once() and ok
second = showing_rows(log)
print("after run 2, showing log rows:", len(second), second[:2], second[-2:])
print("rows of run 1 still showing after run 2:", [r for r in second if r in first and r])
action(node("push button", "Clear Log"), "Press")
time.sleep(0.5)
print("after Clear Log, showing log rows:", showing_rows(log))
print("--- tree (showing nodes) ---")
dump(app)
sys.exit(0 if ok else 1)
