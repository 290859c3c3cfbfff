"""steward-reg: the registry tool that the other cases read and write the registry with.

It takes Windows' reg syntax and prints what reg prints, on every build: natively over the
project's registry store, under Wine over Wine's registry, where Wine's own reg must read what it
writes and the other way round. Every case works under a key of its own, since the Wine registry
is shared by all the cases of a run.
"""

import tempfile

import pytest

from conftest import run_wine_reg

BASE = r"HKLM\Software\StewardTest"
FULL_BASE = r"HKEY_LOCAL_MACHINE\Software\StewardTest"
DONE = "The operation completed successfully.\n"
CANCELLED = "The operation was canceled by the user.\n"
NOT_FOUND = "ERROR: The system was unable to find the specified registry key or value.\n"

# One value of each type: the arguments that add it and the line a query prints for it. The names
# are in alphabetical order, the default value first, because Wine lists values sorted by name
# while the native store lists them in the order they were made.
EVERY_TYPE = [
    (["/ve", "/d", "default text"], "    (Default)    REG_SZ    default text"),
    (["/v", "Binary", "/t", "REG_BINARY", "/d", "00ff10AB"], "    Binary    REG_BINARY    00FF10AB"),
    (["/v", "Decimal", "/t", "REG_DWORD", "/d", "42"], "    Decimal    REG_DWORD    0x2a"),
    (["/v", "Dword", "/t", "REG_DWORD", "/d", "0xDEADBEEF"], "    Dword    REG_DWORD    0xdeadbeef"),
    (["/v", "Empty"], "    Empty    REG_SZ    "),
    (["/v", "Expand", "/t", "REG_EXPAND_SZ", "/d", r"%SystemRoot%\x"],
     r"    Expand    REG_EXPAND_SZ    %SystemRoot%\x"),
    (["/v", "Multi", "/t", "REG_MULTI_SZ", "/d", r"one\0two\0three"],
     r"    Multi    REG_MULTI_SZ    one\0two\0three"),
    (["/v", "None", "/t", "REG_NONE"], "    None    REG_NONE    00"),
    (["/v", "Qword", "/t", "REG_QWORD", "/d", "0x123456789abcdef0"],
     "    Qword    REG_QWORD    0x123456789abcdef0"),
    (["/v", "Separated", "/t", "REG_MULTI_SZ", "/s", ",", "/d", "a,b"],
     r"    Separated    REG_MULTI_SZ    a\0b"),
    (["/v", "String", "/d", "hello world"], "    String    REG_SZ    hello world"),
]

# The types whose data means the same to both tools: Wine's reg prints no REG_QWORD data, and it
# stores REG_NONE text in UTF-16 where steward-reg, an ANSI program, stores bytes.
SHARED_TYPES = [row for row in EVERY_TYPE if "REG_QWORD" not in row[1] and "REG_NONE" not in row[1]]


def reg(build, *args, answer=None):
    """Runs steward-reg; `answer` is what it reads on standard input (else an empty input)."""
    if answer is None:
        return build.run("steward-reg", *args)
    with tempfile.TemporaryFile() as handle:
        handle.write(answer.encode())
        handle.seek(0)
        return build.run("steward-reg", *args, stdin=handle)


def ok(build, *args, out=DONE):
    result = reg(build, *args)
    assert (result.code, result.out) == (0, out), (args, result)


def missing(build, *args):
    result = reg(build, *args)
    assert (result.code, result.out, result.err.replace("\r\n", "\n")) == (1, "", NOT_FOUND), \
        (args, result)


def listing(full_key, *lines):
    """What reg prints for one key's values: a blank line, the key, the values, a blank line."""
    return "\n" + full_key + "\n" + "".join(line + "\n" for line in lines) + "\n"


@pytest.fixture
def key(build):
    """The key this case works under, as typed and as reg prints it; removed from Wine's registry
    at the end (a native case has a store of its own)."""
    stem = build.name("Reg")
    yield BASE + "\\" + stem, FULL_BASE + "\\" + stem
    if build.is_wine:
        reg(build, "delete", BASE + "\\" + stem, "/f")


@pytest.mark.wine32
def test_a_value_round_trips(build):
    """The one case the emulated 32-bit build runs: write, read back, delete (and so clean up)."""
    name = BASE + "\\" + build.name("Trip")
    full = FULL_BASE + "\\" + build.name("Trip")
    ok(build, "add", name, "/v", "AppParameters", "/d", "mainclass=A -Xmx64m")
    ok(build, "query", name, "/v", "AppParameters",
       out=listing(full, "    AppParameters    REG_SZ    mainclass=A -Xmx64m"))
    ok(build, "delete", name, "/f")


def test_add_then_query_prints_each_type_as_reg_does(build, key):
    name, full = key
    for args, _ in EVERY_TYPE:
        ok(build, "add", name, *args)
    ok(build, "query", name, out=listing(full, *(line for _, line in EVERY_TYPE)))


