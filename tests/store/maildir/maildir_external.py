#!/usr/bin/env python3
"""The Maildir server against programs of other makers.

Python's mailbox module writes a store with duplicates across folders, the real scan runs over it
(through the pairsweep_maildir_scan program), and the same module reads the store back. Dovecot,
started here on a loopback port with a configuration of its own, serves the scanned store and
lists its folder counts.

Usage: maildir_external.py --scan <pairsweep_maildir_scan> [unittest names...]
"""

import argparse
import collections
import imaplib
import mailbox
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SCAN = None

MOVE_TO_DELETED, FORCE_DELETE, MOVE_TO_FOLDER = 0, 1, 2


def run_scan(root, action, export_dir=None):
    args = [SCAN, root, str(action)] + ([export_dir] if export_dir else [])
    done = subprocess.run(args, check=True, capture_output=True, text=True, timeout=240)
    return int(done.stdout.strip())


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def source_bytes(data):
    """What the scan exports for a file: its bytes decoded with every invalid byte as U+DC00 +
    byte, then every UTF-16 code unit encoded by itself as in UTF-8."""
    units = data.decode("utf-8", "surrogateescape").encode("utf-16-le", "surrogatepass")
    return b"".join(
        chr(int.from_bytes(units[i : i + 2], "little")).encode("utf-8", "surrogatepass")
        for i in range(0, len(units), 2)
    )


def message(subject, body, charset_bytes=b""):
    return (
        b"From: sender@example.org\r\nTo: reader@example.org\r\nSubject: "
        + subject.encode()
        + charset_bytes
        + b"\r\n\r\n"
        + body
        + b"\r\n"
    )


# Contents that differ slightly, or only in ways that a careless reader of the files would lose.
CONTENTS = [
    message("plain", b"Hello."),
    message("plain", b"Hello. "),
    message("plain", b"Hello.").replace(b"\r\n", b"\n"),
    message("utf-8", "Caf\u00e9 \u20ac".encode()),
    message("astral", "\U0001F600".encode()),
    message("latin-1", b"caf\xe9"),
    message("latin-1", b"caf\xe8"),
    message("broken", b"\xed\xb2\x80 and \x80"),
    b"",
]


def build_store(root, seed=1, with_odd_folder_name=True):
    """A store written by mailbox: INBOX, nested folders and a Trash that already holds a message.
    Returns the contents of the Trash as written."""
    md = mailbox.Maildir(root, factory=None, create=True)
    names = ["", "Archive", "Archive.2023", "Lists"]
    if with_odd_folder_name:
        names.append("Caf\udce9")  # the byte 0xE9 in the directory's name
    folders = {name: md if not name else md.add_folder(name) for name in names}
    trash = md.add_folder("Trash")
    trash.add(CONTENTS[0])
    rng = random.Random(seed)
    for i, content in enumerate(CONTENTS * 2):
        for _ in range(1 + rng.randrange(3)):
            add(folders[rng.choice(names)], content, rng)
        # Distinct mail that exists once.
        add(folders[rng.choice(names)], message("single %d" % i, b"x" * rng.randrange(5000)), rng)
    return [CONTENTS[0]]


def add(folder, content, rng):
    msg = mailbox.MaildirMessage(content)
    if rng.random() < 0.7:
        msg.set_subdir("cur")
        msg.set_flags(rng.choice(["", "S", "RS", "FS"]))
    folder.add(msg)


def walk_order(root):
    """(folder directory, file path) of every message, in the order the store server promises:
    INBOX first, then folder directories in byte order; files of cur and new by name."""
    root = os.fsencode(root)
    dirs = [b""] + sorted(
        d for d in os.listdir(root) if d.startswith(b".") and os.path.isdir(os.path.join(root, d))
    )
    for d in dirs:
        files = []
        for sub in (b"cur", b"new"):
            for name in os.listdir(os.path.join(root, d, sub)):
                if not name.startswith(b"."):
                    files.append((name, sub == b"new", os.path.join(root, d, sub, name)))
        for _, _, path in sorted(files):
            yield d, path


def expected_outcome(root):
    """The copies that stay (folder -> contents) and the duplicates, in scan order."""
    seen, stays, duplicates = set(), collections.defaultdict(list), []
    for folder, path in walk_order(root):
        if folder == b".Trash":
            continue
        data = read_bytes(path)
        if data in seen:
            duplicates.append(data)
        else:
            seen.add(data)
            stays[folder].append(data)
    return stays, duplicates


