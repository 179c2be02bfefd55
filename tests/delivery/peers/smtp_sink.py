#!/usr/bin/python3
"""A loopback SMTP server for the mail tests: aiosmtpd on 127.0.0.1 with AUTH LOGIN (in plain).

Usage: smtp_sink.py FOLDER ACCOUNT PASSWORD [LIFETIME_SECONDS]
Writes the port it listens on to FOLDER/port (when it is ready) and every message it accepts to
FOLDER/message-N.eml with its envelope in FOLDER/message-N.json. Stops by itself after the lifetime
(default 60 s), on SIGTERM, or when its standard input closes.
"""
import json
import os
import sys
import time

from aiosmtpd.controller import Controller

from sink_common import free_port, login_checker, serve

folder, account, password = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
lifetime = float(sys.argv[4]) if len(sys.argv) > 4 else 60.0




class Sink:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Sink.count += 1
        base = os.path.join(folder, "message-%d" % Sink.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos,
                       "login": session.authenticated}, f)
        return "250 OK stored"


controller = Controller(Sink(), hostname="127.0.0.1", port=free_port(), authenticator=login_checker(account, password),
                        auth_require_tls=False)
serve(controller, folder, lifetime)
