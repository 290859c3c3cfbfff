"""End-to-end harness: every case runs on each build named with --build KIND=DIR.

KIND is native (Linux, on the project's platform layer), wine32 or wine64 (the Windows builds
under Wine). The `build` fixture is parametrised over the builds given, so one suite checks all
three the same way: by running the executables as a user would and looking at what a user sees.
"""

import json
import os
import re
import signal
import subprocess
import tempfile
import time
import uuid
from dataclasses import dataclass, field
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
WINE_LOADERS = {"wine32": "/usr/lib/wine/wine", "wine64": "/usr/lib/wine/wine64"}
# Wine's event log keeps nothing, but its debug channels show every event reported: the source
# (RegisterEventSourceA), the type, category and identifier (ReportEventA) and each string.
WINE_EVENT_DEBUG = "-all,fixme+advapi,trace+eventlog"


def pytest_addoption(parser):
    parser.addoption("--build", action="append", default=[], metavar="KIND=DIR",
                     help="a build to test: native, wine32 or wine64, and its build folder")


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "wine32: also run on the 32-bit Windows build when the full run is not asked for")


def pytest_generate_tests(metafunc):
    if "build" not in metafunc.fixturenames:
        return
    builds = []
    for given in metafunc.config.getoption("build"):
        kind, _, folder = given.partition("=")
        if kind not in ("native", "wine32", "wine64") or not folder:
            raise pytest.UsageError(f"--build wants native|wine32|wine64=DIR, not {given!r}")
        builds.append((kind, folder))
    if not builds:
        raise pytest.UsageError("name at least one build with --build KIND=DIR")
    metafunc.parametrize("build_spec", builds, ids=[kind for kind, _ in builds],
                         indirect=True)


@dataclass
class Event:
    source: str
    type: int
    category: int
    event_id: int
    strings: list = field(default_factory=list)
    # Wine's debug output cuts long strings; then only their beginnings can be compared.
    cut: bool = False

    def shows(self, source, strings):
        """True when this event has the source and strings given (as far as they were seen)."""
        if not self.cut:
            return self.source == source and self.strings == strings
        return (source.startswith(self.source) and len(strings) == len(self.strings)
                and all(full.startswith(seen) for full, seen in zip(strings, self.strings)))


# Event types as the native event log names them.
EVENT_TYPES = {"Success": 0, "Error": 1, "Warning": 2, "Information": 4,
               "Audit Success": 8, "Audit Failure": 16}


@dataclass
class Result:
    code: int
    out: str
    err: str
    events: list


def _default_console_signals():
    """A job started in the background by a non-interactive shell ignores SIGINT and SIGQUIT,
    and so would everything the tests start from it; a user's console program starts with the
    defaults, so the tests' programs do too."""
    for number in (signal.SIGINT, signal.SIGQUIT, signal.SIGHUP, signal.SIGTERM):
        signal.signal(number, signal.SIG_DFL)


