#!/usr/bin/python3
"""The peer of bench_smtp: Python's smtplib sends the same report mail (login, 1 MB attachment, base64 lines
of 76) to the same server, ROUNDS times; prints the best time of one sending in seconds. With ROOT (a PEM
file), the connection is upgraded with STARTTLS first, checked against that root.

Usage: smtplib_send.py PORT ACCOUNT PASSWORD ATTACHMENT ROUNDS [ROOT]
"""
import email.message
import smtplib
import ssl
import sys
import time

port, account, password, attachment, rounds = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
root = sys.argv[6] if len(sys.argv) > 6 else None
best = None
for _ in range(rounds):
    t0 = time.perf_counter()
    # The message is composed in every round, as the sender under test composes and encodes its own.
    message = email.message.EmailMessage()
    message["To"] = "support@example.test"
    message["From"] = "Ravex <crash@example.test>"
    message["Subject"] = "Relatório de erros"
    message.set_content("Olá,\nthe report is attached.\n", charset="iso-8859-1", cte="8bit")
    with open(attachment, "rb") as f:
        message.add_attachment(f.read(), maintype="application", subtype="octet-stream", filename="bugreport.bin")
    with smtplib.SMTP("127.0.0.1", port, local_hostname="crashbox.test") as smtp:
        if root:
            smtp.starttls(context=ssl.create_default_context(cafile=root))
        smtp.login(account, password)
        smtp.send_message(message)
    elapsed = time.perf_counter() - t0
    best = elapsed if best is None else min(best, elapsed)
print("%.6f" % best)
