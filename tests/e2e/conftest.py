"""End-to-end harness: every case runs on each build named with --build KIND=DIR.

KIND is native (Linux, on the project's platform layer), wine32 or wine64 (the Windows builds
under Wine). The `build` fixture is parametrised over the builds given, so one suite checks all
three the same way: by running the executables as a user would and looking at what a user sees.
"""

import json
import os
import re
import subprocess
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
    for spec in metafunc.config.getoption("build"):
        kind, _, folder = spec.partition("=")
        if kind not in ("native", "wine32", "wine64") or not folder:
            raise pytest.UsageError(f"--build wants native|wine32|wine64=DIR, not {spec!r}")
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
WINE32_FULL = os.environ.get("STEWARD_WINE32_FULL") == "1" or subprocess.run(
    ["/lib/ld-linux.so.2", "--version"], capture_output=True).returncode == 0 and not Path(
        "/proc/sys/fs/binfmt_misc/qemu-i386").exists()


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
