"""What a user's click does, done through the accessibility bus: the share dialog of the
desktop's screen-cast portal answered, and the desktop's own control that stops a screen cast
found.

  accessible.py share APP [REMEMBER]
                                waits for APP's dialog, selects its first screen (or window),
                                ticks the check box REMEMBER, shares
  accessible.py where APP NAME  prints the middle of APP's button NAME: X Y in its window
  accessible.py where-item APP N|NAME
                                the same for the Nth item of a list in APP, or the item
                                holding a label NAME
  accessible.py selected-item APP N|TITLE [SECONDS]
                                whether that item is chosen (checked or selected), waiting
                                up to SECONDS (2)
  accessible.py press APP NAME  presses APP's button NAME
  accessible.py dump APP        prints APP's tree (what to look for on a new desktop)

share prints the seconds from the dialog's first sight to the answer. Exit 1 after 20 s
without the dialog or the button.
"""
import sys
import time

import pyatspi


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def find(root, role, name=None):
    # GTK 4 names a button by its mnemonic, then its label: "_Share Share".
    for node, _ in walk(root):
        if node.getRole() == role and (name is None or node.name.split(" ")[-1] == name or
                                       node.name == name):
            return node
    return None


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("click", "press", "activate"):
            return action.doAction(i)
    return action.doAction(0)


def wait_for(look, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = look()
        except Exception:  # a window going away under the walk: look again
            found = None
        if found is not None:
            return found
        time.sleep(0.05)
    return None


def share(app_name, remember=None):
    def dialog():
        app = application(app_name)
        if app is None:
            return None
        button = find(app, pyatspi.ROLE_PUSH_BUTTON, "Share")
        screen = find(app, pyatspi.ROLE_LIST_ITEM)
        return (button, screen) if button is not None and screen is not None else None

    found = wait_for(dialog)
    if found is None:
        print("no share dialog came")
        return 1
    seen = time.monotonic()
    button, screen = found
    screen.parent.querySelection().selectChild(screen.getIndexInParent())
    if remember is not None:
        box = find(application(app_name), pyatspi.ROLE_CHECK_BOX, remember)
        if box is None:
            print("no check box %s" % remember)
            return 1
        if not checked(box):
            press(box)
    # The button is sensitive once a screen is chosen.
    if wait_for(lambda: True if button.getState().contains(pyatspi.STATE_SENSITIVE) else None,
                5) is None:
        print("selecting the screen left Share insensitive")
        return 1
    press(button)
    print("answered in %.2f s" % (time.monotonic() - seen))
    return 0


def middle(node):
    x, y, width, height = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    print(x + width // 2, y + height // 2)
    return 0


def where(app_name, button_name):
    # The desktop's own controls may take a pointer's press only (GNOME's sharing indicator):
    # where to click, in the coordinates of the window, for GNOME the shell's stage.
    button = wait_for(lambda: find(application(app_name), pyatspi.ROLE_PUSH_BUTTON, button_name))
    if button is None:
        print("no button %s" % button_name)
        return 1
    return middle(button)


def list_item(app_name, which):
    # KDE's dialog lists its screens with none selected, and its list takes a click only. Its
    # rows of windows have no name of their own: a label in each holds the window's title.
    app = application(app_name)
    items = [node for node, _ in walk(app) if node.getRole() == pyatspi.ROLE_LIST_ITEM]
    if not which.isdigit():
        return next((node for node in items
                     if any(label.name == which for label, _ in walk(node))), None)
    return items[int(which) - 1] if len(items) >= int(which) else None


def where_item(app_name, which):
    found = wait_for(lambda: list_item(app_name, which))
    if found is None:
        print("no item %s in a list of %s" % (which, app_name))
        return 1
    return middle(found)


def selected_item(app_name, which, seconds="2"):
    # A dialog's Share with no row chosen ends the request (KDE's portal may even crash). KDE's
    # rows are checked by a click, and unchecked by the next.
    def chosen():
        state = list_item(app_name, which).getState()
        return True if state.contains(pyatspi.STATE_CHECKED) or state.contains(
            pyatspi.STATE_SELECTED) else None

    if wait_for(chosen, float(seconds)) is None:
        print("item %s of %s is not chosen" % (which, app_name))
        return 1
    return 0


def press_button(app_name, button_name):
    button = find(application(app_name), pyatspi.ROLE_PUSH_BUTTON, button_name)
    if button is None:
        print("no button %s" % button_name)
        return 1
    press(button)
    return 0


def dump(app_name):
    for node, depth in walk(application(app_name)):
        print("%s%s %r" % ("  " * depth, node.getRoleName(), node.name))
    return 0


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    commands = {"share": share, "where": where, "where-item": where_item,
                "selected-item": selected_item, "press": press_button, "dump": dump}
    sys.exit(commands[command](*args))
