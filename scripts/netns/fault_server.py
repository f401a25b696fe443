#!/usr/bin/env python3
"""HTTPS (and optionally plain HTTP) file server with faults per path.

Serves the files of --root and answers chosen paths with chosen faults, so
that a download client can be run against real sockets and real TLS. Meant
to run inside the private network namespace that scripts/net-test.sh sets
up, but nothing in it depends on that.

    fault_server.py --address 127.0.0.1 --root DIR [--rules RULES.json]
                    [--https-port 443 --cert CERT --key KEY] [--http-port 80]
                    [--ready FILE]

Files: GET /a/b serves ROOT/<host>/a/b when that exists (host from the Host
header, so one server can stand in for several names), else ROOT/a/b, else
404; with --host-dirs-only only ROOT/<host>/a/b, so a name serves nothing
that another name's folder holds. HEAD is answered the same way without the
body. The query string plays no part in finding a file.

Rules (a JSON object) are looked up by these keys, first match wins:
"<scheme>://<host><path>?<query>", "<scheme>://<host><path>",
"<host><path>?<query>", "<host><path>", "<path>?<query>", "<path>" (the
"?<query>" keys only when the request has a query). So a rule can answer a
link whose meaning is in its query, and can tell https from plain http. The
rules file is read for every request (replace it by a rename), so a running
server can be given other faults between two requests. Every field is
optional:

    status        int, default 200
    file          name under ROOT to send as the body (default: the path as
                  a file would be found)
    body          literal body text, used instead of a file
    location      Location header (with status 301/302/307/308)
    headers       object of extra headers
    length        declared Content-Length, when it must differ from the body
    no_length     true: no Content-Length; the body ends when the connection
                  closes
    trickle       [bytes, seconds]: send the body in pieces of that size with
                  that pause before each
    cut_after     send this many body bytes, then close (FIN, no TLS
                  close_notify): the body is short of its declared length
    reset_after   send this many body bytes, then abort the connection (RST)
    stall_after   send this many body bytes, then send nothing more and keep
                  the connection open for stall_seconds (default 3600) or
                  until the server stops
    fault_delay   seconds to wait before cutting, resetting or stalling, so
                  the client has read what was sent before the fault

A line per request goes to stderr:
    <scheme> <client> <host> <method> <path> -> <status> sent=<n> [fault] ua="<user agent>"
and one per connection that failed its handshake or closed without a request.

--ready FILE is written once every listener accepts connections.
"""

import argparse
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

PIECE = 64 * 1024


class Settings:
    root = "."
    host_dirs_only = False
    rules_path = None
    rules_read = False
    rules = {}
    rules_lock = threading.Lock()
    stop = threading.Event()


def current_rules():
    """The rules as the file holds them now: it is small, so it is simply
    read for every request, and no change between two requests is missed."""
    if Settings.rules_path is None:
        return Settings.rules
    with Settings.rules_lock:
        try:
            with open(Settings.rules_path) as f:
                Settings.rules = json.load(f)
            Settings.rules_read = True
        except (OSError, ValueError) as e:
            # Keep the last good rules; a half-written file is the writer's bug.
            log("rules not read again: %s" % e)
        return Settings.rules


def find_rule(rules, scheme, host, path, query):
    keys = []
    for prefix in (scheme + "://" + host, host, ""):
        if query:
            keys.append(prefix + path + "?" + query)
        keys.append(prefix + path)
    for key in keys:
        if key in rules:
            return rules[key]
    return {}


def log(line):
    sys.stderr.write(line + "\n")
    sys.stderr.flush()


