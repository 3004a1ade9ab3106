"""Staging, running and removing the edition: the probe edition reports what it saw of itself."""

import os
import re
import stat
import subprocess
import time
import unittest

import winetest

EDITION = "en"  # what the default locale en_US chooses; the registry holds no language
ARGUMENTS = ["--silent", "two words", r"C:\other\patch.exe"]


def dir_of_length(base, length):
    """A Windows directory path under BASE for which GetTempPathA reports LENGTH characters (the
    path and the backslash it appends)."""
    remaining = length - 1 - len(base)
    assert remaining >= 2, (base, length)
    count = -(-remaining // 101)
    letters = remaining - count
    sizes = [letters // count + (1 if i < letters % count else 0) for i in range(count)]
    path = base + "".join("\\" + chr(ord("a") + i) * n for i, n in enumerate(sizes))
    assert len(path) + 1 == length
    return path


def setUpModule():
    wine = winetest.session()
    wine.reg_delete("HKCU\\" + winetest.PRODUCT_KEY)
    wine.reg_delete("HKLM\\" + winetest.PRODUCT_KEY)


class Staging(unittest.TestCase):
    def setUp(self):
        self.wine = winetest.session()
        self.payload = self.wine.probe_edition(EDITION)
        self.size = os.path.getsize(self.payload)
        self.hash = winetest.file_hash(self.payload)
        self.launcher = self.wine.launcher("launcher_probe")

    def staging_trace(self, directory, length, staged):
        """The trace lines from "Get temp path" on, for a run that starts STAGED."""
        if staged == "patch.exe":
            chosen = "Can't execute from this path, too long"
        else:
            chosen = "Got the final path with [%s]" % staged
        return [
            "Get temp path returned %s" % directory,
            "Actual buffer size is %d compared to max path 250" % length,
            chosen,
            "Preparing to write buffer size of %d" % self.size,
            "Starting execution of file [%s]" % staged,
        ]

    def tail(self, run, first="Get temp path returned "):
        trace = run.trace
        starts = [i for i, t in enumerate(trace) if t.startswith(first)]
        self.assertEqual(len(starts), 1, run.describe())
        return trace[starts[0]:]

    def assert_ran_from(self, run, staged, exit_code=0):
        """The probe ran once, from STAGED, named only by its quoted path, the payload's bytes
        unchanged, and had ended before the launcher returned; nothing is left of it."""
        self.assertEqual(run.returncode, 0, run.describe())
        records = run.records
        self.assertEqual([r["kind"] for r in records], ["start", "end"], run.describe())
        start, end = records
        self.assertEqual(start["edition"], EDITION)
        self.assertEqual(start["module"], staged, run.describe())
        self.assertEqual(start["command_line"], '"%s"' % start["module"], run.describe())
        self.assertEqual(start["hash"], self.hash, "staged bytes differ from the edition")
        self.assertEqual(end["exit_code"], exit_code)
        self.assertFalse(os.path.exists(self.wine.unix_path(staged)), "staged file left")

    def test_child_gets_quoted_path_and_exit_code_is_ignored(self):
        cases = [  # temporary directory, the child's exit code, how long the child runs
            (r"C:\stage\plain", 1, 1500),
            (r"C:\stage\with spaces\a b", 255, 0),
        ]
        for directory, exit_code, sleep_ms in cases:
            with self.subTest(directory=directory):
                self.wine.set_temp_dir(directory)
                staged = directory + "\\patch.exe"
                run = self.wine.run(self.launcher, ARGUMENTS, env={
                    "PROBE_EXIT_CODE": str(exit_code), "PROBE_SLEEP_MS": str(sleep_ms)})
                self.assert_ran_from(run, staged, exit_code)
                self.assertGreaterEqual(run.elapsed, sleep_ms / 1000.0)
                winetest.assert_lines(self, self.tail(run), self.staging_trace(
                    directory + "\\", len(directory) + 1, staged))
                self.assertEqual(self.wine.listing(directory), [])

    def too_long_trace(self, tail):
        """The lines for a directory too long for the buffer. Windows stores nothing and reports
        the size it needs, which selects the bare name; Wine 8's GetTempPathA fails instead (0),
        and the bare name is used as well."""
        reported = re.fullmatch(r"Actual buffer size is (\d+) compared to max path 250",
                                tail[1] if len(tail) > 1 else "")
        self.assertTrue(reported, tail)
        size = int(reported.group(1))
        if size == 0:
            return ["Get temp path returned ", tail[1], "Got the final path with [patch.exe]",
                    "Preparing to write buffer size of %d" % self.size,
                    "Starting execution of file [patch.exe]"]
        self.assertGreater(size, 260, tail)
        return self.staging_trace("", size, "patch.exe")

    def test_temp_dir_length(self):
        cwd = r"C:\stage\cwd"
        self.wine.make_dir(cwd)
        refusal = ["Not starting the file, its quoted path does not fit"]
        cases = [  # the length GetTempPathA reports, where the file is staged, whether it runs
            (248, "temp", True),  # 257 characters, 259 quoted: the longest that runs there
            (249, "temp", False),  # written, but its quoted path does not fit: removed unrun
            (250, "bare", True),
            (275, "bare", True),  # longer than the buffer
        ]
        for length, where, runs in cases:
            with self.subTest(length=length):
                directory = dir_of_length(r"C:\stage\len%d" % length, length)
                self.wine.set_temp_dir(directory)
                run = self.wine.run(self.launcher, ARGUMENTS, cwd=cwd)
                self.assertEqual(run.returncode, 0, run.describe())
                tail = self.tail(run)
                staged = directory + "\\patch.exe" if where == "temp" else "patch.exe"
                if length < 260:
                    expected = self.staging_trace(directory + "\\", length, staged)
                else:
                    expected = self.too_long_trace(tail)
                winetest.assert_lines(self, tail, expected + ([] if runs else refusal),
                                      run.describe())
                if runs:
                    self.assert_ran_from(run, staged if where == "temp" else cwd + "\\patch.exe")
                else:
                    self.assertEqual(run.records, [])
                self.assertEqual(self.wine.listing(directory), [])
                self.assertEqual(self.wine.listing(cwd), [])

    def test_bare_name_never_starts_patch_beside_launcher(self):
        # The system's search for a bare name looks in the launcher's directory first; the
        # launcher names the staged file by its full path, so the planted one never runs.
        own_dir, cwd = r"C:\stage\owner", r"C:\stage\cwd-planted"
        self.wine.make_dir(own_dir)
        self.wine.make_dir(cwd)
        launcher = os.path.join(self.wine.unix_path(own_dir), "launcher.exe")
        planted = os.path.join(self.wine.unix_path(own_dir), "patch.exe")
        with open(self.launcher, "rb") as f, open(launcher, "wb") as out:
            out.write(f.read())
        with open(self.wine.probe_edition("it"), "rb") as f, open(planted, "wb") as out:
            out.write(f.read())
        planted_hash = winetest.file_hash(planted)
        self.wine.set_temp_dir(dir_of_length(r"C:\stage\planted", 250))
        run = self.wine.run(launcher, cwd=cwd)
        self.assertIn("Can't execute from this path, too long", run.trace, run.describe())
        self.assert_ran_from(run, cwd + r"\patch.exe")
        self.assertEqual(winetest.file_hash(planted), planted_hash)
        self.assertEqual(self.wine.listing(cwd), [])

    def test_stale_file_is_overwritten(self):
        directory = r"C:\stage\stale"
        self.wine.set_temp_dir(directory)
        staged = directory + r"\patch.exe"
        # Longer than the payload and no program: only a truncated, rewritten file runs.
        with open(self.wine.unix_path(staged), "wb") as f:
            f.write(b"left by an earlier run\n" * 2000)
        run = self.wine.run(self.launcher)
        self.assert_ran_from(run, staged)

    def test_staged_file_that_cannot_be_written_is_left_alone(self):
        for how in ("read-only", "running"):
            with self.subTest(how=how):
                directory = r"C:\stage\blocked-" + how
                self.wine.set_temp_dir(directory)
                staged = directory + r"\patch.exe"
                path = self.wine.unix_path(staged)
                first = None
                if how == "read-only":
                    with open(path, "wb") as f:
                        f.write(b"read-only, not to be touched\n")
                    make_read_only(path)
                else:
                    # A first launcher's edition runs from the staged file for a while.
                    first = self.wine.start_program(self.launcher,
                                                    env={"PROBE_SLEEP_MS": "3000"})
                    wait_for(lambda: first.starts(), "the first launcher's edition to start")
                before = winetest.file_hash(path)
                try:
                    run = self.wine.run(self.launcher)
                    self.assertEqual(run.returncode, 0, run.describe())
                    # The open fails: the run ends before anything is started.
                    self.assertEqual(run.trace[-1],
                                     "Preparing to write buffer size of %d" % self.size,
                                     run.describe())
                    self.assertEqual(run.records, [])
                    self.assertEqual(winetest.file_hash(path), before)
                    if first:
                        self.assertNotIn("end", [r["kind"] for r in first.records])
                finally:
                    if how == "read-only":
                        make_writable(path)
                if first:
                    first.wait()
                    self.assert_ran_from(first, staged)

    def test_empty_edition_is_not_started_and_removed(self):
        directory = r"C:\stage\empty"
        self.wine.set_temp_dir(directory)
        staged = directory + r"\patch.exe"
        run = self.wine.run(self.wine.launcher("launcher_empty"))
        self.assertEqual(run.returncode, 0, run.describe())
        self.assertEqual(run.trace[-6:], [
            "Size of data 0", "Get temp path returned %s\\" % directory,
            "Actual buffer size is %d compared to max path 250" % (len(directory) + 1),
            "Got the final path with [%s]" % staged, "Preparing to write buffer size of 0",
            "Starting execution of file [%s]" % staged], run.describe())
        self.assertEqual(run.records, [])
        self.assertEqual(self.wine.listing(directory), [])

    def test_launcher_returns_when_child_ends_not_grandchild(self):
        directory = r"C:\stage\grandchild"
        self.wine.set_temp_dir(directory)
        keeper = r"C:\stage\keeper\keeper.exe"
        self.wine.make_dir(r"C:\stage\keeper")
        run = self.wine.run(self.launcher, env={
            "PROBE_GRANDCHILD": keeper, "PROBE_GRANDCHILD_SLEEP_MS": "3000"})
        self.assertEqual(run.returncode, 0, run.describe())
        records = run.records
        child = [r for r in records if r["kind"] == "child"]
        self.assertEqual(len(child), 1, run.describe())
        grandchild_pid = child[0]["child_pid"]
        # The child has ended, its grandchild not: the launcher did not wait for it.
        self.assertIn("end", [r["kind"] for r in records if r["pid"] != grandchild_pid])
        self.assertNotIn(grandchild_pid, [r["pid"] for r in records if r["kind"] == "end"])
        self.assertLess(run.elapsed, 3.0)
        self.assertEqual(self.wine.listing(directory), [])

        def grandchild_ended():
            return [r for r in run.records if r["kind"] == "end" and r["pid"] == grandchild_pid]
        wait_for(grandchild_ended, "the grandchild to end", timeout=30)
        start = [r for r in run.records if r["kind"] == "start" and r["pid"] == grandchild_pid]
        self.assertEqual(start[0]["module"], keeper)
        self.assertEqual(start[0]["hash"], self.hash)


def wait_for(condition, what, timeout=20):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def make_read_only(path):
    """Clears the write bits, as Wine stores the read-only attribute. Root writes such a file
    all the same, so for root the file is made immutable too."""
    os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    if os.geteuid() == 0:
        result = subprocess.run(["chattr", "+i", path], capture_output=True)
        if result.returncode != 0:
            raise AssertionError("as root, a read-only file needs chattr +i, which failed: " +
                                 result.stderr.decode("latin-1"))


def make_writable(path):
    if os.geteuid() == 0:
        subprocess.run(["chattr", "-i", path], capture_output=True)
    os.chmod(path, stat.S_IRUSR | stat.S_IWUSR)


if __name__ == "__main__":
    winetest.main()