def test_query_of_values_subkeys_and_trees(build, key):
    name, full = key
    ok(build, "add", name, "/ve", "/d", "top")
    ok(build, "add", name, "/v", "Port", "/t", "REG_DWORD", "/d", "8080")
    ok(build, "add", name + r"\Bare\Leaf", "/v", "Port", "/d", "inner")  # Bare: no values
    ok(build, "add", name + r"\Made")  # no value named: sets the default value, empty

    top = listing(full, "    (Default)    REG_SZ    top", "    Port    REG_DWORD    0x1f90")
    cases = [
        # The values, then the subkeys' full names.
        (["query", name], 0, top + full + "\\Bare\n" + full + "\\Made\n"),
        # A key without values shows its subkeys only.
        (["query", name + r"\Bare"], 0, "\n" + full + "\\Bare\\Leaf\n"),
        (["query", name + r"\Made"], 0, listing(full + r"\Made", "    (Default)    REG_SZ    ")),
        # One value, found whatever the case of its name, printed with the name as typed.
        (["query", name, "/v", "port"], 0, listing(full, "    port    REG_DWORD    0x1f90")),
        (["query", name, "/ve"], 0, listing(full, "    (Default)    REG_SZ    top")),
        (["query", name + r"\Bare", "/ve"], 0,
         listing(full + r"\Bare", "    (Default)    REG_SZ    (value not set)")),
        # The whole tree: every key, its values and a blank line.
        (["query", name, "/s"], 0,
         top + full + "\\Bare\n\n"
         + full + "\\Bare\\Leaf\n    Port    REG_SZ    inner\n\n"
         + full + "\\Made\n    (Default)    REG_SZ    \n\n"),
        # A search of the tree for a value: each key that holds it, then the count.
        (["query", name, "/v", "Port", "/s"], 0,
         listing(full, "    Port    REG_DWORD    0x1f90")
         + full + "\\Bare\\Leaf\n    Port    REG_SZ    inner\n\n"
         + "End of search: 2 match(es) found.\n"),
        (["query", name, "/v", "Nowhere", "/s"], 1, "\nEnd of search: 0 match(es) found.\n"),
    ]
    for args, code, out in cases:
        result = reg(build, *args)
        assert (result.code, result.out) == (code, out), (args, result)


def test_missing_key_or_value_is_an_error(build, key):
    name, _ = key
    ok(build, "add", name, "/v", "Present", "/d", "x")
    for args in (["query", name + r"\Absent"],
                 ["query", name + r"\Absent", "/ve"],
                 ["query", name, "/v", "Absent"],
                 ["delete", name + r"\Absent", "/f"],
                 ["delete", name + r"\Absent", "/va", "/f"],
                 ["delete", name, "/v", "Absent", "/f"]):
        missing(build, *args)


def test_delete_of_a_value_of_all_values_and_of_a_tree(build, key):
    name, full = key
    ok(build, "add", name, "/ve", "/d", "default")
    ok(build, "add", name, "/v", "First", "/d", "1")
    ok(build, "add", name, "/v", "Second", "/d", "2")
    ok(build, "add", name + r"\Sub\Deep", "/v", "x", "/d", "y")

    ok(build, "delete", name, "/v", "FIRST", "/f")
    missing(build, "query", name, "/v", "First")
    ok(build, "query", name, out=listing(full, "    (Default)    REG_SZ    default",
                                         "    Second    REG_SZ    2") + full + "\\Sub\n")

    ok(build, "delete", name, "/va", "/f")  # the default value too; the subkeys stay
    ok(build, "query", name, out="\n" + full + "\\Sub\n")

    ok(build, "delete", name, "/f")  # the key with everything below it
    missing(build, "query", name + r"\Sub\Deep")
    missing(build, "query", name)


def test_asks_before_overwriting_or_deleting(build, key):
    name, full = key
    ok(build, "add", name, "/v", "Kept", "/d", "first")
    ok(build, "add", name, "/v", "Gone", "/d", "x")
    ok(build, "add", name + r"\Sub")
    overwrite = "Value Kept exists, overwrite(Yes/No)? "
    cases = [
        # (arguments, standard input, output, exit code): no answer, or no, leaves things be.
        (["add", name, "/v", "Kept", "/d", "second"], None, overwrite + CANCELLED, 1),
        (["add", name, "/v", "Kept", "/d", "second"], "maybe\nn\n",
         overwrite + overwrite + CANCELLED, 1),
        (["add", name, "/v", "Kept", "/d", "third"], "y\n", overwrite + DONE, 0),
        (["delete", name, "/v", "Kept"], "no\n",
         "Delete the registry value Kept (Yes/No)? " + CANCELLED, 1),
        (["delete", name, "/va"], None,
         f"Delete all values under the registry key {full} (Yes/No)? " + CANCELLED, 1),
        (["delete", name, "/v", "Gone"], "Y\n", "Delete the registry value Gone (Yes/No)? " + DONE, 0),
        (["delete", name], "n\n", f"Permanently delete the registry key {full} (Yes/No)? " + CANCELLED,
         1),
    ]
    for args, answer, out, code in cases:
        result = reg(build, *args, answer=answer)
        assert (result.code, result.out) == (code, out), (args, answer, result)
    ok(build, "query", name, out=listing(full, "    Kept    REG_SZ    third") + full + "\\Sub\n")

    result = reg(build, "delete", name, answer="yes\n")
    assert (result.code, result.out) == (
        0, f"Permanently delete the registry key {full} (Yes/No)? " + DONE), result
    missing(build, "query", name)


