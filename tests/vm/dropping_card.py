#!/usr/bin/env python3
"""A counterfeit card for the card lab: an NBD server on a Unix socket that
reports SIZE MiB but keeps only the first KEPT. Writes past them report
success and are lost; reads there give zeros. QEMU serves it as a reader's
medium.

Usage: dropping_card.py SOCKET SIZE_MIB KEPT_MIB
"""
import os
import socket
import struct
import sys

OPTION_MAGIC = 0x3E889045565A9
REQUEST_MAGIC, REPLY_MAGIC = 0x25609513, 0x67446698
OPT_ABORT, OPT_GO = 2, 7
REP_ACK, REP_INFO, REP_ERR_UNSUP = 1, 3, 0x80000001
CMD_READ, CMD_WRITE, CMD_DISC = 0, 1, 2
FLAG_FIXED_NEWSTYLE, FLAG_NO_ZEROES = 1, 2
HAS_FLAGS, SEND_FLUSH = 1, 4


def exact(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def negotiate(conn, size):
    conn.sendall(b"NBDMAGIC" + b"IHAVEOPT" + struct.pack(">H", FLAG_FIXED_NEWSTYLE | FLAG_NO_ZEROES))
    exact(conn, 4)  # the client's flags
    while True:
        _, option, length = struct.unpack(">QII", exact(conn, 16))
        exact(conn, length)

        def reply(kind, data=b""):
            conn.sendall(struct.pack(">QIII", OPTION_MAGIC, option, kind, len(data)) + data)

        if option == OPT_ABORT:
            raise EOFError
        if option != OPT_GO:
            reply(REP_ERR_UNSUP)
            continue
        reply(REP_INFO, struct.pack(">HQH", 0, size, HAS_FLAGS | SEND_FLUSH))
        reply(REP_ACK)
        return


def serve(conn, store):
    kept = len(store)
    while True:
        _, _, kind, handle, offset, length = struct.unpack(">IHHQQI", exact(conn, 28))
        data = b""
        if kind == CMD_WRITE:
            payload = exact(conn, length)
            if offset < kept:
                store[offset:offset + length] = payload[:kept - offset]
        elif kind == CMD_READ:
            data = bytes(store[offset:offset + length]) if offset < kept else b""
            data += bytes(length - len(data))
        elif kind == CMD_DISC:
            return
        conn.sendall(struct.pack(">IIQ", REPLY_MAGIC, 0, handle) + data)


def main():
    path, size_mib, kept_mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    store = bytearray(kept_mib << 20)
    if os.path.exists(path):
        os.unlink(path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(1)
    while True:
        conn, _ = listener.accept()
        try:
            negotiate(conn, size_mib << 20)
            serve(conn, store)
        except (EOFError, ConnectionError):
            pass
        conn.close()


if __name__ == "__main__":
    main()
