"""The console runner: steward -c NAME PARAMS... hosts a Java application in the foreground.

The launch parameters come from the command line. steward creates the JVM inside its own process,
calls main of the class named by mainclass= with the program arguments, and then waits, whether
main has returned or not, until Ctrl+C, the console's close or a shutdown ends the run with exit
code 0. A launch that fails ends the run with exit code 1 and says why.

What the Java side received is read from the facts file that the probe classes (natively, on the
real JVM) or the stand-in JVM library (under Wine) write; see tests/java/probe/Probe.java.
"""

import re
import time

import pytest

from conftest import read_facts

RUNNING = "Running Svc.\n"
# Wine's ANSI code page here: the program's argv holds only what it can represent.
WINE_ANSI_CODE_PAGE = "cp1252"


def patience(build):
    """Seconds to allow for a start: 32-bit Wine may run emulated, at about a minute a process."""
    return 240 if build.kind == "wine32" else 30


def stop_limit(build):
    """Seconds within which a stop event must end the run."""
    return 60 if build.kind == "wine32" else 5


def start_console(build, tmp_path, *params, option="-c"):
    """Starts the console runner with the build's JVM, the probe's facts file and params."""
    facts = tmp_path / "facts"
    process = build.start("steward", option, "Svc", *build.java(facts), *params,
                          env=build.java_environment())
    return process, facts


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"still not {what} after {timeout} s"
        time.sleep(0.1)


@pytest.mark.parametrize("option", [pytest.param("-c", marks=pytest.mark.wine32), "/C"])
def test_hosts_main_and_runs_on_after_it_returned_until_ctrl_c(build, tmp_path, option):
    process, facts_path = start_console(build, tmp_path, "-Dprobe.x=1", "mainclass=probe/Probe",
                                        "a", "b c", option=option)
    # main has returned and the VM has been destroyed.
    facts = read_facts(facts_path, patience(build), until="destroyed")
    assert facts.args == ["a", "b c"]
    assert facts.properties["probe.x"] == "1"

    time.sleep(1)
    assert process.running(), f"the run ended after main returned:\n{process.output()}"
    process.send("ctrl-c")
    result = process.wait(stop_limit(build))
    assert result.code == 0
    assert result.out == RUNNING


def test_slash_d_option_reaches_the_vm_as_given(build, tmp_path):
    _, facts_path = start_console(build, tmp_path, "/Dprobe.y=2", "mainclass=probe/Probe")
    facts = read_facts(facts_path, patience(build))
    assert "/Dprobe.y=2" in facts.options
    # The VM takes only -D options as system properties.
    assert "probe.y" not in facts.properties


def test_twenty_jvm_options_start_the_vm(build, tmp_path):
    own = [param for param in build.java(tmp_path / "facts") if param.startswith("-D")]
    fill = [f"-Dprobe.fill{i}={i}" for i in range(20 - len(own))]
    _, facts_path = start_console(build, tmp_path, *fill, "mainclass=probe/Probe")
    facts = read_facts(facts_path, patience(build))
    assert {f"probe.fill{i}": str(i) for i in range(len(fill))}.items() <= facts.properties.items()
    assert facts.options[-len(fill):] == fill


def _representable(text, code_page):
    try:
        text.encode(code_page)
        return True
    except UnicodeEncodeError:
        return False


@pytest.mark.parametrize("args", [[], ["Grüße"], ["日本"], ["", "x=y"]],
                         ids=["none", "latin", "cjk", "empty-and-equals"])
def test_program_arguments_arrive_in_order_and_intact(build, tmp_path, args):
    if build.is_wine and not all(_representable(arg, WINE_ANSI_CODE_PAGE) for arg in args):
        pytest.skip(f"Wine's ANSI code page ({WINE_ANSI_CODE_PAGE}) cannot represent {args}, so "
                    "the program's command line cannot hold them")
    _, facts_path = start_console(build, tmp_path, "mainclass=probe/Probe", *args)
    assert read_facts(facts_path, patience(build)).args == args


def test_working_directory_is_changed_before_the_vm_starts(build, tmp_path):
    work = tmp_path / "work dir"
    work.mkdir()
    _, facts_path = start_console(build, tmp_path, f"wrkdir={build.host_path(work)}",
                                  "mainclass=probe/Probe")
    facts = read_facts(facts_path, patience(build))
    assert facts.cwd == build.host_path(work.resolve())


