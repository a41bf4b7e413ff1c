#!/usr/bin/env python3
"""Writes a small Maildir++ store with duplicate messages, for trying Pairsweep out.

Usage: make-sample-maildir.py DIRECTORY
"""
import mailbox
import sys
from email.message import EmailMessage


def message(n, subject, body):
    msg = EmailMessage()
    msg["From"] = "Alice Example <alice@example.org>"
    msg["To"] = "Bob Example <bob@example.org>"
    msg["Subject"] = subject
    msg["Message-ID"] = f"<sample-{n}@example.org>"
    msg["Date"] = f"Mon, 7 Dec 2026 09:{n:02d}:00 +0000"
    msg.set_content(body)
    return msg


def main():
    root = sys.argv[1]
    store = mailbox.Maildir(root, create=True)
    mails = [message(n, f"Sample message {n}", f"Hello Bob,\n\nthis is sample message {n}.\n")
             for n in range(1, 9)]
    mails.append(message(9, "Grüße aus Köln", "Ein Beispiel mit Umlauten: äöü ß €.\n"))
    for msg in mails:
        store.add(msg)
    # The same messages again, as a second fetch or a botched import leaves them.
    for msg in mails[:5]:
        store.add(msg)
    archive = store.add_folder("Archive")
    for msg in mails[3:7]:
        archive.add(msg)
    trash = store.add_folder("Trash")
    trash.add(mails[0])
    print(f"{len(mails)} distinct messages, 9 duplicates")


if __name__ == "__main__":
    main()
