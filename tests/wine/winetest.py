"""Running the launcher images under Wine, for the Wine tests (stdlib only).

A test file is a unittest module that ends with ``winetest.main()``. Its cases share one Wine
prefix, copied from a template prefix that ``--make-template`` boots once per ctest run, and one
persistent wineserver, so a program start costs a fraction of a second.

The run is configured by the environment that tests/wine/CMakeLists.txt sets:
  WINETEST_ARCH       x86_64 (64-bit Wine, must work) or i686 (32-bit Wine, skipped where it
                      cannot run: exit code 77)
  WINETEST_BUILD_DIR  the cross build holding launcher.exe, variants/, probe_editions/ and
                      sample_editions/
  WINETEST_TEMPLATE   the template prefix
  WINETEST_WORK_DIR   where this file's prefix and run logs go
  WINETEST_KEEP       when set, the prefix is kept after a passing run too

    winetest.py --make-template DIR     boot a template prefix
    winetest.py --remove-template DIR   remove it

By hand, after building the test-x86_64 preset: /usr/bin/python3 tests/wine/test_staging.py
(the defaults use build/test-x86_64 and boot a template under build/test-x86_64/winetest).
A failing file keeps its prefix and the stderr of every run under its work directory.
"""

import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

WINE_DIR = "/usr/lib/wine"
LOADERS = {"x86_64": WINE_DIR + "/wine64", "i686": WINE_DIR + "/wine"}
SKIP = 77

PRODUCT_KEY = r"Software\Velmora\Orchardvale\{5A0C3E71-92B4-4F6D-8E27-C1D94B60A3F8}"
EDITIONS = {"en": 129, "fr": 131, "it": 132, "de": 133, "es": 134}
SAMPLE_NAMES = {"en": "English", "fr": "French", "it": "Italian", "de": "German", "es": "Spanish"}

# Keeps Wine from offering to install Mono and Gecko, which nothing here needs.
DLL_OVERRIDES = "mscoree,mshtml="


def fnv1a64(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value ^= byte
        value = (value * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return value


def file_hash(path):
    with open(path, "rb") as f:
        return fnv1a64(f.read())


def wineserver_program():
    # Debian's wrapper script ends a server as soon as its last client has gone (-p0).
    direct = WINE_DIR + "/wineserver64"
    return direct if os.access(direct, os.X_OK) else WINE_DIR + "/wineserver"


def base_environment(prefix, loader):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("PROBE_", "WINE", "LC_", "SAMPLE_EDITION"))}
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(WINEPREFIX=prefix, WINELOADER=loader, WINEDEBUG="-all",
               WINEDLLOVERRIDES=DLL_OVERRIDES, LC_ALL="en_US.UTF-8")
    return env


# ---------------------------------------------------------------------------------------------
# Template prefix


def make_template(template):
    """Boots a fresh prefix at TEMPLATE (replacing one left by an earlier run)."""
    loader = LOADERS["x86_64"]
    if not os.access(loader, os.X_OK):
        raise SystemExit("64-bit Wine is missing: %s (install wine64)" % loader)
    building = template + ".booting"
    for path in (building, template):
        remove_tree(path)
    os.makedirs(os.path.dirname(os.path.abspath(template)), exist_ok=True)
    env = base_environment(building, loader)
    started = time.monotonic()
    subprocess.run([loader, "wineboot", "-i"], env=env, check=True, timeout=240,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    subprocess.run([wineserver_program(), "-w"], env=env, check=True, timeout=120)
    os.rename(building, template)
    print("template prefix %s booted in %.1f s" % (template, time.monotonic() - started))


def remove_tree(path):
    if os.path.lexists(path):
        shutil.rmtree(path, ignore_errors=True)


def copy_prefix(template, prefix):
    """Copies the template: the Windows directory by hard links (Wine only reads it), the
    registry files and the users' directories as real copies."""
    windows = os.path.join(template, "drive_c", "windows") + os.sep

    def copy(src, dst):
        if src.startswith(windows) and not src.endswith(".ini"):
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)

    def skip(directory, names):
        # The server's lock of the template's last session is no part of the copy.
        return ["wineserver"] if os.path.samefile(directory, template) else []

    shutil.copytree(template, prefix, symlinks=True, copy_function=copy, ignore=skip)


# ---------------------------------------------------------------------------------------------
# Debug output

# Wine shows a long string cut, its quoted part followed by "...".
DEBUG_LINE = re.compile(r'^([0-9a-f]+):warn:debugstr:OutputDebugStringA "(.*)"(\.\.\.)?$')


