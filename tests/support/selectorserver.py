#!/usr/bin/python3
"""Loopback selector for the tests: an HTTPS server on 127.0.0.1 that answers
GET /outsourcing/selector?login=... the way the test tells it to.

Usage: selectorserver.py --cert CERT --key KEY --control FOLDER [--port N]

It prints "PORT <n>" on its standard output once it listens (port 0 asks the
system for a free port). Before each answer it reads FOLDER/answers.json:

    {"default": ANSWER, "logins": {"<login>": ANSWER, ...}}
    ANSWER = {"body": "<base64>", "status": 200,
              "mode": "normal" | "hang" | "endless", "piece": 0}

"hang" reads the request and never answers; "endless" sends a chunked body that
never ends; "piece" > 0 sends the body in pieces of that many bytes. Each request
is appended to FOLDER/requests.log as one JSON line: {"query": raw query text,
"login": the decoded login or null}. The server ends when its parent does.
"""

import argparse
import base64
import http.server
import json
import os
import ssl
import sys
import threading
import time
import urllib.parse

SELECTOR_PATH = "/outsourcing/selector"
FOREVER = threading.Event()  # never set: what a hanging answer waits on


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "LoopbackSelector"
    sys_version = ""

    def setup(self):
        # The TLS handshake runs here, in this request's own thread, so that a
        # client that never completes it holds up nobody else.
        self.request.settimeout(60)
        self.request.do_handshake()
        self.request.settimeout(None)
        super().setup()

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self.close_connection = True
        url = urllib.parse.urlsplit(self.path)
        values = urllib.parse.parse_qs(url.query, keep_blank_values=True,
                                       encoding="utf-8", errors="replace")
        login = values["login"][0] if "login" in values else None
        self.server.record({"path": url.path, "query": url.query, "login": login})

        if url.path != SELECTOR_PATH:
            self.send_body(404, b"not found")
            return
        answer = self.server.answer_for(login)
        mode = answer.get("mode", "normal")
        status = int(answer.get("status", 200))
        body = base64.b64decode(answer.get("body", ""))
        if mode == "hang":
            FOREVER.wait()
        elif mode == "endless":
            self.send_endless(status, body)
        else:
            self.send_body(status, body, int(answer.get("piece", 0)))

    def send_body(self, status, body, piece=0):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if piece <= 0:
            self.wfile.write(body)
            return
        for start in range(0, len(body), piece):
            self.wfile.write(body[start:start + piece])
            self.wfile.flush()
            time.sleep(0.005)

    def send_endless(self, status, head):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        filler = b"x" * 65536
        try:
            if head:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(head), head))
            while True:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(filler), filler))
        except OSError:
            pass  # the client hung up: that is how this answer ends


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, context, control):
        self.context = context
        self.control = control
        self.lock = threading.Lock()
        super().__init__(("127.0.0.1", port), Handler)

    def get_request(self):
        sock, address = self.socket.accept()
        return self.context.wrap_socket(sock, server_side=True,
                                        do_handshake_on_connect=False), address

    def handle_error(self, request, client_address):
        kind, value = sys.exc_info()[:2]
        # A client that refuses the certificate or hangs up is part of the tests.
        print("selectorserver: %s: %s" % (kind.__name__, value), file=sys.stderr)

    def answer_for(self, login):
        try:
            with open(os.path.join(self.control, "answers.json"), encoding="utf-8") as f:
                answers = json.load(f)
        except FileNotFoundError:
            answers = {}
        logins = answers.get("logins", {})
        if login is not None and login in logins:
            return logins[login]
        return answers.get("default", {})

    def record(self, entry):
        line = json.dumps(entry, ensure_ascii=True) + "\n"
        with self.lock:
            with open(os.path.join(self.control, "requests.log"), "a", encoding="ascii") as f:
                f.write(line)


def end_with_parent():
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--control", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server = Server(args.port, context, args.control)
    threading.Thread(target=end_with_parent, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
