#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp authority for tests: answers each POSTed
time-stamp query with `openssl ts -reply` under the given configuration.

    scripts/tsa_server.py PORT OPENSSL_TS_CONFIG

Listens on 127.0.0.1 only; meant for a private network namespace.
"""
import http.server
import subprocess
import sys
import tempfile


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.NamedTemporaryFile() as q, tempfile.NamedTemporaryFile() as r:
            q.write(query)
            q.flush()
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", sys.argv[2], "-queryfile", q.name,
                 "-out", r.name], capture_output=True)
            reply = r.read() if done.returncode == 0 else b""
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
