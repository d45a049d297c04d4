#!/usr/bin/env python3
"""The Windows build end to end under Wine:

    windows_e2e_test.py TAGBATCH_EXE CONSOLE_KEYS_EXE WINE

CONSOLE_KEYS_EXE puts into the console the keys a terminal cannot send.
"""
import os
import pty
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

EXE, CONSOLE_KEYS, WINE = (os.path.abspath(arg) for arg in sys.argv[1:4])
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(SOURCE, "examples")
HEAD = os.path.join(SAMPLES, "head.md3")  # A sample with tags.
OLD = b"old tag file\n"
PATIENCE = 120  # Seconds to wait for what must come, under any load.


def run_windows(directory, stdin=subprocess.DEVNULL):
    """Runs with no terminal and no console: a new session, no input."""
    env = dict(os.environ, WINEDEBUG="-all")
    result = subprocess.run((WINE, EXE), cwd=directory, stdin=stdin,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            start_new_session=True, env=env, timeout=PATIENCE)
    return result.returncode, result.stdout


def groups(output, newline):
    """The output's lines grouped by file: {found name: its lines}."""
    found = {}
    for line in filter(None, output.split(newline)):
        if line.startswith(b"File Found: "):
            current = found.setdefault(line[len(b"File Found: "):], [])
        else:
            current.append(line)
    return found


class WindowsBuildTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tagbatch-win.")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, name, data, directory=None):
        with open(os.path.join(directory or self.dir, name), "wb") as f:
            f.write(data)

    def test_same_output_and_bytes_as_the_linux_build(self):
        """Without a console nothing waits, though standard input is a pipe
        that stays open; with no models, "No Files Found" alone, each line
        feed reaching the pipe as CR LF; the samples give the report and tag
        files of tests/expected, as .ci/conversions compares them."""
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        self.addCleanup(os.close, writer)
        self.assertEqual(run_windows(self.dir, stdin=reader),
                         (0, b"No Files Found\r\n"))
        self.assertEqual(os.listdir(self.dir), [])
        script = os.path.join(SOURCE, ".ci", "conversions")
        expected = os.path.join(SOURCE, "tests", "expected")
        subprocess.run([sys.executable, script, "check", SAMPLES, expected,
                        "--", WINE, EXE], check=True, timeout=PATIENCE)

    def test_second_run_rewrites_and_names_keep_their_case(self):
        """And fails, leaving them as they were, on a read-only tag file and
        a folder in a tag file's place. (The unit tests check damaged models
        on Windows.)"""
        model = read_bytes(HEAD)
        for name in ("UPPER.MD3", "x.Md3", "caf\u00e9.md3", "\u65e5\u672c.md3",
                     "a.md3", "read_only.md3", "in_the_way.md3"):
            self.write(name, model)
        os.mkdir(os.path.join(self.dir, "folder.md3"))
        self.write("read_only.tag", OLD)
        os.chmod(os.path.join(self.dir, "read_only.tag"), 0o444)
        os.mkdir(os.path.join(self.dir, "in_the_way.tag"))
        # A link in a tag file's place stays; its file gets the tag file.
        os.mkdir(os.path.join(self.dir, "real"))
        self.write("target.tag", OLD, os.path.join(self.dir, "real"))
        os.symlink("real/target.tag", os.path.join(self.dir, "a.tag"))
        first = run_windows(self.dir)
        self.write("UPPER.tag", b"stale")
        second = run_windows(self.dir)
        self.assertEqual(first, second)
        found = groups(second[1], b"\r\n")
        self.assertEqual(found[b"folder.md3"], [b"Failed to load md3"])
        for name in (b"read_only", b"in_the_way"):
            self.assertEqual(found[name + b".md3"][-1],
                             b"Failed to write tag file")
        self.assertEqual(read_bytes(os.path.join(self.dir, "read_only.tag")),
                         OLD)
        self.assertTrue(os.path.isdir(os.path.join(self.dir, "in_the_way.tag")))
        # Names outside the legacy code page work through the manifest.
        self.assertEqual(found["\u65e5\u672c.md3".encode()][-1],
                         b"Tag file created successfully")
        expected_tag = read_bytes(os.path.join(self.dir, "x.tag"))
        for tag in ("UPPER.tag", "caf\u00e9.tag", "\u65e5\u672c.tag",
                    os.path.join("real", "target.tag")):
            self.assertEqual(read_bytes(os.path.join(self.dir, tag)),
                             expected_tag)
        self.assertTrue(os.path.islink(os.path.join(self.dir, "a.tag")))

    def start_on_console(self, *command, stdout=None):
        """Starts a Windows command in the test's folder with a console on a
        fresh terminal (Wine makes one there) and standard output there or
        on `stdout`; returns its pid and the terminal."""
        pid, terminal = pty.fork()
        if pid == 0:
            if stdout is not None:
                os.dup2(stdout, 1)
            os.chdir(self.dir)
            os.environ["WINEDEBUG"] = "-all,err+sync"  # Misused locks.
            os.execv(WINE, [WINE, *command])
        self.addCleanup(os.close, terminal)
        self.addCleanup(stop, pid)
        return pid, terminal

    def test_console_events_that_end_the_wait(self):
        self.write("a.md3", read_bytes(HEAD))
        for program in (EXE, CONSOLE_KEYS):
            shutil.copy(program, self.dir)
        log = os.path.join(self.dir, "modes.txt")
        # Events put into the console before the program starts: modifiers
        # alone, the release of the Enter that started it and a mouse wheel
        # turn leave it waiting, as does standard input from nul, for the
        # character then typed, one outside the console's code page; cursor
        # and editing keys at the ends of their ranges end the wait. Keys
        # typed once it waits end it too: Ctrl+C, a cursor and a function key.
        # Ctrl+Break, a console event whatever the mode, ends the program.
        euro = "€".encode()
        for events, from_nul, typed in (
                ("rctrl", False, euro), ("altgr", False, euro),
                ("release", False, euro), ("wheel", False, euro),
                (None, True, euro), ("down", False, None),
                ("delete", False, None), (None, False, b"x"),
                (None, False, b"\x03"), (None, False, b"\x1b[A"),
                (None, False, b"\x1bOP"), (None, False, "break")):
            with self.subTest(events=events, from_nul=from_nul, typed=typed):
                program = "tagbatch.exe" + (" < nul" if from_nul else "")
                if typed:
                    # console_keys notes the wait (and sends Ctrl+Break then).
                    program = ("console_keys.exe watch modes.txt " + program
                               + " break" * (typed == "break"))
                    if os.path.exists(log):
                        os.remove(log)
                if events:
                    program = "console_keys.exe %s & %s" % (events, program)
                # Not behind cmd where it is not needed: Wine ends cmd, and
                # with it the console's other programs, on Ctrl+C.
                pid, terminal = self.start_on_console(
                    *(["cmd", "/c", program] if events or from_nul
                      else program.split()))
                if typed and typed != "break":
                    self.assertTrue(wait_until(lambda: b"during" in read_bytes(log)))
                    time.sleep(1)
                    self.assertEqual(os.waitpid(pid, os.WNOHANG), (0, 0))
                    os.write(terminal, typed)
                self.assertIn(b"created successfully",
                              read_until(terminal, b"created successfully"))
                status = wait_for(pid)
                self.assertIsNotNone(status)
                if typed != "break":  # Which the system's handler ends.
                    self.assertEqual(status, 0)
                self.assertNotIn(b"err:", read_until(terminal, b"err:", 1))
                if typed:
                    # Line input, echo and Ctrl+C processing off during the
                    # wait, then the mode as it was.
                    modes = dict(line.split() for line in
                                 read_bytes(log).decode().splitlines())
                    before = int(modes["before"], 16)
                    self.assertEqual(int(modes["during"], 16), before & ~0x7)
                    self.assertEqual(int(modes["after"], 16), before)

    def test_output_to_a_pipe_beside_a_console_goes_in_4096_byte_blocks(self):
        crate = read_bytes(os.path.join(SAMPLES, "crate.md3"))
        for i in range(85):
            self.write("m%02d.md3" % i, crate)
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        pid, terminal = self.start_on_console(EXE, stdout=writer)
        os.close(writer)
        # The buffer holds 4096 characters; each line feed in it reaches the
        # pipe as CR LF. Nothing more comes before the key.
        first = b""
        deadline = time.time() + PATIENCE
        while (len(first.replace(b"\r\n", b"\n")) < 4096
               and time.time() < deadline):
            first += read_until(reader, b"\n", seconds=1)
        first += read_until(reader, seconds=1)
        self.assertEqual(len(first.replace(b"\r\n", b"\n")), 4096)
        os.write(terminal, b"x")
        self.assertEqual(wait_for(pid), 0)
        rest = read_until(reader)
        self.assertEqual(len(first + rest), 85 * 79)  # 79 bytes a model.

    def test_names_show_on_the_console_as_they_are(self):
        """Exactly the lines, read back from the console's screen, whatever
        its code page, which is left as it was; DEL and C1 characters show
        as '?' there, while a pipe gets the name's bytes unchanged."""
        name = "日本é\x7f\u0080\u009f"
        self.write(name + ".md3", read_bytes(HEAD))
        for program in (EXE, CONSOLE_KEYS):
            shutil.copy(program, self.dir)
        for page in ("437", "65001"):
            with self.subTest(page=page):
                pid, terminal = self.start_on_console(
                    "cmd", "/c", "chcp %s & console_keys.exe x & tagbatch.exe"
                    " & chcp & console_keys.exe screen > screen.txt" % page)
                status = wait_for(pid)
                screen = read_bytes(os.path.join(self.dir, "screen.txt"))
                self.assertEqual(status, 0, (screen, read_until(terminal, None, 1)))
                self.assertEqual(screen.decode().split("\r\n")[:5], [
                    "Active code page: " + page,
                    "File Found: 日本é???.md3",
                    "Writing Tag File: 日本é???.tag",
                    "Tag file created successfully",
                    "Active code page: " + page])
        status, out = run_windows(self.dir)
        self.assertEqual(status, 0)
        self.assertEqual(out.split(b"\r\n")[:2], [
            ("File Found: " + name + ".md3").encode(),
            ("Writing Tag File: " + name + ".tag").encode()])

    def test_largest_tag_count_converts_and_ctrl_c_in_it_leaves_nothing(self):
        """2 GiB of records, sparse, past 2 GiB in the model and the tag file
        alike; so many that Ctrl+C always arrives before they are written."""
        count = 19173960
        first, last = b"first tag".ljust(112, b"1"), b"last tag".ljust(112, b"2")
        with open(os.path.join(self.dir, "big.md3"), "wb") as f:
            # A header of the count, at offset 80, and the tags' offset, 108.
            f.write(struct.pack("<80xi12xi8x", count, 108) + first)
            f.seek(108 + 112 * (count - 1))
            f.write(last)
        self.write("big.tag", OLD)
        pid, terminal = self.start_on_console(EXE)
        self.assertTrue(wait_until(lambda: any(
            name.startswith(".tagbatch-") for name in os.listdir(self.dir))))
        os.write(terminal, b"\x03")
        self.assertIsNotNone(wait_for(pid))
        self.assertNotIn(b"err:", read_until(terminal, b"err:", 1))
        self.assertEqual(sorted(os.listdir(self.dir)), ["big.md3", "big.tag"])
        self.assertEqual(read_bytes(os.path.join(self.dir, "big.tag")), OLD)

        status, out = run_windows(self.dir)
        self.assertEqual((status, groups(out, b"\r\n")[b"big.md3"][-1]),
                         (0, b"Tag file created successfully"))
        tag = os.path.join(self.dir, "big.tag")
        self.assertEqual(os.path.getsize(tag), 16 + 112 * count)
        with open(tag, "rb") as f:
            self.assertEqual(f.read(128), struct.pack(
                "<4siii", b"TAG3", 1, count, 16 + 112 * count) + first)
            f.seek(16 + 112 * (count - 1))
            self.assertEqual(f.read(), last)

    def test_a_device_named_like_a_model_is_let_go_before_the_wait(self):
        """com7.md3 opens COM7, here a terminal of the test's own; once no
        one holds it, reading its other end fails."""
        master, device = os.openpty()
        self.addCleanup(os.close, master)
        com7 = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com7")
        # A killed run's may be there: replaced in one step.
        os.symlink(os.ttyname(device), com7 + ".new")
        os.replace(com7 + ".new", com7)
        self.addCleanup(os.remove, com7)
        os.close(device)
        self.write("com7.md3", read_bytes(HEAD))
        pid, terminal = self.start_on_console(EXE)
        self.assertIn(b"Failed", read_until(terminal, b"Failed to load md3"))
        def let_go():  # Reading the other end fails once no one holds it.
            try:
                select.select([master], [], [], 0.05)[0] and os.read(master, 9)
            except OSError:
                return True
        self.assertTrue(wait_until(let_go))
        os.write(terminal, b"x")
        self.assertEqual(wait_for(pid), 0)


def stop(pid):
    try:
        if wait_for(pid, 0) is None:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
    except ChildProcessError:  # Already waited for.
        pass


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def read_until(fd, text=None, seconds=PATIENCE):
    """What `fd` gives until it holds `text` (all it gives, without one), or
    ends, or `seconds` have passed."""
    seen = b""
    deadline = time.time() + seconds
    while (text is None or text not in seen) and time.time() < deadline:
        if select.select([fd], [], [], 0.05)[0]:
            try:
                chunk = os.read(fd, 1024)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    return seen


def wait_until(done, seconds=PATIENCE):
    """Whether `done()` comes true within `seconds`."""
    deadline = time.time() + seconds
    while not done():
        if time.time() >= deadline:
            return False
        time.sleep(0.01)
    return True


def wait_for(pid, seconds=PATIENCE):
    """The exit status of `pid` once it ends, or None after `seconds`."""
    ended = []
    def done():
        ended.append(os.waitpid(pid, os.WNOHANG))
        return ended[-1][0] != 0
    return (os.waitstatus_to_exitcode(ended[-1][1])
            if wait_until(done, seconds) else None)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
