#!/usr/bin/env python3
"""Writes a Maildir++ store of generated mail for the scan benchmark.

Usage: maildir-generate.py <root> [--messages N] [--duplicates FRACTION] [--seed S]

The store has an INBOX and eight folders; sizes follow ordinary mail (most a few kilobytes, some
tens of kilobytes, a few hundreds with an attachment), mostly ASCII with some UTF-8. A fraction of
the messages are byte-for-byte copies of others, spread over the folders. The same arguments
always give the same store.
"""

import argparse
import base64
import os
import random

FOLDERS = ["", ".Archive", ".Archive.2024", ".Archive.2025", ".Lists", ".Lists.dev", ".Sent",
           ".Work", ".Work.Projects"]
WORDS = ("the of and to in is that for it as with was on be by at this are from or have an not "
         "which but all were when we there can more if will one about up out so what time "
         "meeting report tomorrow attached review thanks regards please budget schedule "
         "caf\u00e9 na\u00efve r\u00e9sum\u00e9 \u20ac").split()


def body(rng, size):
    words = []
    length = 0
    while length < size:
        word = rng.choice(WORDS)
        words.append(word)
        length += len(word.encode()) + 1
    lines = []
    for i in range(0, len(words), 12):
        lines.append(" ".join(words[i : i + 12]))
    return "\r\n".join(lines).encode()


def make_message(rng, i):
    roll = rng.random()
    if roll < 0.80:
        size = rng.randint(1000, 6000)
    elif roll < 0.98:
        size = rng.randint(6000, 40000)
    else:
        size = rng.randint(40000, 300000)
    headers = (
        "Return-Path: <sender%d@example.org>\r\n"
        "Received: from mx%d.example.org by mail.example.net; Tue, 1 Jul 2025 10:%02d:%02d +0000\r\n"
        "From: Sender %d <sender%d@example.org>\r\nTo: reader@example.net\r\n"
        "Subject: Message %d\r\nMessage-ID: <%d.%d@example.org>\r\n"
        "Date: Tue, 1 Jul 2025 10:%02d:%02d +0000\r\nMIME-Version: 1.0\r\n"
        % (i % 97, i % 7, i % 60, i % 59, i % 97, i % 97, i, i, rng.randrange(10**9), i % 60,
           i % 59)
    ).encode()
    if size > 40000:
        attachment = base64.encodebytes(rng.randbytes(size * 3 // 4)).replace(b"\n", b"\r\n")
        return (headers + b"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                b"Content-Type: text/plain; charset=utf-8\r\n\r\n" + body(rng, 800) +
                b"\r\n--b\r\nContent-Type: application/octet-stream\r\n"
                b"Content-Transfer-Encoding: base64\r\n\r\n" + attachment + b"--b--\r\n")
    return headers + b"Content-Type: text/plain; charset=utf-8\r\n\r\n" + body(rng, size) + b"\r\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--messages", type=int, default=50000)
    parser.add_argument("--duplicates", type=float, default=0.1)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    for folder in FOLDERS:
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(args.root, folder, sub), exist_ok=True)
        if folder:
            open(os.path.join(args.root, folder, "maildirfolder"), "wb").close()
    distinct = int(args.messages * (1 - args.duplicates))
    originals = []
    for i in range(args.messages):
        if i < distinct:
            data = make_message(rng, i)
            originals.append(data)
        else:
            data = rng.choice(originals)
        folder = rng.choice(FOLDERS)
        delivered = 1700000000 + i * 61 + rng.randrange(60)
        name = "%d.M%06dP%dQ%d.bench" % (delivered, rng.randrange(10**6), 4242, i)
        if rng.random() < 0.9:
            path = os.path.join(args.root, folder, "cur", name + ":2," + rng.choice(["S", "RS", ""]))
        else:
            path = os.path.join(args.root, folder, "new", name)
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
