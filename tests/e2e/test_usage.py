"""The command line: usage messages, the service-mode start from a console, and bad names."""

import pytest

DISPATCHER_FAILED = "StartServiceControlDispatcher failed!"
SERVICE_MODE_LINES = ("\nOnly service name in command line..."
                      "\nCalling StartServiceCtrlDispatcher...please wait.\n")
INFORMATION = 4
EVENT_ID = 0x40000001


@pytest.mark.wine32
def test_no_arguments_asks_for_a_service_name(build):
    result = build.steward()
    assert result.out == "\nToo few arguments, provide service name!\n"
    assert result.code == 1
    assert result.events == []


@pytest.mark.parametrize("option", ["-x", "/X", "-install", "--i", "i"])
def test_unknown_option_is_named(build, option):
    result = build.steward(option, "Svc", "more")
    assert result.out == f"\nUnrecognized option: {option}\n"
    assert result.code == 1


@pytest.mark.parametrize("option", ["-i", "/I", "-R", "/r", "-C", "/c"])
def test_options_are_recognised_in_either_case_and_with_either_prefix(build, option):
    result = build.steward(option, "Svc")
    assert "Unrecognized option" not in result.out


@pytest.mark.parametrize("name", [pytest.param("Svc", marks=pytest.mark.wine32), "-i",
                                  "Name With Blanks"])
def test_service_mode_from_a_console_fails_and_logs_it(build, name):
    result = build.steward(name)
    assert result.out == SERVICE_MODE_LINES + f"\n{DISPATCHER_FAILED}\n"
    assert result.code == 1
    assert len(result.events) == 1
    event = result.events[0]
    assert (event.source, event.type, event.category, event.event_id) == (
        name, INFORMATION, 0, EVENT_ID)
    assert event.strings == [f"{name}: {DISPATCHER_FAILED}"]


def test_longest_service_name_is_taken_whole(build):
    name = "N" * 1023
    result = build.steward(name)
    assert result.out.startswith(SERVICE_MODE_LINES)
    assert len(result.events) == 1
    assert result.events[0].shows(name, [f"{name}: {DISPATCHER_FAILED}"])


@pytest.mark.parametrize("args", [["N" * 1024], ["-c", "N" * 1024, "mainclass=A"],
                                  ["-i", "N" * 2000], ["-r", "N" * 1024]])
def test_too_long_service_name_is_refused_before_anything_is_done(build, args):
    result = build.steward(*args)
    assert result.out == (f"\nService name too long: {len(max(args, key=len))} characters, "
                          "at most 1023 are allowed. Nothing was done.\n")
    assert result.code == 1
    assert result.events == []
