#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 that misbehaves in one way, for one connection.

Usage: misbehaving_smtp.py FOLDER MODE [LIFETIME_SECONDS]
MODE: close-after-ehlo, slow-greeting (answers after 3 s), malformed, busy-451 (MAIL FROM refused with
451), unknown-550 (RCPT TO refused with 550), reply-flood (an endless EHLO reply), refused (nothing listens
on the port written).
Writes the port to FOLDER/port when ready and the commands it received to FOLDER/commands.txt. Stops by
itself after the lifetime (default 30 s) or when the one connection ends.
"""
import os
import socket
import sys
import time

folder, mode = sys.argv[1], sys.argv[2]
lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 30.0
deadline = time.monotonic() + lifetime


def publish(port):
    with open(os.path.join(folder, "port.tmp"), "w") as f:
        f.write(str(port))
    os.replace(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))


if mode == "refused":
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    publish(port)  # closed again: connecting is refused
    sys.exit(0)

server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(1)
server.settimeout(max(0.1, deadline - time.monotonic()))
publish(server.getsockname()[1])
try:
    conn, _ = server.accept()
except socket.timeout:
    sys.exit(0)
conn.settimeout(max(0.1, deadline - time.monotonic()))
log = open(os.path.join(folder, "commands.txt"), "w")
pending = b""


def command():
    global pending
    while b"\r\n" not in pending:
        data = conn.recv(4096)
        if not data:
            return None
        pending += data
    line, pending = pending.split(b"\r\n", 1)
    log.write(line.decode("latin-1") + "\n")
    log.flush()
    return line


def say(text):
    conn.sendall(text.encode("latin-1"))


try:
    if mode == "slow-greeting":
        time.sleep(3)
    if mode == "malformed":
        say("hello, this is no SMTP server\r\n")
        command()
    else:
        say("220 misbehaving.test ESMTP\r\n")
    while True:
        line = command()
        if line is None:
            break
        verb = line.split(b" ")[0].split(b":")[0].upper()
        if verb == b"EHLO":
            if mode == "close-after-ehlo":
                break
            if mode == "reply-flood":
                while time.monotonic() < deadline:
                    say("250-" + "x" * 1000 + "\r\n")
                break
            say("250-misbehaving.test\r\n250 8BITMIME\r\n")
        elif verb == b"MAIL":
            say("451 4.3.0 try again later\r\n" if mode == "busy-451" else "250 ok\r\n")
        elif verb == b"RCPT":
            say("550 5.1.1 no such user\r\n" if mode == "unknown-550" else "250 ok\r\n")
        elif verb == b"QUIT":
            say("221 bye\r\n")
            break
        else:
            say("250 ok\r\n")
except (OSError, socket.timeout):
    pass
finally:
    conn.close()
    server.close()
