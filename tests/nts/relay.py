#!/usr/bin/env python3
"""The man in the middle for the NTS tests, on loopback:
  UDP ADDR:PORT   NTP relayed to 127.0.0.1:PORT (chronyd, whose key exchange names ADDR), the
                  replies by the mode that DIR/relay.mode holds when a request arrives:
                    pass                   the genuine reply
                    tampered               forgeries (below), never the genuine reply
                    tampered-then-genuine  the forgeries, then the genuine reply
                    ntsn                   an unauthenticated NTS NAK (kiss NTSN) with the
                                           request's Unique Identifier, not relayed; then pass
                  The forgeries: each copy of the reply with one byte inverted, an earlier
                  reply, the reply cut before, inside or at the end of its authenticator, its
                  NTP header alone, and NAKs with no or another Unique Identifier.
  TCP KE:TARGET   127.0.0.1 and [::1] port KE relayed to 127.0.0.1:TARGET; DIR/ke.KE holds
                  "ACCEPTED OPEN": the connections so far (counted before a byte is relayed:
                  how many key exchanges) and those neither side has closed yet.
Usage: relay.py DIR ADDR PORT KE:TARGET... Prints "ready" when all listen; ends after 10 minutes
at most, so that a run killed before its clean-up leaves nothing behind for long."""
import os
import signal
import socket
import struct
import sys
import threading
import time

UNIQUE_ID, AUTHENTICATOR = 0x0104, 0x0404
NTP_EPOCH = 2208988800


def fields(packet):
    """The extension fields after the 48-byte header as (type, start, end); stops at the first
    that breaks its length."""
    found, at = [], 48
    while at + 4 <= len(packet):
        kind, length = struct.unpack_from("!HH", packet, at)
        if length < 4 or at + length > len(packet):
            break
        found.append((kind, at, at + length))
        at += length
    return found


def field(packet, wanted):
    return next(((s, e) for kind, s, e in fields(packet) if kind == wanted), None)


def nak(request, unique_id):
    """An NTS NAK: kiss code NTSN, stratum 0, the request's transmit time as originate time."""
    now = time.time() + NTP_EPOCH
    stamp = struct.pack("!II", int(now), int((now % 1) * 2**32))
    head = bytes([0xE4, 0, request[2], 0]) + bytes(8) + b"NTSN" + bytes(8) + request[40:48]
    return head + stamp + stamp + unique_id


def forgeries(reply, request, earlier):
    out = []
    for i in range(len(reply)):
        copy = bytearray(reply)
        copy[i] ^= 0xFF
        out.append(bytes(copy))
    if earlier:
        out.append(earlier)
    auth = field(reply, AUTHENTICATOR)
    if auth:
        out += [reply[:auth[0]], reply[:auth[0] + 24], reply[:-4]]
    out.append(reply[:48])
    uid = field(request, UNIQUE_ID)
    out.append(nak(request, b""))
    if uid:
        other = bytearray(request[uid[0]:uid[1]])
        other[-1] ^= 0xFF
        out.append(nak(request, bytes(other)))
    return out


def read_mode(folder):
    try:
        with open(os.path.join(folder, "relay.mode")) as f:
            return f.read().strip() or "pass"
    except OSError:
        return "pass"


def ask(request, port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(1)
        s.sendto(request, ("127.0.0.1", port))
        try:
            return s.recv(65536)
        except OSError:
            return None


def relay_ntp(folder, sock, port):
    earlier = None
    while True:
        request, client = sock.recvfrom(65536)
        mode = read_mode(folder)
        if mode == "ntsn":
            uid = field(request, UNIQUE_ID)
            sock.sendto(nak(request, request[uid[0]:uid[1]] if uid else b""), client)
            with open(os.path.join(folder, "relay.mode"), "w") as f:
                f.write("pass\n")
            continue
        reply = ask(request, port)
        if reply is None:
            continue
        if mode.startswith("tampered"):
            # In bursts, so that the client's receive buffer never overflows and drops the
            # genuine reply that may follow.
            for i, forged in enumerate(forgeries(reply, request, earlier)):
                sock.sendto(forged, client)
                if i % 32 == 31:
                    time.sleep(0.003)
            time.sleep(0.05)
        if mode != "tampered":
            sock.sendto(reply, client)
        earlier = reply


def pump(a, b, ended=None):
    try:
        while True:
            data = a.recv(65536)
            if not data:
                break
            b.sendall(data)
    except OSError:
        pass
    for s in (a, b):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
    a.close()
    if ended:
        ended()


def count_and_relay(folder, listeners, ke_port, target):
    counts = {"accepted": 0, "open": 0}
    lock = threading.Lock()
    path = os.path.join(folder, "ke.%d" % ke_port)

    def change(accepted, opened):
        with lock:
            counts["accepted"] += accepted
            counts["open"] += opened
            with open(path + ".new", "w") as f:
                f.write("%d %d\n" % (counts["accepted"], counts["open"]))
            os.replace(path + ".new", path)

    def serve(listener):
        while True:
            conn, _ = listener.accept()
            change(1, 1)
            try:
                upstream = socket.create_connection(("127.0.0.1", target), 2)
            except OSError:
                conn.close()
                change(0, -1)
                continue
            threading.Thread(target=pump, args=(conn, upstream, lambda: change(0, -1)),
                             daemon=True).start()
            threading.Thread(target=pump, args=(upstream, conn), daemon=True).start()

    change(0, 0)
    for listener in listeners:
        threading.Thread(target=serve, args=(listener,), daemon=True).start()


def main():
    folder, addr, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    signal.alarm(600)
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind((addr, port))
    for pair in sys.argv[4:]:
        ke_port, target = map(int, pair.split(":"))
        listeners = []
        for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
            s = socket.socket(family, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind((host, ke_port))
            s.listen(16)
            listeners.append(s)
        count_and_relay(folder, listeners, ke_port, target)
    print("ready", flush=True)
    relay_ntp(folder, udp, port)


if __name__ == "__main__":
    main()
