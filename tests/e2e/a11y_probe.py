#!/usr/bin/python3
"""What a screen reader sees of the game, over the accessibility bus (AT-SPI).

    a11y_probe.py tree      the game's accessible tree, once, as JSON
    a11y_probe.py events    "ready", then one JSON line per name, description or focus change

Runs in Debian's own Python, which has pyatspi.
"""
import json
import sys

import pyatspi

APP = "sormio"


def game():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == APP:
            return app
    return None


def node(acc):
    d = {"role": acc.getRoleName(), "name": acc.name, "description": acc.description,
         "states": sorted(pyatspi.stateToString(s) for s in acc.getState().getStates())}
    try:
        d["value"] = acc.queryValue().currentValue
    except NotImplementedError:
        pass
    d["children"] = [node(c) for c in acc if c is not None]
    return d


def event(e):
    try:
        if e.host_application is None or e.host_application.name != APP:
            return
        source = e.source
        print(json.dumps({"type": e.type, "detail": e.detail1, "role": source.getRoleName(),
                          "name": source.name, "description": source.description}), flush=True)
    except Exception as failure:  # an object gone meanwhile: say so, go on
        print(json.dumps({"type": e.type, "error": str(failure)}), flush=True)


def main():
    if sys.argv[1] == "tree":
        app = game()
        print(json.dumps(node(app) if app is not None else None))
        return 0
    pyatspi.Registry.registerEventListener(
        event, "object:property-change:accessible-name",
        "object:property-change:accessible-description", "object:state-changed:focused")
    print("ready", flush=True)
    pyatspi.Registry.start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
