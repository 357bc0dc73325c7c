"""The wheel as a user gets it: installed into a fresh virtual environment
(named by VORNEL_VENV), and used from outside the source tree, with nothing of
the checkout on the import path."""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

if "VORNEL_VENV" not in os.environ:
    pytest.skip("run by tools/test, which installs a wheel into VORNEL_VENV", allow_module_level=True)

VENV = Path(os.environ["VORNEL_VENV"])
ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "customers.json"
ROWS = b'[{"id":1,"plan":"pro"},{"id":2,"plan":"pro"}]'
COLUMNAR = b'{"columns":["id"],"rows":[[1],[2]],"constants":{"plan":"pro"}}\n'


@pytest.fixture
def run(tmp_path):
    """Runs a command in an empty folder, with the user's environment less
    anything that points Python at the checkout."""
    environment = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}

    def run_command(*args, stdin=b"", **extra_environment):
        return subprocess.run(args, input=stdin, capture_output=True, cwd=tmp_path,
                              env=environment | extra_environment, timeout=120)

    return run_command


def test_the_module_imports_from_the_environment(run):
    done = run(VENV / "bin" / "python", "-c",
               "import vornel_codec, sys; print(vornel_codec.__file__); "
               "print(vornel_codec.columnarize(sys.stdin.buffer.read()).decode())", stdin=ROWS)
    assert done.returncode == 0, done.stderr
    location, output = done.stdout.split(b"\n", 1)
    assert Path(location.decode()).is_relative_to(VENV)
    assert output == COLUMNAR


def test_the_wheel_carries_the_stubs_and_the_licence(run):
    done = run(VENV / "bin" / "python", "-c",
               "import importlib.metadata as m; print(*sorted(str(f) for f in m.files('vornel-codec')), sep='\\n')")
    files = done.stdout.decode().split()
    assert "vornel_codec-stubs/__init__.pyi" in files
    assert "vornel_codec_cli.py" in files
    assert any(f.endswith(".dist-info/licenses/LICENSE") for f in files)


@pytest.mark.skipif("VORNEL_WHEEL" not in os.environ, reason="installed from a source distribution, not a wheel")
def test_the_wheel_carries_the_oldest_manylinux_tag_its_symbols_allow():
    """auditwheel reads the symbol versions the module needs from libc, the
    C++ runtime and libgcc_s; the wheel must carry the tag they allow, one no
    newer than the manylinux_2_28 that the README promises."""
    wheel = Path(os.environ["VORNEL_WHEEL"])
    done = subprocess.run([ROOT / "tools" / "auditwheel", "show", wheel], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    allowed = re.search(r'consistent\s+with\s+the\s+following\s+platform\s+tag:\s+"([^"]+)"', done.stdout)
    assert allowed, done.stdout
    assert wheel.name.removesuffix(".whl").split("-")[-1].split(".") == [allowed[1]]
    glibc = re.fullmatch(r"manylinux_(\d+)_(\d+)_(x86_64|aarch64)", allowed[1])
    assert glibc and (int(glibc[1]), int(glibc[2])) <= (2, 28), allowed[1]


COMMANDS = [
    # (id, arguments, standard input, exit status, start of standard output, of standard error)
    ("file", [str(EXAMPLE)], b"", 0, b'{"columns":["id","name","email",', b""),
    ("standard_input", [], ROWS, 0, COLUMNAR, b""),
    ("dash_is_standard_input", ["-"], ROWS, 0, COLUMNAR, b""),
    ("stats", ["--stats"], ROWS, 0, COLUMNAR, b"rows: 2  columns: 1  constants: 1  bytes: 45 -> 62 (137.8% of the input)"),
    ("not_json", [], b"[{]", 1, b"", b"columnarize: "),
    ("not_objects", [], b"[1,2]", 1, b"", b"columnarize: "),
    ("missing_file", ["no-such-file.json"], b"", 1, b"", b"columnarize: [Errno 2] No such file or directory"),
]


@pytest.mark.parametrize("arguments, stdin, status, stdout, stderr", [c[1:] for c in COMMANDS],
                         ids=[c[0] for c in COMMANDS])
def test_the_columnarize_command(run, arguments, stdin, status, stdout, stderr):
    done = run(VENV / "bin" / "columnarize", *arguments, stdin=stdin)
    assert done.returncode == status, done.stderr
    # The document is one line; a message or the statistics, one line too.
    assert done.stdout.startswith(stdout) and done.stdout.count(b"\n") == (status == 0)
    assert done.stderr.startswith(stderr) and done.stderr.count(b"\n") == (stderr != b"")


def test_the_command_stops_quietly_when_its_reader_does(tmp_path):
    # More output than a pipe holds, so the command is still writing when the
    # reader goes away. Shown to fail (a BrokenPipeError traceback) without
    # the command's handling.
    (tmp_path / "rows.json").write_bytes(b"[" + b",".join(b'{"id":%d}' % i for i in range(50_000)) + b"]")
    environment = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    command = subprocess.Popen([VENV / "bin" / "columnarize", "rows.json"], cwd=tmp_path, env=environment,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert command.stdout.read(10) == b'{"columns"'
    command.stdout.close()
    assert command.stderr.read() == b""
    assert command.wait(timeout=60) == 1


TYPED_EXAMPLES = [
    # (id, source, the errors mypy must report, as (line, code))
    ("good", "from vornel_codec import columnarize\n"
             "columnar: bytes = columnarize(b'[]')\n"
             "columnar = columnarize(payload=b'[]', min_rows=True)\n", []),
    ("wrong_calls", "from vornel_codec import columnarize\n"
                    "columnarize('[]')\n"
                    "columnarize(b'[]', min_rows='20')\n"
                    "text: str = columnarize(b'[]')\n", [(2, "arg-type"), (3, "arg-type"), (4, "assignment")]),
]


@pytest.mark.skipif(shutil.which("mypy") is None, reason="mypy is not installed (apt-get install mypy)")
@pytest.mark.parametrize("source, errors", [c[1:] for c in TYPED_EXAMPLES], ids=[c[0] for c in TYPED_EXAMPLES])
def test_mypy_checks_calls_against_the_installed_stubs(run, tmp_path, source, errors):
    (tmp_path / "example.py").write_text(source)
    # mypy asks the environment's interpreter for its search path by running a
    # script from mypy's own folder, whose types.py would shadow the standard
    # library's on 3.14 and later unless that folder stays off sys.path.
    done = run("mypy", "--python-executable", VENV / "bin" / "python", "--no-incremental",
               "--cache-dir", os.devnull, "--show-error-codes", "--no-error-summary", "example.py",
               PYTHONSAFEPATH="1")
    reported = [(int(line.split(":")[1]), line.rsplit("[", 1)[1].rstrip("]"))
                for line in done.stdout.decode().splitlines() if ": error: " in line]
    assert reported == errors, done.stdout.decode()
    assert done.returncode == (1 if errors else 0)
