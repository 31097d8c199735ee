#!/usr/bin/python3
# What assistive technology sees of one program over the accessibility bus
# of DBUS_SESSION_BUS_ADDRESS, as a screen reader reads it.
#
#   atspi_tree.py PID                 the tree, one object a line:
#                                     <depth> <role> | <name> | <actions> | <relations>
#   atspi_tree.py PID activate NAME   runs the first action of the link NAME
#   atspi_tree.py PID text            the text of the document
# Exit status 1 when the program is not on the bus (yet), 2 when the link or
# the document is not there.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node, depth, visit):
    visit(node, depth)
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, depth + 1, visit)


def actions(node):
    action = node.get_action_iface()
    if action is None:
        return ""
    return ",".join(action.get_action_name(i) for i in range(action.get_n_actions()))


def relations(node):
    out = []
    for relation in node.get_relation_set():
        kind = Atspi.RelationType(relation.get_relation_type()).value_nick
        for i in range(relation.get_n_targets()):
            target = relation.get_target(i)
            out.append(kind + ":" + (target.get_name() if target is not None else ""))
    return ",".join(out)


def main():
    Atspi.init()
    app = application(int(sys.argv[1]))
    if app is None:
        return 1
    command = sys.argv[2] if len(sys.argv) > 2 else "tree"
    found = []

    def visit(node, depth):
        role = node.get_role_name()
        if command == "tree":
            print(f"{depth} {role} | {node.get_name()} | {actions(node)} | {relations(node)}")
        elif command == "activate" and role == "link" and node.get_name() == sys.argv[3]:
            found.append(node)
        elif command == "text" and role == "document frame":
            found.append(node)

    walk(app, 0, visit)
    if command == "tree":
        return 0
    if not found:
        return 2
    if command == "activate":
        found[0].get_action_iface().do_action(0)
    else:
        text = found[0].get_text_iface()
        print(text.get_text(0, text.get_character_count()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