class CutLine(str):
    """The start of a debug string that Wine showed cut."""


def lines_match(actual, expected):
    """Whether debug lines as Wine showed them are the EXPECTED lines: equal, or, for a line
    Wine cut, a long enough start of it."""
    if len(actual) != len(expected):
        return False
    for a, e in zip(actual, expected):
        if isinstance(a, CutLine):
            if len(a) < 100 or not e.startswith(a):
                return False
        elif a != e:
            return False
    return True


def assert_lines(case, actual, expected, msg=None):
    if not lines_match(actual, expected):
        case.fail("debug lines differ%s\n  shown:    %r\n  expected: %r" % (
            ": " + msg if msg else "", list(actual), list(expected)))
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def unescape(text):
    """Undoes Wine's escaping of a debug string: \\\\, \\", \\n, \\r, \\t and \\xNN."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        e = text[i + 1]
        if e in ESCAPES:
            out.append(ESCAPES[e])
            i += 2
        elif e == "x" and re.match(r"[0-9a-fA-F]{2}", text[i + 2:i + 4]):
            out.append(chr(int(text[i + 2:i + 4], 16)))
            i += 4
        elif re.match(r"[0-7]{3}", text[i + 1:i + 4]):
            out.append(chr(int(text[i + 1:i + 4], 8)))
            i += 4
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_debug_output(stderr):
    """(thread id, text) for every OutputDebugStringA line, the text without its line feed."""
    lines = []
    for raw in stderr.splitlines():
        m = DEBUG_LINE.match(raw)
        if m:
            text = unescape(m.group(2))
            if m.group(3):
                lines.append((m.group(1), CutLine(text)))
            else:
                lines.append((m.group(1), text[:-1] if text.endswith("\n") else text))
    return lines


# ---------------------------------------------------------------------------------------------
# Probe reports


def parse_report(path):
    """The records of a probe report (see tests/wine/payloads/probe.cpp), as dicts."""
    records = []
    if not os.path.exists(path):
        return records
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    for line in text.split("\n"):
        if line.startswith("start\t"):
            _, pid, edition, hash_hex, module, command_line = line.split("\t", 5)
            records.append(dict(kind="start", pid=int(pid), edition=edition,
                                hash=int(hash_hex, 16), module=module,
                                command_line=command_line))
        elif line.startswith("child\t"):
            _, pid, child_pid, module = line.split("\t", 3)
            records.append(dict(kind="child", pid=int(pid), child_pid=int(child_pid),
                                module=module))
        elif line.startswith("end\t"):
            _, pid, edition, exit_code = line.split("\t", 3)
            records.append(dict(kind="end", pid=int(pid), edition=edition,
                                exit_code=int(exit_code)))
    return records


class Run:
    """One finished (or, for a background run, pending) program run."""

    def __init__(self, wine, process, stderr_path, report, started):
        self.wine = wine
        self.process = process
        self.stderr_path = stderr_path
        self.report = report
        self.started = started
        self.returncode = None
        self.elapsed = None

    def wait(self, timeout=60):
        try:
            self.returncode = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            raise AssertionError("%s did not end within %s s" % (self.process.args, timeout))
        self.elapsed = time.monotonic() - self.started
        return self

    @property
    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("latin-1")

    @property
    def debug(self):
        return parse_debug_output(self.stderr)

    @property
    def trace(self):
        """The launcher's progress lines: those of the thread that wrote "Hello."."""
        lines = self.debug
        tids = [tid for tid, text in lines if text == "Hello."]
        if not tids:
            return []
        return [text for tid, text in lines if tid == tids[0]]

    @property
    def records(self):
        return parse_report(self.wine.unix_path(self.report))

    def starts(self):
        return [r for r in self.records if r["kind"] == "start"]

    def describe(self):
        return "exit code %s after %.2f s\n--- stderr:\n%s--- report:\n%s" % (
            self.returncode, self.elapsed or -1, self.stderr,
            "\n".join(str(r) for r in self.records))


# ---------------------------------------------------------------------------------------------
# A Wine session: one prefix and one persistent wineserver


