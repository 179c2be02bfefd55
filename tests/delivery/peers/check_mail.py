#!/usr/bin/python3
"""Checks a received bug report mail with Python's email package.

Usage: check_mail.py MESSAGE.eml EXPECTED.json
EXPECTED.json: {"subject": text, "from": text, "to": text, "body": text (as decoded from the text part),
"attachments": [[send-as name, content type, file with the expected bytes], ...]}
Prints the problems found (or "ok") and exits with 1 when there are any.
"""
import email
import email.policy
import json
import sys

message = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
want = json.load(open(sys.argv[2], encoding="utf-8"))
problems = []


def check(what, got, expected):
    if got != expected:
        problems.append("%s: %r != %r" % (what, got, expected))


check("subject", str(message["Subject"]), want["subject"])
check("from", str(message["From"]), want["from"])
check("to", str(message["To"]), want["to"])
check("defects", [type(d).__name__ for part in message.walk() for d in part.defects], [])
if want["attachments"]:
    check("multipart", message.get_content_type(), "multipart/mixed")
    parts = list(message.iter_parts())
    check("part count", len(parts), 1 + len(want["attachments"]))
    if parts:
        check("text part", parts[0].get_content_type(), "text/plain")
        check("body", parts[0].get_content(), want["body"])
    for part, (name, ctype, path) in zip(parts[1:], want["attachments"]):
        check(name + " name", part.get_filename(), name)
        check(name + " type", part.get_content_type(), ctype)
        check(name + " disposition", part.get_content_disposition(), "attachment")
        check(name + " bytes", part.get_payload(decode=True) == open(path, "rb").read(), True)
else:
    check("body", message.get_payload(decode=True).decode("latin-1"), want["body"])
print("\n".join(problems) if problems else "ok")
sys.exit(1 if problems else 0)
