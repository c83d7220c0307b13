#!/usr/bin/env python3
"""A loopback HTTP proxy in front of one server that resets every connection
once it has passed a given number of bytes to the client: a flaky school
link, made repeatable. Prints its address ("http://127.0.0.1:PORT/") and,
on SIGTERM, writes the bytes the server sent to it into --count FILE.

    scripts/reset-proxy.py --upstream 127.0.0.1:PORT --every BYTES --count FILE [--cuts N]

--cuts N: only the first N connections that reach BYTES are reset; later ones pass whole.
"""
import argparse
import fcntl
import signal
import socket
import struct
import sys
import termios
import threading
import time

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--upstream", required=True)
parser.add_argument("--every", type=int, required=True)
parser.add_argument("--count", required=True)
parser.add_argument("--cuts", type=int, default=-1)
args = parser.parse_args()
cuts_left = args.cuts
host, port = args.upstream.rsplit(":", 1)
sent_by_server = 0
lock = threading.Lock()


def take_cut() -> bool:
    global cuts_left
    with lock:
        if cuts_left == 0:
            return False
        cuts_left -= 1
        return True


def pipe(client: socket.socket) -> None:
    global sent_by_server
    server = socket.create_connection((host, int(port)))
    passed = 0
    # One request a connection: its head, passed on whole. No thread of its own, so that
    # closing the client's socket below really sends the reset.
    head = b""
    while b"\r\n\r\n" not in head:
        data = client.recv(65536)
        if not data:
            client.close()
            server.close()
            return
        head += data
    # One request a connection: the server is asked to close after its reply, so that no client
    # sends a second request down a connection whose replies are no longer passed on.
    end = head.index(b"\r\n\r\n")
    lines = [line for line in head[:end].split(b"\r\n") if not line.lower().startswith(b"connection:")]
    head = b"\r\n".join(lines + [b"Connection: close"]) + head[end:]
    server.sendall(head)
    limit = args.every
    try:
        while passed < limit:
            data = server.recv(int(min(65536, limit - passed)))
            if not data:
                break
            if passed + len(data) >= limit and not take_cut():
                limit = float("inf")
            with lock:
                sent_by_server += len(data)
            client.sendall(data)
            passed += len(data)
        if passed >= limit:  # cut: the client sees a reset, not an end
            # once what was passed on has reached it, as a link that drops between packets would
            for _ in range(500):
                if struct.unpack("i", fcntl.ioctl(client.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0] == 0:
                    break
                time.sleep(0.004)
            client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    finally:
        client.close()
        server.close()


def stop(*_: object) -> None:
    with open(args.count, "w") as out:
        out.write(f"{sent_by_server}\n")
    sys.exit(0)


signal.signal(signal.SIGTERM, stop)
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(64)
print(f"http://127.0.0.1:{listener.getsockname()[1]}/", flush=True)
while True:
    connection, _ = listener.accept()
    threading.Thread(target=pipe, args=(connection,), daemon=True).start()