class Build:
    """One build of steward, and how to run its programs."""

    def __init__(self, kind, folder, root, prefix):
        self.kind = kind
        self.folder = Path(folder).resolve()
        self.root = root  # the native store root of this case
        self.prefix = prefix  # the Wine prefix of this run
        self.suffix = ".exe" if self.is_wine else ""
        self.case_id = uuid.uuid4().hex[:8]

    @property
    def is_wine(self):
        return self.kind != "native"

    def name(self, stem):
        """A name unique to this case, so cases never meet in a shared Wine registry."""
        return f"{stem}{self.case_id}"

    def program(self, stem):
        path = self.folder / (stem + self.suffix)
        assert path.exists(), f"{path} was not built"
        return path

    def command(self, stem, *args):
        """The command line that runs program stem of this build with args."""
        if self.is_wine:
            return [WINE_LOADERS[self.kind], str(self.program(stem)), *args]
        return [str(self.program(stem)), *args]

    def environment(self, extra=None):
        env = dict(os.environ)
        if self.is_wine:
            env.update(WINEPREFIX=str(self.prefix), WINEDEBUG=WINE_EVENT_DEBUG,
                       WINEDLLOVERRIDES="mscoree,mshtml=")
        else:
            env["STEWARD_ROOT"] = str(self.root)
        env.update(extra or {})
        return env

    def run(self, stem, *args, timeout=120, env=None, stdin=subprocess.DEVNULL):
        """Runs a program to its end; returns its exit code, output and the events it logged."""
        log = self.event_log_path()
        before = log.stat().st_size if log and log.exists() else 0
        proc = subprocess.run(self.command(stem, *args), stdin=stdin, capture_output=True,
                              timeout=timeout, env=self.environment(env))
        out = proc.stdout.decode("latin-1").replace("\r\n", "\n")
        err = proc.stderr.decode("latin-1")
        if self.is_wine:
            events = parse_wine_events(err)
        else:
            events = read_native_events(log, before)
        return Result(proc.returncode, out, err, events)

    def steward(self, *args, **kwargs):
        return self.run("steward", *args, **kwargs)

    def event_log_path(self):
        return None if self.is_wine else Path(self.root) / "eventlog" / "Application.log"

    def java(self, out_path):
        """The launch parameters that point steward at the JVM of this build and its probe classes,
        and make the probe write its facts to out_path: natively the real JVM library and the probe
        classes of the build folder (named in its e2e.json), under Wine the stand-in jvm.dll."""
        if self.is_wine:
            library = self.folder / "tests" / "fakejvm" / "jvm.dll"
            assert library.exists(), f"{library} was not built"
            return [f"jvmdll={self.host_path(library)}",
                    f"-Dprobe.out={self.host_path(out_path)}"]
        setup = json.loads((self.folder / "e2e.json").read_text())
        return [f"jvmdll={setup['jvm']}", f"-Djava.class.path={setup['classes']}",
                f"-Dprobe.out={out_path}"]

    def java_environment(self):
        """What the environment of a run that hosts this build's JVM needs besides the usual.
        LeakSanitizer (in the native-asan build) cannot check a process that hosts a real JVM: it
        stops the JVM's threads at exit to scan them and dies on the JVM's guard pages. The leak
        check is left off for these runs only; ASan's other checks stay on."""
        if self.is_wine:
            return {}
        options = os.environ.get("ASAN_OPTIONS", "")
        return {"ASAN_OPTIONS": f"{options}:detect_leaks=0" if options else "detect_leaks=0"}

    def host_path(self, path):
        """path as the programs of this build see it: under Wine through drive Z:."""
        if self.is_wine:
            return "Z:" + str(path).replace("/", "\\")
        return str(path)

    def start(self, stem, *args, env=None):
        """Starts program stem of this build with args and returns it running (a Process). Windows
        programs are started with the Wine loader of their bitness, so the process id is theirs."""
        log = self.event_log_path()
        before = log.stat().st_size if log and log.exists() else 0
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        popen = subprocess.Popen(self.command(stem, *args), stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=err, env=self.environment(env), start_new_session=True,
                                 preexec_fn=_default_console_signals)
        process = Process(self, stem, popen, out, err, before)
        _STARTED.append(process)
        return process


def read_native_events(log, offset):
    if not log or not log.exists():
        return []
    with open(log, "rb") as handle:
        handle.seek(offset)
        lines = handle.read().decode("utf-8").splitlines()
    events = []
    for line in lines:
        record = json.loads(line)
        events.append(Event(record["source"], EVENT_TYPES[record["type"]], record["category"],
                            record["event_id"], record["strings"]))
    return events


_REGISTER = re.compile(r'^(\w+):fixme:advapi:RegisterEventSourceA \(.*?,"(.*)"(\.\.\.)?\): stub')
_REPORT = re.compile(r'^(\w+):fixme:advapi:ReportEventA \(\w+,0x(\w+),0x(\w+),0x(\w+),')
_STRING = re.compile(r'^(\w+):trace:eventlog:ReportEventW L"(.*)"(\.\.\.)?$')