def test_names_ignore_case_but_keep_the_case_they_were_made_with(build, key):
    name, full = key
    ok(build, "add", name + r"\MixedCase", "/v", "MixedValue", "/d", "first")
    typed = name.lower() + r"\MIXEDCASE"
    ok(build, "add", typed, "/v", "mixedvalue", "/d", "second", "/f")  # the same key and value
    ok(build, "query", name, out="\n" + full + "\\MixedCase\n")
    ok(build, "query", name + r"\MixedCase",
       out=listing(full + r"\MixedCase", "    MixedValue    REG_SZ    second"))
    # A key named on the command line is printed as typed, with the root's long name.
    ok(build, "query", typed, out=listing("HKEY_LOCAL_MACHINE" + typed[len("hklm"):],
                                          "    MixedValue    REG_SZ    second"))


USAGE = 'Type "REG{}/?" for usage.\n'


@pytest.mark.parametrize("args, error", [
    ([], "ERROR: Invalid syntax.\n" + USAGE.format(" ")),
    (["bogus", BASE], "ERROR: Invalid syntax.\n" + USAGE.format(" ")),
    (["query"], "ERROR: Invalid syntax.\n" + USAGE.format(" QUERY ")),
    (["query", BASE, "/v"], "ERROR: Invalid syntax.\n" + USAGE.format(" QUERY ")),
    (["query", BASE, "/v", "a", "/ve"], "ERROR: Invalid syntax.\n" + USAGE.format(" QUERY ")),
    (["query", r"HKXX\Software"], "ERROR: Invalid key name.\n" + USAGE.format(" QUERY ")),
    (["add", BASE + r"\Never", "/v", "a", "/d", "x", "/d", "y"],
     "ERROR: Invalid syntax.\n" + USAGE.format(" ADD ")),
    (["add", BASE + r"\Never", "/v", "a", "/t", "REG_TEXT"],
     "ERROR: Invalid syntax.\n" + USAGE.format(" ADD ")),
    (["add", BASE + r"\Never", "/v", "a", "/t", "REG_DWORD", "/d", "0x100000000"],
     "ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n" + USAGE.format(" ADD ")),
    (["add", BASE + r"\Never", "/v", "a", "/t", "REG_BINARY", "/d", "0g"],
     "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.\n" + USAGE.format(" ADD ")),
    (["delete", BASE, "/va", "/ve"], "ERROR: Invalid syntax.\n" + USAGE.format(" DELETE ")),
    (["delete", "HKLM", "/f"], "ERROR: Invalid key name.\n" + USAGE.format(" DELETE ")),
])
def test_invalid_command_lines_are_refused(build, args, error):
    result = reg(build, *args)
    assert (result.code, result.out, result.err.replace("\r\n", "\n")) == (1, "", error), result


@pytest.mark.parametrize("args, first_line", [
    (["/?"], "REG Operation [Parameter List]"),
    (["query", "/?"], "REG QUERY KeyName [/v ValueName | /ve] [/s]"),
    (["add", "/?"], "REG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]"),
    (["delete", "/?"], "REG DELETE KeyName [/v ValueName | /ve | /va] [/f]"),
])
def test_usage(build, args, first_line):
    result = reg(build, *args)
    assert (result.code, result.out.split("\n")[1], result.err) == (0, first_line, ""), result


@pytest.mark.parametrize("writer", ["steward-reg", "wine-reg"])
def test_wine_reg_and_steward_reg_read_each_other(build, key, writer):
    if not build.is_wine:
        pytest.skip("Wine's reg exists only under Wine")
    name, full = key
    writes = [[name, *args] for args, _ in SHARED_TYPES] + [[name + r"\Sub", "/v", "x", "/d", "y"]]
    for args in writes:
        if writer == "steward-reg":
            ok(build, "add", *args)
        else:
            result = run_wine_reg(build, "add", *args, "/f")
            assert result.code == 0, (args, result)

    values = listing(full, *(line for _, line in SHARED_TYPES))
    expected = {
        (): values + full + "\\Sub\n",
        ("/s",): values + full + "\\Sub\n    x    REG_SZ    y\n\n",
        ("/v", "Multi"): listing(full, r"    Multi    REG_MULTI_SZ    one\0two\0three"),
    }
    for options, out in expected.items():
        ours = reg(build, "query", name, *options)
        wines = run_wine_reg(build, "query", name, *options)
        assert (ours.code, ours.out) == (0, out), (options, ours)
        assert (wines.code, wines.out) == (0, out), (options, wines)
