#!/usr/bin/python3
"""A one-connection test server for the TLS upgrade, on 127.0.0.1.

Usage: tls_server.py FOLDER MODE CERT KEY
Writes the port it listens on to FOLDER/port when ready. The dialogue starts in clear: the server
sends "220 ready", waits for "STARTTLS" and answers "220 go"; then, by MODE:
  echo    TLS with CERT/KEY; sends "secure\r\n", then echoes all it receives; a chunk ending in "BYE\r\n"
          is answered with "221 bye\r\n", a close notification and the end of the connection
  close   reads the first bytes of the client's handshake and closes the connection
  silent  reads the first bytes of the client's handshake and never answers (until the client goes away)
Every socket wait is limited, so the server ends by itself whatever the client does.
"""
import os
import socket
import ssl
import sys

LIMIT = 60


def read_line(conn):
    data = b""
    while not data.endswith(b"\r\n"):
        piece = conn.recv(1)
        if not piece:
            raise EOFError("client went away")
        data += piece
    return data


def main():
    folder, mode, cert, key = sys.argv[1:5]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(LIMIT)
    with open(os.path.join(folder, "port.tmp"), "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
    conn, _ = listener.accept()
    conn.settimeout(LIMIT)
    conn.sendall(b"220 ready\r\n")
    if read_line(conn).strip().upper() != b"STARTTLS":
        conn.sendall(b"500 what\r\n")
        return
    conn.sendall(b"220 go\r\n")
    if mode in ("close", "silent"):
        conn.recv(65536)
        if mode == "silent":
            while conn.recv(4096):
                pass
        conn.close()
        return
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    tls = context.wrap_socket(conn, server_side=True)
    tls.sendall(b"secure\r\n")
    while True:
        data = tls.recv(65536)
        if not data:
            break
        if data.endswith(b"BYE\r\n"):
            tls.sendall(data[:-5] + b"221 bye\r\n")
            tls.unwrap().close()
            return
        tls.sendall(data)


if __name__ == "__main__":
    try:
        main()
    except (OSError, EOFError) as e:  # refused handshakes end up here: expected in the refusal tests
        print("server:", e, file=sys.stderr)