class Wine:
    def __init__(self, arch, build_dir, template, work_dir):
        self.arch = arch
        self.loader = LOADERS[arch]
        self.build_dir = os.path.abspath(build_dir)
        self.template = template
        self.work_dir = os.path.abspath(work_dir)
        self.prefix = os.path.join(self.work_dir, "prefix")
        self.logs = os.path.join(self.work_dir, "logs")
        self.runs = 0
        self.env = base_environment(self.prefix, self.loader)

    # Build outputs

    def build_file(self, *parts):
        path = os.path.join(self.build_dir, *parts)
        if not os.path.isfile(path):
            raise AssertionError("%s is missing: build the test-%s preset first" %
                                 (path, self.arch))
        return path

    def launcher(self, name="launcher_probe"):
        if name == "launcher":
            return self.build_file("launcher.exe")
        return self.build_file("variants", name + ".exe")

    def probe_edition(self, code):
        return self.build_file("probe_editions", code + ".exe")

    def sample_edition(self, code):
        return self.build_file("sample_editions", code + ".exe")

    # Life cycle

    def start(self):
        if not os.path.isdir(self.template):
            # Started by hand, without the ctest fixture: boot the template once.
            os.makedirs(os.path.dirname(os.path.abspath(self.template)), exist_ok=True)
            with open(self.template + ".lock", "w") as lock:
                fcntl.flock(lock, fcntl.LOCK_EX)
                if not os.path.isdir(self.template):
                    make_template(self.template)
        self.stop_server()
        remove_tree(self.work_dir)
        os.makedirs(self.logs)
        copy_prefix(self.template, self.prefix)
        subprocess.run([wineserver_program(), "-p"], env=self.env, check=True, timeout=30)

    def stop_server(self):
        if os.path.isdir(self.prefix):
            subprocess.run([wineserver_program(), "-k"], env=self.env, timeout=30,
                           stderr=subprocess.DEVNULL)
            subprocess.run([wineserver_program(), "-w"], env=self.env, timeout=30)

    def stop(self, keep):
        self.stop_server()
        if keep:
            print("prefix and logs kept in %s" % self.work_dir)
        else:
            remove_tree(self.work_dir)

    # Paths

    def unix_path(self, win_path):
        """The Linux path of a Windows path of this prefix (C:\\a\\b, Z:\\...)."""
        drive, rest = win_path[:2], win_path[2:]
        if not re.match(r"[A-Za-z]:", drive):
            raise ValueError("not an absolute Windows path: %r" % win_path)
        root = os.path.join(self.prefix, "dosdevices", drive.lower())
        parts = [p for p in rest.split("\\") if p]
        return os.path.join(root, *parts)

    def win_path(self, unix_path):
        """The C: path of a Linux path inside this prefix's drive_c."""
        rel = os.path.relpath(unix_path, os.path.join(self.prefix, "drive_c"))
        if rel.startswith(".."):
            raise ValueError("%s is not on drive C:" % unix_path)
        return "C:\\" + ("" if rel == "." else rel.replace("/", "\\"))

    def make_dir(self, win_path):
        path = self.unix_path(win_path)
        os.makedirs(path, exist_ok=True)
        return path

    def listing(self, win_path):
        path = self.unix_path(win_path)
        return sorted(os.listdir(path)) if os.path.isdir(path) else []

    # Programs

    def start_program(self, program, args=(), cwd=None, env=None, locale="en_US.UTF-8",
                      report=True):
        """Starts PROGRAM (a Linux path of a Windows image) and returns its pending Run.
        CWD is a Windows path of this prefix (default C:\\). With REPORT, PROBE_REPORT names a
        fresh report file for the probes this run starts."""
        self.runs += 1
        name = "run%03d" % self.runs
        run_env = dict(self.env, WINEDEBUG="-all,+debugstr", LC_ALL=locale)
        report_path = None
        if report:
            report_path = "C:\\reports\\%s.txt" % name
            self.make_dir("C:\\reports")
            run_env["PROBE_REPORT"] = report_path
        run_env.update(env or {})
        stderr_path = os.path.join(self.logs, name + ".stderr")
        unix_cwd = self.unix_path(cwd or "C:\\")
        with open(stderr_path, "wb") as stderr:
            # stderr goes to a file: processes the program starts inherit it and may outlive it.
            process = subprocess.Popen([self.loader, program, *args], cwd=unix_cwd, env=run_env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=stderr, start_new_session=True)
        return Run(self, process, stderr_path, report_path, time.monotonic())

    def run(self, program, args=(), timeout=60, **kwargs):
        return self.start_program(program, args, **kwargs).wait(timeout)

    # Registry

    def reg(self, *args, check=True):
        """Runs Wine's reg.exe of this architecture, so that it writes the registry view the
        launcher of this architecture reads."""
        self.runs += 1
        output_path = os.path.join(self.logs, "reg%03d.out" % self.runs)
        # Output to a file, not a pipe: services that the first Wine program of a session
        # starts inherit it and would hold a pipe open.
        with open(output_path, "wb") as output:
            returncode = subprocess.run([self.loader, "reg", *args], env=self.env, timeout=60,
                                        stdin=subprocess.DEVNULL, stdout=output,
                                        stderr=subprocess.STDOUT).returncode
        if check and returncode != 0:
            with open(output_path, "rb") as output:
                raise AssertionError("reg %s failed (%d): %s" % (
                    " ".join(args), returncode, output.read().decode("latin-1")))
        return returncode

    def reg_add(self, key, name, kind, data=None, view=None):
        args = ["add", key, "/v", name, "/t", kind, "/f"]
        if data is not None:
            args += ["/d", data]
        if view:
            args.append("/reg:%d" % view)
        self.reg(*args)

    def reg_delete(self, key, name=None, view=None):
        """Deletes the key, or one value of it; a key or value that is not there is fine."""
        args = ["delete", key, "/f"] + (["/v", name] if name else [])
        if view:
            args.append("/reg:%d" % view)
        self.reg(*args, check=False)

    def reg_import(self, text):
        """Imports registry text (the body of a .reg file) in one reg.exe run."""
        self.make_dir("C:\\reports")
        self.runs += 1
        path = "C:\\reports\\import%03d.reg" % self.runs
        with open(self.unix_path(path), "w", newline="\r\n") as f:
            f.write("Windows Registry Editor Version 5.00\n\n" + text)
        self.reg("import", path)

    def set_temp_dir(self, win_path, create=True):
        """Makes WIN_PATH the temporary directory of programs started from now on."""
        if create:
            self.make_dir(win_path)
        self.reg_add("HKCU\\Environment", "TMP", "REG_SZ", win_path)


