#!/usr/bin/env python3
"""Keeps the fault server's rules of the end-to-end world (scripts/e2e/world.sh).

    world_rules.py WORLD init
    world_rules.py WORLD served HOST PATH
    world_rules.py WORLD set HOST PATH MODE [ARG...]
    world_rules.py WORLD clear HOST PATH
    world_rules.py WORLD reset

WORLD is the world's temp folder: files are served from WORLD/www, the
servers read WORLD/rules.json for every request. PATH is the request target
as the client sends it, query included ("/fwlink/p/?LinkId=2124703").

Base rules (WORLD/rules-base.json, written by init) apply to both schemes:
they map the WebView2 link, whose meaning is in its query, to its file.
Faults are kept under "https://HOST PATH" keys, so plain http on port 80
still serves the file itself (the target of a redirect to http).

Modes:
    404 | 500 | status N     that status, no file
    empty                    200 with an empty body
    cut [BYTES]              the file up to BYTES (default half), then FIN
    reset [BYTES]            the file up to BYTES (default half), then RST
    stall [BYTES]            the file up to BYTES (default half), then nothing
                             for 600 s with the connection open
    trickle [BYTES [SECS]]   the whole file, BYTES (default 2048) every SECS
                             (default 0.25) seconds
    redirect-http            302 to http://HOST PATH (same bytes, plain http)
    redirect URL             302 to URL
"""

import json
import os
import sys
import tempfile
import urllib.parse

WEBVIEW2_KEY = "go.microsoft.com/fwlink/p/?LinkId=2124703"
BASE = {
    WEBVIEW2_KEY: {"file": "_by-rule/go.microsoft.com/MicrosoftEdgeWebview2Setup.exe"},
}


def load(path):
    with open(path) as f:
        return json.load(f)


def save(path, rules):
    # A rename, so the server never reads half a file.
    fd, fresh = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".rules-")
    with os.fdopen(fd, "w") as f:
        json.dump(rules, f, indent=1, sort_keys=True)
    os.chmod(fresh, 0o644)
    os.replace(fresh, path)


def served_relative(world, host, target):
    """The file under WORLD/www that HOST serves for TARGET."""
    base = load(os.path.join(world, "rules-base.json"))
    rule = base.get(host + target)
    if rule and "file" in rule:
        return rule["file"]
    return host + urllib.parse.urlsplit(target).path


def fault_rule(world, host, target, mode, args):
    relative = served_relative(world, host, target)
    full = os.path.join(world, "www", relative)

    def half():
        return os.path.getsize(full) // 2

    if mode in ("404", "500"):
        return {"status": int(mode)}
    if mode == "status":
        return {"status": int(args[0])}
    if mode == "empty":
        return {"body": ""}
    if mode == "cut":
        return {"file": relative, "cut_after": int(args[0]) if args else half(), "fault_delay": 0.5}
    if mode == "reset":
        return {"file": relative, "reset_after": int(args[0]) if args else half(),
                "fault_delay": 0.5}
    if mode == "stall":
        return {"file": relative, "stall_after": int(args[0]) if args else half(),
                "stall_seconds": 600}
    if mode == "trickle":
        size = int(args[0]) if args else 2048
        pause = float(args[1]) if len(args) > 1 else 0.25
        return {"file": relative, "trickle": [size, pause]}
    if mode == "redirect-http":
        return {"status": 302, "location": "http://" + host + target}
    if mode == "redirect":
        return {"status": 302, "location": args[0]}
    raise SystemExit("world_rules: unknown mode %r" % mode)


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)
    world, command, rest = argv[1], argv[2], argv[3:]
    rules_path = os.path.join(world, "rules.json")
    if command == "init":
        save(os.path.join(world, "rules-base.json"), BASE)
        save(rules_path, BASE)
    elif command == "served":
        print(os.path.join(world, "www", served_relative(world, rest[0], rest[1])))
    elif command == "set":
        host, target, mode = rest[0], rest[1], rest[2]
        rules = load(rules_path)
        rules["https://" + host + target] = fault_rule(world, host, target, mode, rest[3:])
        save(rules_path, rules)
    elif command == "clear":
        rules = load(rules_path)
        rules.pop("https://" + rest[0] + rest[1], None)
        save(rules_path, rules)
    elif command == "reset":
        save(rules_path, load(os.path.join(world, "rules-base.json")))
    else:
        raise SystemExit("world_rules: unknown command %r" % command)


if __name__ == "__main__":
    main(sys.argv)
