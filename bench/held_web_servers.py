#!/usr/bin/env python3
"""Plain HTTP servers that hold each answer, for the benchmark of a mixed Rizi.QueryNTPServers
list: each waits HOLD_MS, then answers HEAD or GET with 204 and a Date header of this
machine's clock, written when the answer goes out. They serve until standard input closes,
so the program that started them through a pipe stops them by closing it.
Usage: held_web_servers.py HOLD_MS ADDRESS:PORT...
"""
import http.server
import sys
import threading
import time


class HeldHandler(http.server.BaseHTTPRequestHandler):
    hold_seconds = 0.0

    def do_HEAD(self):
        time.sleep(self.hold_seconds)
        self.send_response(204)  # send_response adds Date
        self.send_header("Connection", "close")
        self.end_headers()

    do_GET = do_HEAD

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    HeldHandler.hold_seconds = int(sys.argv[1]) / 1000.0
    servers = []
    for where in sys.argv[2:]:
        address, port = where.rsplit(":", 1)
        server = http.server.ThreadingHTTPServer((address, int(port)), HeldHandler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    sys.stdin.read()  # until the pipe closes
    for server in servers:
        server.shutdown()


if __name__ == "__main__":
    main()