class Setup:
    """What the failure cases are written with, for one build and case."""

    def __init__(self, build, tmp_path):
        self.java = build.java(tmp_path / "facts")
        self.options = [param for param in self.java if param.startswith("-D")]
        self.missing_library = build.host_path(tmp_path / "missing" / "jvm.dll")
        self.missing_directory = build.host_path(tmp_path / "missing")
        # A library that loads but is no JVM.
        self.not_a_jvm = r"C:\windows\system32\kernel32.dll" if build.is_wine else "libc.so.6"


# Each case: the launch parameters, the message after the running line (a regular expression),
# and whether main ran (then its facts must show the VM destroyed; otherwise there are none).
FAILURES = [
    pytest.param(lambda s: [f"jvmdll={s.missing_library}", "mainclass=probe/Probe"],
                 lambda s: re.escape(f"Error loading: {s.missing_library}\n\n"), False,
                 id="library-not-loaded", marks=pytest.mark.wine32),
    pytest.param(lambda s: [f"jvmdll={s.not_a_jvm}", "mainclass=probe/Probe"],
                 lambda s: re.escape(f"Cannot find JNI interfaces in: {s.not_a_jvm}\n\n"), False,
                 id="library-not-a-jvm"),
    pytest.param(lambda s: [*s.java, *[f"-Dprobe.fill{i}=1" for i in range(21 - len(s.options))],
                            "mainclass=probe/Probe"],
                 lambda s: re.escape("Max. number of Java args (20) exceeded.\n"), False,
                 id="21-jvm-options"),
    pytest.param(lambda s: [*s.java, "-Xmxplenty", "mainclass=probe/Probe"],
                 lambda s: re.escape("Cannot create Java VM.\n\n"), False, id="vm-refuses"),
    pytest.param(lambda s: [*s.java, "mainclass=probe/Missing"],
                 lambda s: re.escape("JNI error finding main class.\n"), False,
                 id="class-missing"),
    pytest.param(lambda s: [*s.java, "mainclass=probe/NoMain"],
                 lambda s: re.escape("JNI error finding main(String[]) method.\n"), False,
                 id="no-main-method"),
    pytest.param(lambda s: [*s.java, "mainclass=probe/Throws"],
                 lambda s: re.escape("Could not invoke main class\n"), True, id="main-throws"),
    pytest.param(lambda s: [*s.java, f"wrkdir={s.missing_directory}", "mainclass=probe/Probe"],
                 lambda s: re.escape("Unable to change working directory.\n"), False,
                 id="working-directory-missing"),
    pytest.param(lambda s: s.java, lambda s: r"[^\n]*mainclass=[^\n]*\n", False,
                 id="no-main-class"),
    pytest.param(lambda s: ["jvmdll=" + "j" * 300, "mainclass=probe/Probe"],
                 lambda s: r"[^\n]*jvmdll=[^\n]*too long[^\n]*\n", False,
                 id="library-path-too-long"),
]


@pytest.mark.parametrize("params, message, reaches_main", FAILURES)
def test_failed_launch_says_why_and_ends_the_run(build, tmp_path, params, message, reaches_main):
    setup = Setup(build, tmp_path)
    result = build.steward("-c", "Svc", *params(setup), timeout=patience(build) + 30,
                           env=build.java_environment())
    assert re.fullmatch(re.escape(RUNNING) + message(setup), result.out), result.out
    assert result.code == 1
    facts_path = tmp_path / "facts"
    if reaches_main:
        assert read_facts(facts_path, until="destroyed").destroyed
    else:
        assert not facts_path.exists()


@pytest.mark.parametrize("event", ["ctrl-c", "close", "shutdown"])
def test_stop_event_ends_a_running_application(build, tmp_path, event):
    # probe.Wait keeps a thread of the application running, so the VM is alive when the stop
    # comes; the run ends without waiting for it.
    process, facts_path = start_console(build, tmp_path, "mainclass=probe/Wait")
    read_facts(facts_path, patience(build))
    process.send(event)
    result = process.wait(stop_limit(build))
    assert result.code == 0
    assert result.out == RUNNING


def test_break_is_left_to_the_jvm_and_does_not_end_the_run(build, tmp_path):
    process, facts_path = start_console(build, tmp_path, "mainclass=probe/Wait")
    read_facts(facts_path, patience(build))
    process.send("break")
    # The JVM answers Ctrl+Break with a thread dump on standard output.
    wait_until(lambda: "Full thread dump" in process.output(), patience(build),
               "showing a thread dump")
    time.sleep(1)
    assert process.running(), f"Ctrl+Break ended the run:\n{process.output()}"
    process.send("ctrl-c")
    assert process.wait(stop_limit(build)).code == 0