def read_back(root):
    """folder directory -> sorted contents, as mailbox reads the store."""
    md = mailbox.Maildir(root, factory=None, create=False)
    store = {b"": sorted(md.get_bytes(key) for key in md.keys())}
    for name in md.list_folders():
        folder = md.get_folder(name)
        store[os.fsencode("." + name)] = sorted(folder.get_bytes(key) for key in folder.keys())
    return store


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="pairsweep-maildir-")
        self.addCleanup(shutil.rmtree, self.temp, ignore_errors=True)
        self.root = os.path.join(self.temp, "Maildir")


class RoundTrip(TempDirTest):
    def check_action(self, action):
        trash_before = build_store(self.root)
        stays, duplicates = expected_outcome(self.root)
        self.assertGreater(len(duplicates), 5)
        export_dir = os.path.join(self.temp, "export")
        os.mkdir(export_dir)

        result = run_scan(self.root, action, export_dir if action == MOVE_TO_FOLDER else None)

        self.assertEqual(result, len(duplicates))
        after = read_back(self.root)
        trash = after.pop(b".Trash")
        # Every distinct message exactly once outside Trash, and in the folder met first.
        self.assertEqual(after, {folder: sorted(stays.get(folder, [])) for folder in after})
        if action == MOVE_TO_DELETED:
            self.assertEqual(trash, sorted(trash_before + duplicates))
        else:
            self.assertEqual(trash, sorted(trash_before))
        exported = sorted(
            read_bytes(os.path.join(export_dir, name)) for name in os.listdir(export_dir)
        )
        if action == MOVE_TO_FOLDER:
            self.assertEqual(exported, sorted(source_bytes(d) for d in duplicates))
            ascii_duplicates = [d for d in duplicates if d.isascii()]
            self.assertTrue(ascii_duplicates)
            for data in ascii_duplicates:
                self.assertIn(data, exported)
        else:
            self.assertEqual(exported, [])
        # Nothing is left half-made in any tmp directory.
        for folder in after:
            self.assertEqual(os.listdir(os.path.join(os.fsencode(self.root), folder, b"tmp")), [])

    def test_move_to_deleted_items(self):
        self.check_action(MOVE_TO_DELETED)

    def test_force_delete(self):
        self.check_action(FORCE_DELETE)

    def test_move_to_folder(self):
        self.check_action(MOVE_TO_FOLDER)

    def test_second_scan_finds_nothing(self):
        build_store(self.root)
        run_scan(self.root, MOVE_TO_DELETED)
        before = read_back(self.root)
        self.assertEqual(run_scan(self.root, MOVE_TO_DELETED), 0)
        self.assertEqual(read_back(self.root), before)


