#!/usr/bin/env python3
"""Web servers that nginx cannot be made to play, for the HTTPS tests, on 127.0.0.1:
  PORT     TLS with CERT and KEY; the Date header by the request's path:
             /none      no Date            /bad      a Date that is no date
             /rfc850    RFC 850 form       /asctime  asctime() form
             /get-only  Date only on GET   /ahead    IMF-fixdate an hour ahead
             anything else: IMF-fixdate
  PORT+1   accepts connections and never answers (nor reads)
Usage: odd_servers.py PORT CERT KEY. Prints "ready" when both listen; runs until killed."""
import email.utils
import socket
import ssl
import sys
import threading
import time


def date_line(method, path):
    now = time.time()
    if path == "/none" or (path == "/get-only" and method != "GET"):
        return ""
    if path == "/bad":
        return "Date: yesterday at noon\r\n"
    if path == "/ahead":
        now += 3600
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
            tls.sendall(("HTTP/1.1 200 OK\r\n" + date_line(method, path) +
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