def _unescape_wine(text):
    """Undoes Wine's debug-string escapes (\\n, \\", \\\\, \\xNNNN)."""
    out, i = [], 0
    simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if nxt == "x":
                digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if digits:
                    out.append(chr(int(digits.group(0), 16)))
                    i += 2 + len(digits.group(0))
                    continue
        out.append(ch)
        i += 1
    return "".join(out)


def parse_wine_events(stderr):
    """Rebuilds the events of a Wine run from its debug channels, thread by thread."""
    sources, pending, events = {}, {}, []
    for line in stderr.splitlines():
        if m := _REGISTER.match(line):
            sources[m.group(1)] = (m.group(2), bool(m.group(3)))
        elif m := _REPORT.match(line):
            source, cut = sources.get(m.group(1), ("", False))
            event = Event(source, int(m.group(2), 16), int(m.group(3), 16), int(m.group(4), 16),
                          cut=cut)
            pending[m.group(1)] = event
            events.append(event)
        elif m := _STRING.match(line):
            event = pending.get(m.group(1))
            if event is not None:
                event.strings.append(_unescape_wine(m.group(2)))
                event.cut = event.cut or bool(m.group(3))
    return events


@pytest.fixture(scope="session")
def wine_prefix(tmp_path_factory):
    """The Wine prefix of this run: the one CTest made, or a private one made here."""
    given = os.environ.get("WINEPREFIX")
    if given:
        yield Path(given)
        return
    prefix = tmp_path_factory.mktemp("wineprefix")
    subprocess.run([str(REPO / "scripts" / "wine-prefix"), "up", str(prefix)], check=True)
    yield prefix
    subprocess.run([str(REPO / "scripts" / "wine-prefix"), "down", str(prefix)], check=False)


@pytest.fixture
def build_spec(request):
    return request.param


# Where the kernel runs no 32-bit programs, 32-bit Wine runs under qemu emulation and every
# process start costs about a minute. There the 32-bit build runs the cases marked wine32 unless
# STEWARD_WINE32_FULL=1 asks for all of them.
WINE32_EMULATED = Path("/proc/sys/fs/binfmt_misc/qemu-i386").exists()
WINE32_FULL = os.environ.get("STEWARD_WINE32_FULL") == "1" or not WINE32_EMULATED


@pytest.fixture
def build(build_spec, tmp_path, request):
    kind, folder = build_spec
    if kind == "wine32" and not WINE32_FULL and not request.node.get_closest_marker("wine32"):
        pytest.skip("32-bit Wine runs emulated here; STEWARD_WINE32_FULL=1 runs this case too")
    prefix = request.getfixturevalue("wine_prefix") if kind != "native" else None
    root = tmp_path / "root"
    root.mkdir()
    return Build(kind, folder, root, prefix)


def run_wine_reg(build, *args, timeout=120):
    """Runs Wine's own reg program in a Wine build's prefix, with the loader of its bitness so that
    both see the same registry view; returns its exit code and output like Build.run. Wine's reg
    waits for a console answer that never comes when it has to ask, so pass /f to add and delete."""
    assert build.is_wine, "Wine's reg runs only for the Wine builds"
    proc = subprocess.run([WINE_LOADERS[build.kind], "reg", *args], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout, env=build.environment())
    out = proc.stdout.decode("latin-1").replace("\r\n", "\n")
    return Result(proc.returncode, out, proc.stderr.decode("latin-1"), [])


# ---------------------------------------------------------------------------------------------
# The Java host: the JVM a build hosts, programs that keep running, and the facts the hosted
# probe classes (tests/java) or, under Wine, the stand-in JVM library (tests/fakejvm) write.

# How a test names a console control event, and the signal that stands for it natively (the
# platform layer maps them so). Under Wine SIGINT arrives as Ctrl+C; the other events are
# delivered by steward-ctrl.exe, a helper that runs kernel32's CtrlRoutine in the target.
CONTROL_SIGNALS = {"ctrl-c": signal.SIGINT, "break": signal.SIGQUIT, "close": signal.SIGHUP,
                   "shutdown": signal.SIGTERM}

# Every process started with Build.start; none outlives the case that started it.
_STARTED = []


