#!/usr/bin/python3
"""The STARTTLS mail test of the Windows build: SChannel under Wine against aiosmtpd on 127.0.0.1.

Usage: starttls_win_test.py CLIENT_EXE WINE_EXEC FOLDER
Makes a test root and server certificates with openssl, installs the root into the Wine prefix's machine
root store (and takes it out at the end), then, one server per case:
  trusted certificate        -> the mail arrives, and credentials went only over the secured connection
  self-signed certificate    -> refused as not trusted, and the server never saw AUTH
  STARTTLS answered with 454 -> failure, and the server never saw AUTH
Exit code 0 when every case behaved.
"""
import os
import subprocess
import sys
import time

client, wine_exec, folder = sys.argv[1:4]
here = os.path.dirname(os.path.abspath(__file__))
sink_script = os.path.join(here, "peers", "starttls_sink.py")
failures = []


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_pki():
    def p(name):
        return os.path.join(folder, name)
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "3",
            "-subj", "/CN=Ravex Test Root", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", p("root.key"), "-out", p("root.pem"))
    openssl("x509", "-in", p("root.pem"), "-outform", "DER", "-out", p("root.der"))
    with open(p("good.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=localhost",
            "-keyout", p("good.key"), "-out", p("good.csr"))
    openssl("x509", "-req", "-in", p("good.csr"), "-CA", p("root.pem"), "-CAkey", p("root.key"), "-CAcreateserial",
            "-days", "3", "-extfile", p("good.ext"), "-out", p("good.pem"))
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "3",
            "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
            "-keyout", p("self.key"), "-out", p("self.pem"))


def run_client(*args):
    r = subprocess.run([wine_exec, client, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL,
                       timeout=120)
    return r.returncode, r.stdout.strip()


def case(name, cert, mode, want_sent, want_text):
    work = os.path.join(folder, name)
    os.makedirs(work, exist_ok=True)
    sink = subprocess.Popen(["/usr/bin/python3", sink_script, work, "reporter", "s3cret",
                             os.path.join(folder, cert + ".pem"), os.path.join(folder, cert + ".key"), mode, "100"],
                            stdin=subprocess.PIPE, stdout=open(os.path.join(work, "sink.log"), "w"),
                            stderr=subprocess.STDOUT)
    try:
        for _ in range(200):
            if os.path.exists(os.path.join(work, "port")) or sink.poll() is not None:
                break
            time.sleep(0.05)
        port = open(os.path.join(work, "port")).read().strip()
        rc, out = run_client("send", "127.0.0.1", port, "reporter", "s3cret")
    finally:
        sink.stdin.close()
        sink.wait(timeout=30)
    auth = open(os.path.join(work, "auth.log")).read() if os.path.exists(os.path.join(work, "auth.log")) else ""
    sent = os.path.exists(os.path.join(work, "message-1.eml"))
    print("%s: client rc=%d %r; auth.log=%r; message=%s" % (name, rc, out, auth, sent))
    if (rc == 0) != want_sent or sent != want_sent or want_text not in out:
        failures.append(name + ": unexpected outcome")
    if want_sent and auth.strip() != "AUTH LOGIN secured=yes":
        failures.append(name + ": credentials not (only) over TLS")
    if not want_sent and auth:
        failures.append(name + ": the server saw AUTH")


def main():
    os.makedirs(folder, exist_ok=True)
    make_pki()
    root = windows_path(os.path.join(folder, "root.der"))
    rc, out = run_client("install", root)
    if rc != 0:
        print("cannot install the test root:", out)
        return 1
    try:
        case("trusted", "good", "tls", True, "sent")
        case("self_signed", "self", "tls", False, "certificate not trusted: self-signed")
        case("refused_starttls", "good", "refuse", False, "454")
    finally:
        run_client("remove", root)
    for f in failures:
        print("FAILED", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
