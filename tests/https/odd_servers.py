#!/usr/bin/env python3
"""Web servers that nginx cannot be made to play, for the HTTPS tests, on 127.0.0.1:
  PORT     TLS with CERT and KEY; the Date header by the request's path:
             /none      no Date            /bad      a Date that is no date
             /rfc850    RFC 850 form       /asctime  asctime() form
             /get-only  Date only on GET   /ahead    IMF-fixdate an hour ahead
             /age       a cache's answer: Date 120 s ago, Age: 120
             /bad-age   Age: 1.5           /far      Fri, 31 Dec 9999 23:59:59 GMT
             /moved, /found   301 or 302 to /ahead, their own Date right
             anything else: IMF-fixdate
  PORT+1   accepts connections and never answers (nor reads)
Usage: odd_servers.py PORT CERT KEY. Prints "ready" when both listen; runs until killed."""
import email.utils
import socket
import ssl
import sys
import threading
import time

REDIRECTS = {"/moved": "301 Moved Permanently", "/found": "302 Found"}


def date_line(method, path):
    now = time.time()
    if path == "/none" or (path == "/get-only" and method != "GET"):
        return ""
    if path == "/bad":
        return "Date: yesterday at noon\r\n"
    if path == "/far":
        return "Date: Fri, 31 Dec 9999 23:59:59 GMT\r\n"
    if path == "/ahead":
        now += 3600
    if path == "/age":
        now -= 120
    t = time.gmtime(now)
    if path == "/rfc850":
        text = time.strftime("%A, %d-%b-%y %H:%M:%S GMT", t)
    elif path == "/asctime":
        text = time.strftime("%a %b %e %H:%M:%S %Y", t)
    else:
        text = email.utils.formatdate(now, usegmt=True)
    return "Date: " + text + "\r\n"


def serve(conn, context):
    try:
        conn.settimeout(5)
        with context.wrap_socket(conn, server_side=True) as tls:
            request = b""
            while b"\r\n\r\n" not in request:
                data = tls.recv(4096)
                if not data:
                    return
                request += data
            method, path = request.decode("latin-1").split(" ")[:2]
            body = "ok\n" if method == "GET" else ""
            status, extra = "200 OK", ""
            if path == "/age":
                extra = "Age: 120\r\n"
            elif path == "/bad-age":
                extra = "Age: 1.5\r\n"
            elif path in REDIRECTS:
                status, extra = REDIRECTS[path], "Location: /ahead\r\n"
            tls.sendall(("HTTP/1.1 " + status + "\r\n" + date_line(method, path) + extra +
                         "Content-Length: 3\r\nConnection: close\r\n\r\n" + body).encode())
    except (OSError, ValueError):
        pass  # refused handshakes and dropped connections are the tests' business
    finally:
        conn.close()


def listener(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", port))
    s.listen(16)
    return s


def main():
    port, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    dated, silent = listener(port), listener(port + 1)
    held = []

    def hold():
        while True:
            held.append(silent.accept()[0])

    threading.Thread(target=hold, daemon=True).start()
    print("ready", flush=True)
    while True:
        conn, _ = dated.accept()
        threading.Thread(target=serve, args=(conn, context), daemon=True).start()


if __name__ == "__main__":
    main()
