"""What the loopback SMTP servers of the mail tests share: a free port, the LOGIN check, telling the test the
port, and running until the test stops them (SIGTERM, standard input closed, or the lifetime is over)."""
import os
import signal
import socket
import sys
import threading

from aiosmtpd.smtp import AuthResult, LoginPassword


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def login_checker(account, password):
    """An aiosmtpd authenticator accepting only ACCOUNT/PASSWORD (bytes); a refusal is answered 535."""
    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == account and auth_data.password == password
        return AuthResult(success=ok, handled=False)
    return authenticator


def serve(controller, folder, lifetime):
    """Starts the controller, writes FOLDER/port, and stops it when the test is done with it."""
    controller.start()
    with open(os.path.join(folder, "port.tmp"), "w") as f:
        f.write(str(controller.port))
    os.replace(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait(lifetime)
    controller.stop()
