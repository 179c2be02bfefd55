#!/usr/bin/python3
"""A loopback SMTP server that offers STARTTLS, for the TLS tests of mail sending: aiosmtpd on 127.0.0.1.

Usage: starttls_sink.py FOLDER ACCOUNT PASSWORD CERT KEY MODE [LIFETIME_SECONDS]
MODE  tls     STARTTLS with CERT/KEY; AUTH LOGIN is offered only on the secured connection
      refuse  STARTTLS is offered but answered "454 TLS not available"
Writes the port to FOLDER/port when ready, every accepted message to FOLDER/message-N.eml, and one line per
AUTH command it receives to FOLDER/auth.log ("AUTH <mechanism> secured=<yes|no>"), also for an AUTH it
refuses, so that a test can tell whether credentials were ever offered. Stops after the lifetime (default
60 s), on SIGTERM, or when its standard input closes.
"""
import os
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

from sink_common import free_port, login_checker, serve

folder, account, password, cert, key, mode = sys.argv[1:7]
lifetime = float(sys.argv[7]) if len(sys.argv) > 7 else 60.0




class Sink:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Sink.count += 1
        with open(os.path.join(folder, "message-%d.eml" % Sink.count), "wb") as f:
            f.write(envelope.original_content)
        return "250 OK stored"


class WatchedSmtp(SMTP):
    async def smtp_AUTH(self, arg):
        with open(os.path.join(folder, "auth.log"), "a") as f:
            f.write("AUTH %s secured=%s\n" % ((arg or "").split(" ")[0], "yes" if self._tls_protocol else "no"))
        await super().smtp_AUTH(arg)

    async def smtp_STARTTLS(self, arg):
        if mode == "refuse":
            await self.push("454 4.7.0 TLS not available")
            return
        await super().smtp_STARTTLS(arg)


class WatchedController(Controller):
    def factory(self):
        return WatchedSmtp(self.handler, **self.SMTP_kwargs)


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
controller = WatchedController(Sink(), hostname="127.0.0.1", port=free_port(), tls_context=context,
                               authenticator=login_checker(account.encode(), password.encode()),
                               auth_require_tls=True)
serve(controller, folder, lifetime)
