#!/usr/bin/env python3
"""NTP servers with known behaviour, for the end-to-end tests of the measurement functions.

One process serves every behaviour below on its own UDP port of 127.0.0.1 (and a few on ::1),
so that scripts can name a server by its port. Honest servers answer from this machine's
clock; the others lie, stall, refuse or send damaged replies before the true one.
Usage: ntp_lab.py [--pid-file FILE]   (runs until killed)
"""
import argparse
import calendar
import heapq
import os
import selectors
import socket
import struct
import time

NTP_EPOCH_OFFSET = 2208988800
# Linux: each datagram carries the kernel's arrival time, so a request that waits while the
# lab serves another still gets its true receive time.
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
BASE_PORT = 12300
# 2040-02-29 12:00:00 UTC: a leap day after the NTP era rolls over in 2036.
YEAR_2040 = calendar.timegm((2040, 2, 29, 12, 0, 0))


def behaviour(offset=0.0, hold_ms=0, **fields):
    return dict(offset=offset, hold_ms=hold_ms, **fields)


# port - BASE_PORT: what the server does. Offsets are seconds added to this machine's clock.
BEHAVIOURS = {
    1: behaviour(),                                 # honest
    2: behaviour(offset=2.5, hold_ms=20),           # 2.5 s ahead, holds each request 20 ms
    3: behaviour(absolute=YEAR_2040),               # its clock reads 2040-02-29 12:00:00
    4: behaviour(stratum=0, refid=b"RATE"),         # kiss-o'-death RATE
    5: behaviour(leap=3),                           # not synchronised
    6: behaviour(stratum=16),                       # not synchronised
    7: behaviour(junk_first=True),                  # invalid replies, then the true one
    8: behaviour(silent=True),                      # never answers
    9: behaviour(offset=3600.0),                    # an hour ahead
    10: behaviour(offset=-120.0),                   # two minutes behind
    11: behaviour(),                                # honest, a second one
    12: behaviour(hold_ms=50),                      # honest, holds each request 50 ms
    13: behaviour(dispersion=2.0),                  # root dispersion 2 s: too vague
    14: behaviour(),                                # honest, a third one
}
IPV6_PORTS = (1, 2)


def ntp_timestamp(unix_seconds):
    seconds = int(unix_seconds // 1)
    fraction = int((unix_seconds - seconds) * 2**32) & 0xFFFFFFFF
    return struct.pack("!II", (seconds + NTP_EPOCH_OFFSET) & 0xFFFFFFFF, fraction)


class Lab:
    def __init__(self):
        self.started = time.time()
        self.selector = selectors.DefaultSelector()
        self.pending = []  # (due, sequence, socket, bytes, address)
        self.sequence = 0
        # A socket on 127.0.0.2 to send replies from a foreign address.
        self.foreign = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.foreign.bind(("127.0.0.2", 0))

    def server_time(self, b):
        now = time.time()
        if "absolute" in b:
            return b["absolute"] + (now - self.started)
        return now + b["offset"]

    def reply(self, b, request, received):
        leap = b.get("leap", 0)
        stratum = b.get("stratum", 2)
        header = struct.pack("!BBbb", (leap << 6) | (4 << 3) | 4, stratum, 6, -20)
        root = struct.pack("!II", 0, int(b.get("dispersion", 0.0005) * 65536))
        refid = b.get("refid", bytes([127, 0, 0, 1]))
        return (header + root + refid + ntp_timestamp(received - 16) + request[40:48] +
                ntp_timestamp(received) + ntp_timestamp(self.server_time(b)))

    def junk(self, good):
        """Replies that a client must drop, each with a time 1000 s wrong."""
        wrong = bytearray(good)
        wrong[32:48] = ntp_timestamp(time.time() + 1000) * 2
        out = []
        for change in ("origin", "mode", "version", "zero transmit", "receive after transmit",
                       "short"):
            r = bytearray(wrong)
            if change == "origin":
                r[24] ^= 0xFF
            elif change == "mode":
                r[0] = (r[0] & ~7) | 3
            elif change == "version":
                r[0] = r[0] & ~0x38
            elif change == "zero transmit":
                r[40:48] = bytes(8)
            elif change == "receive after transmit":
                r[32:40] = ntp_timestamp(time.time() + 2000)
            elif change == "short":
                r = r[:47]
            out.append(bytes(r))
        return out

    def handle(self, sock, b):
        try:
            request, ancillary, _, address = sock.recvmsg(2048, socket.CMSG_SPACE(16))
        except OSError:
            return
        received = self.server_time(b)
        for level, kind, data in ancillary:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
                seconds, nanoseconds = struct.unpack("qq", data[:16])
                received -= time.time() - (seconds + nanoseconds / 1e9)
        if b.get("silent") or len(request) < 48:
            return
        good = self.reply(b, request, received)
        if b.get("junk_first"):
            for r in self.junk(good):
                sock.sendto(r, address)
            if sock.family == socket.AF_INET:
                self.foreign.sendto(good[:24] + good[24:32] + ntp_timestamp(time.time() + 1000) * 2,
                                    address)
                other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                other.bind(("127.0.0.1", 0))
                other.sendto(good[:32] + ntp_timestamp(time.time() + 1000) * 2, address)
                other.close()
        due = time.monotonic() + b["hold_ms"] / 1000.0
        self.sequence += 1
        heapq.heappush(self.pending, (due, self.sequence, sock, b, request, received, address))

    def send_due(self):
        while self.pending and self.pending[0][0] <= time.monotonic():
            _, _, sock, b, request, received, address = heapq.heappop(self.pending)
            # The reply leaves now: its transmit time is now, its receive time then.
            sock.sendto(self.reply(b, request, received), address)

    def open(self):
        for index, b in BEHAVIOURS.items():
            families = [(socket.AF_INET, "127.0.0.1")]
            if index in IPV6_PORTS and socket.has_ipv6:
                families.append((socket.AF_INET6, "::1"))
            for family, host in families:
                s = socket.socket(family, socket.SOCK_DGRAM)
                try:
                    s.bind((host, BASE_PORT + index))
                except OSError:
                    s.close()
                    if family == socket.AF_INET:
                        raise
                    continue  # no IPv6 on this machine
                s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
                s.setblocking(False)
                self.selector.register(s, selectors.EVENT_READ, b)

    def run(self):
        while True:
            timeout = None
            if self.pending:
                timeout = max(0.0, self.pending[0][0] - time.monotonic())
            for key, _ in self.selector.select(timeout):
                self.handle(key.fileobj, key.data)
            self.send_due()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid-file")
    args = parser.parse_args()
    lab = Lab()
    lab.open()
    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write(f"{os.getpid()}\n")
    lab.run()


if __name__ == "__main__":
    main()