class Process:
    """A program of a build that runs while the test goes on."""

    def __init__(self, build, stem, popen, out, err, log_offset):
        self.build = build
        self.stem = stem
        self.popen = popen
        self._out = out
        self._err = err
        self._log_offset = log_offset

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def send(self, event):
        """Delivers a console control event: ctrl-c, break, close or shutdown."""
        assert event in CONTROL_SIGNALS, f"no such console control event: {event}"
        # Wine turns SIGINT into Ctrl+C, except where 32-bit Wine runs under qemu's emulation:
        # there a signal can land in the middle of translated code and crash the process, so the
        # event goes the way of the others.
        if not self.build.is_wine or (event == "ctrl-c" and not (self.build.kind == "wine32" and WINE32_EMULATED)):
            os.kill(self.pid, CONTROL_SIGNALS[event])
            return
        # Windows process ids are not the Linux ones: the helper finds the program by its image.
        helper = self.build.folder / "tests" / "tools" / "steward-ctrl.exe"
        assert helper.exists(), f"{helper} was not built"
        proc = subprocess.run(
            [WINE_LOADERS[self.build.kind], str(helper), "--image", self.stem + ".exe", event],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=120,
            env=self.build.environment({"WINEDEBUG": "-all"}))
        assert proc.returncode == 0, (
            f"steward-ctrl could not send {event}: {proc.stderr.decode('latin-1')}")

    def output(self):
        """What the program has written to its standard output so far."""
        self._out.seek(0)
        return self._out.read().decode("latin-1").replace("\r\n", "\n")

    def wait(self, timeout):
        """Waits for the program to end; returns its exit code, output and events as run() does.
        Raises subprocess.TimeoutExpired when it is still running after timeout seconds."""
        code = self.popen.wait(timeout)
        self._err.seek(0)
        err = self._err.read().decode("latin-1")
        if self.build.is_wine:
            events = parse_wine_events(err)
        else:
            events = read_native_events(self.build.event_log_path(), self._log_offset)
        return Result(code, self.output(), err, events)

    def kill(self):
        if self.running():
            self.popen.kill()
            self.popen.wait(30)

    def release(self):
        """Ends the program if it still runs and drops what was kept of its output."""
        self.kill()
        self._out.close()
        self._err.close()


@pytest.fixture(autouse=True)
def _no_process_outlives_its_case():
    yield
    while _STARTED:
        _STARTED.pop().release()


@dataclass
class Facts:
    """What a hosted main received, as the probe (or the stand-in JVM) wrote it."""
    args: list
    properties: dict
    options: list
    cwd: str
    destroyed: bool


def parse_facts(text):
    """Parses a facts file (see tests/java/probe/Probe.java); fails on a line it does not know."""
    facts = Facts(args=[], properties={}, options=[], cwd=None, destroyed=False)
    # Only "\n" ends a fact: an argument may hold any other character.
    for line in text.split("\n")[:-1]:
        key, _, value = line.partition("=")
        if key == "arg":
            facts.args.append(value)
        elif key.startswith("property:"):
            facts.properties[key[len("property:"):]] = value
        elif key == "option":
            facts.options.append(value)
        elif key == "cwd":
            facts.cwd = value
        elif line == "destroyed":
            facts.destroyed = True
        elif key == "args":
            assert int(value) == len(facts.args), (
                f"args={value} does not count the {len(facts.args)} arg= lines:\n{text}")
        else:
            raise AssertionError(f"unknown fact {line!r} in:\n{text}")
    return facts


def read_facts(path, timeout=30, until="args"):
    """Waits until the facts file at path holds the line that ends what main writes ("args=N"),
    or the one given with until (such as "destroyed"), and returns the facts parsed."""
    deadline = time.monotonic() + timeout
    text = ""
    while True:
        if os.path.exists(path):
            with open(path, "rb") as handle:
                text = handle.read().decode("utf-8")
            if any(line == until or line.startswith(until + "=")
                   for line in text.split("\n")[:-1]):
                return parse_facts(text)
        if time.monotonic() > deadline:
            raise AssertionError(f"no {until!r} in {path} after {timeout} s; it holds:\n{text}")
        time.sleep(0.1)