# ---------------------------------------------------------------------------------------------
# Test files

_session = None


def session():
    """The Wine session of the running test file."""
    return _session


def check_wine(arch):
    """None when ARCH's Wine runs here, else the reason it does not."""
    loader = LOADERS[arch]
    try:
        result = subprocess.run([loader, "--version"], capture_output=True, timeout=30)
    except OSError as e:
        return "%s cannot be started: %s" % (loader, e)
    except subprocess.TimeoutExpired:
        return "%s --version did not answer" % loader
    if result.returncode != 0:
        return "%s --version failed (%d): %s" % (
            loader, result.returncode, result.stderr.decode("latin-1").strip())
    return None


def main():
    """Runs the calling test file's cases in one Wine session; exits 0 when all pass, 1 on a
    failure, 77 when the file's architecture cannot run here (only 32-bit Wine may be absent)."""
    global _session
    arch = os.environ.get("WINETEST_ARCH", "x86_64")
    if arch not in LOADERS:
        sys.exit("WINETEST_ARCH must be x86_64 or i686, not %r" % arch)
    problem = check_wine(arch)
    if problem and arch == "i686":
        print("SKIPPED: 32-bit Wine cannot run on this machine: " + problem)
        sys.exit(SKIP)
    if problem:
        print("FAILED: 64-bit Wine is required: " + problem)
        sys.exit(1)
    if arch == "i686" and check_wine("x86_64"):
        print("FAILED: 64-bit Wine is required for the prefix: " + check_wine("x86_64"))
        sys.exit(1)

    here = os.path.dirname(os.path.abspath(sys.argv[0]))
    source = os.path.dirname(os.path.dirname(here))
    build_dir = os.environ.get("WINETEST_BUILD_DIR",
                               os.path.join(source, "build", "test-" + arch))
    work_root = os.environ.get("WINETEST_WORK_DIR", os.path.join(build_dir, "winetest"))
    template = os.environ.get("WINETEST_TEMPLATE", os.path.join(work_root, "template"))
    name = os.path.splitext(os.path.basename(sys.argv[0]))[0]
    _session = Wine(arch, build_dir, template, os.path.join(work_root, arch + "-" + name))

    ok = False
    started = time.monotonic()
    try:
        _session.start()
        program = unittest.main(module="__main__", exit=False, verbosity=2)
        ok = program.result.wasSuccessful()
    finally:
        _session.stop(keep=not ok or bool(os.environ.get("WINETEST_KEEP")))
    print("%s (%s): %s in %.1f s" % (name, arch, "passed" if ok else "FAILED",
                                      time.monotonic() - started))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--make-template":
        make_template(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "--remove-template":
        remove_tree(sys.argv[2])
        remove_tree(sys.argv[2] + ".booting")
    else:
        sys.exit(__doc__)