class KillAndRerun(TempDirTest):
    """A scan killed at any moment leaves every message in place or in Trash, and the next scan
    finishes the job."""

    def test_killed_scans_lose_nothing(self):
        md = mailbox.Maildir(self.root, factory=None, create=True)
        folders = [md, md.add_folder("A"), md.add_folder("B")]
        rng = random.Random(7)
        contents = [message("m%d" % i, b"y" * rng.randrange(3000)) for i in range(2000)]
        for content in contents + rng.sample(contents, 2000):
            add(rng.choice(folders), content, rng)
        all_before = collections.Counter(
            read_bytes(path) for _, path in walk_order(self.root)
        )

        pristine = os.path.join(self.temp, "pristine")
        shutil.copytree(self.root, pristine, symlinks=True, copy_function=os.link)
        started = time.monotonic()
        expected_result = run_scan(self.root, MOVE_TO_DELETED)
        full_run = time.monotonic() - started
        self.assertGreater(expected_result, 1000)
        expected = read_back(self.root)

        rounds = 10
        moved_at_kill = []
        for i in range(rounds):
            shutil.rmtree(self.root)
            # Hard links: the scan renames and unlinks files but never writes to one.
            shutil.copytree(pristine, self.root, symlinks=True, copy_function=os.link)
            scan = subprocess.Popen([SCAN, self.root, str(MOVE_TO_DELETED)],
                                    stdout=subprocess.DEVNULL)
            # Spread over the whole run, so kills fall before, during and after the moves.
            time.sleep(full_run * (i + rng.random()) / rounds)
            scan.send_signal(signal.SIGKILL)
            scan.wait()
            files = [path for _, path in walk_order(self.root)]
            self.assertEqual(collections.Counter(read_bytes(path) for path in files), all_before)
            uniques = collections.Counter(os.path.basename(p).split(b":2,")[0] for p in files)
            self.assertEqual(max(uniques.values()), 1, "a message in two places")
            trash = os.path.join(self.root, ".Trash", "cur")
            moved_at_kill.append(len(os.listdir(trash)) if os.path.isdir(trash) else 0)

            run_scan(self.root, MOVE_TO_DELETED)
            self.assertEqual(read_back(self.root), expected)
        # The kills did fall in the middle of the work.
        self.assertTrue(any(0 < n < expected_result for n in moved_at_kill), moved_at_kill)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Dovecot(TempDirTest):
    """Dovecot, serving the scanned store, lists the folder counts that mailbox reads."""

    def start_dovecot(self):
        binary = shutil.which("dovecot") or "/usr/sbin/dovecot"
        if not os.path.exists(binary):
            self.fail("dovecot is not installed (scripts/install-deps installs it)")
        port = free_port()
        as_root = os.geteuid() == 0
        # Dovecot will not open mail as root: as root, the store goes to "nobody" for the check.
        uid = 65534 if as_root else os.geteuid()
        gid = 65534 if as_root else os.getegid()
        control = os.path.join(self.temp, "control")
        os.mkdir(control)
        if as_root:
            os.chmod(self.temp, 0o755)
            for base, dirs, files in os.walk(self.temp):
                for name in [base] + [os.path.join(base, n) for n in dirs + files]:
                    os.lchown(name, uid, gid)
        own_users = "" if as_root else (
            "default_internal_user = {0}\ndefault_login_user = {0}\n"
            "service imap-login {{\n  chroot =\n}}\n".format(os.environ.get("USER", "root"))
        )
        config = os.path.join(self.temp, "dovecot.conf")
        with open(config, "w") as f:
            f.write(
                f"""base_dir = {self.temp}/run
state_dir = {self.temp}/state
log_path = {self.temp}/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:{self.root}:INDEX=MEMORY:CONTROL={control}
passdb {{
  driver = static
  args = password=secret
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={self.temp}/home
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
service anvil {{
  chroot =
}}
{own_users}"""
            )
        server = subprocess.Popen([binary, "-F", "-c", config])

        def stop():
            server.terminate()
            try:
                server.wait(timeout=15)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()

        self.addCleanup(stop)
        deadline = time.monotonic() + 20
        while True:
            try:
                return imaplib.IMAP4("127.0.0.1", port)
            except OSError:
                if server.poll() is not None or time.monotonic() > deadline:
                    log = os.path.join(self.temp, "dovecot.log")
                    self.fail("dovecot did not start:\n" + (open(log).read() if os.path.exists(log) else ""))
                time.sleep(0.1)

    def test_dovecot_lists_the_counts_the_scan_leaves(self):
        build_store(self.root, with_odd_folder_name=False)
        _, duplicates = expected_outcome(self.root)
        self.assertEqual(run_scan(self.root, MOVE_TO_DELETED), len(duplicates))
        expected = {
            ("INBOX" if not folder else os.fsdecode(folder)[1:]): len(contents)
            for folder, contents in read_back(self.root).items()
        }

        imap = self.start_dovecot()
        imap.login("tester", "secret")
        _, listing = imap.list()
        names = [line.decode().rsplit(' "." ', 1)[1].strip('"') for line in listing]
        counts = {}
        for name in names:
            status, data = imap.status('"%s"' % name, "(MESSAGES)")
            self.assertEqual(status, "OK", data)
            counts[name] = int(data[0].decode().rsplit("MESSAGES ", 1)[1].rstrip(")"))
        imap.logout()
        self.assertEqual(counts, expected)
        self.assertGreater(counts["Trash"], 1)


def main():
    global SCAN
    parser = argparse.ArgumentParser()
    parser.add_argument("--scan", required=True)
    args, rest = parser.parse_known_args()
    SCAN = os.path.abspath(args.scan)
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