def resolve_file(host, name, from_rule):
    """Path of the file to serve for name, or None; never outside root.
    A rule's file is named from ROOT; a path is looked up for its host."""
    root = os.path.realpath(Settings.root)
    relative = name.lstrip("/")
    if from_rule:
        candidates = [os.path.join(root, relative)]
    else:
        candidates = [os.path.join(root, host, relative)]
        if not Settings.host_dirs_only:
            candidates.append(os.path.join(root, relative))
    for candidate in candidates:
        real = os.path.realpath(candidate)
        if real != root and not real.startswith(root + os.sep):
            continue
        if os.path.isfile(real):
            return real
    return None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "fault-server/1"

    def setup(self):
        # The TLS handshake runs here, on the connection's own thread, so a
        # client that stalls or rejects our certificate holds up nobody else.
        context = self.server.tls_context
        if context is not None:
            self.request = context.wrap_socket(self.request, server_side=True)
        super().setup()

    requests = 0

    def finish(self):
        # A client that drops the connection after the handshake (one that
        # checks the certificate itself) leaves a line too.
        if self.requests == 0:
            log("%s %s connection closed without a request" % (
                self.server.scheme, self.client_address[0]))
        try:
            super().finish()
        finally:
            # The raw socket socketserver closes was detached by wrap_socket.
            if self.server.tls_context is not None:
                self.request.close()

    def log_message(self, format, *args):
        pass  # one line per request from respond() instead

    def do_GET(self):
        self.respond(send_body=True)

    def do_HEAD(self):
        self.respond(send_body=False)

    def respond(self, send_body):
        self.requests += 1
        host = (self.headers.get("Host") or "").split(":")[0].lower()
        target = urllib.parse.urlsplit(self.path)
        rule = find_rule(current_rules(), self.server.scheme, host, target.path, target.query)
        status = int(rule.get("status", 200))

        if "body" in rule:
            body = rule["body"].encode("utf-8")
        elif "file" in rule or status == 200:
            found = resolve_file(host, rule.get("file", target.path), "file" in rule)
            if found is None:
                status = 404
                body = b"not found\n"
            else:
                with open(found, "rb") as f:
                    body = f.read()
        else:
            body = ("%d %s\n" % (status, self.responses.get(status, ("",))[0])).encode()

        self.send_response(status)
        for name, value in rule.get("headers", {}).items():
            self.send_header(name, value)
        if "location" in rule:
            self.send_header("Location", rule["location"])
        self.send_header("Content-Type", "application/octet-stream")
        if rule.get("no_length"):
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(rule.get("length", len(body))))
        self.end_headers()

        sent, fault = 0, ""
        try:
            if send_body:
                sent, fault = self.send_body(body, rule)
        except OSError as e:
            fault = "client gone (%s)" % e.__class__.__name__
            self.close_connection = True
        log("%s %s %s %s %s -> %d sent=%d%s ua=\"%s\"" % (
            self.server.scheme, self.client_address[0], host or "-", self.command,
            self.path, status, sent, " " + fault if fault else "",
            self.headers.get("User-Agent", "")))

    def send_body(self, body, rule):
        limit, fault = len(body), ""
        for key in ("cut_after", "reset_after", "stall_after"):
            if key in rule:
                limit, fault = min(int(rule[key]), len(body)), key
        piece, pause = PIECE, 0.0
        if "trickle" in rule:
            piece, pause = int(rule["trickle"][0]), float(rule["trickle"][1])

        sent = 0
        while sent < limit:
            if pause:
                time.sleep(pause)
            chunk = body[sent:min(sent + piece, limit)]
            self.wfile.write(chunk)
            sent += len(chunk)
        if not fault:
            return sent, ""

        if rule.get("fault_delay"):
            time.sleep(float(rule["fault_delay"]))
        self.close_connection = True
        if fault == "cut_after":
            # A bare TCP shutdown: SSLSocket.shutdown sends no close_notify.
            self.connection.shutdown(socket.SHUT_RDWR)
        elif fault == "reset_after":
            # Linger on with a zero timeout makes close() send RST.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
        else:
            Settings.stop.wait(float(rule.get("stall_seconds", 3600)))
        return sent, fault.replace("_after", "")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, scheme, tls_context):
        self.scheme = scheme
        self.tls_context = tls_context
        super().__init__(address, Handler)

    def handle_error(self, request, client_address):
        # Failed handshakes are part of the tests (untrusted certificates):
        # one line, not a traceback.
        error = sys.exc_info()[1]
        log("%s %s handshake or connection error: %s" % (self.scheme, client_address[0], error))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--root", required=True)
    parser.add_argument("--host-dirs-only", action="store_true",
                        help="serve a path only from ROOT/<host>/")
    parser.add_argument("--rules")
    parser.add_argument("--https-port", type=int, default=443)
    parser.add_argument("--http-port", type=int, help="also serve plain HTTP on this port")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--ready")
    args = parser.parse_args()

    Settings.root = args.root
    Settings.host_dirs_only = args.host_dirs_only
    if args.rules:
        Settings.rules_path = args.rules
        current_rules()
        if not Settings.rules_read:
            parser.error("cannot read the rules file %s" % args.rules)

    servers = []
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        servers.append(Server((args.address, args.https_port), "https", context))
    if args.http_port:
        servers.append(Server((args.address, args.http_port), "http", None))
    if not servers:
        parser.error("nothing to serve: give --cert/--key and/or --http-port")

    def stop(signum, frame):
        Settings.stop.set()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for t in threads:
        t.start()
    if args.ready:
        with open(args.ready, "w") as f:
            f.write("%d\n" % os.getpid())
    log("listening on %s: %s" % (args.address, ", ".join(
        "%s:%d" % (s.scheme, s.server_address[1]) for s in servers)))
    while not Settings.stop.wait(1.0):
        pass
    for s in servers:
        s.shutdown()
        s.server_close()


if __name__ == "__main__":
    main()
