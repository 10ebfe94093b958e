"""The README's examples run as they stand and show what the module gives.

Every ```python block of README.md runs, in order, as one session in a fresh interpreter (its
process pool forks from a plain interpreter, not from the test runner); each result the README
shows is compared whole with the repr of the expression above it, or with the exception that
expression raises (support/readme.py states the format). The process-pool example runs once more
with its workers started by "spawn"."""

import dataclasses
import json
from pathlib import Path

import pytest

from support.child_interpreter import run_child
from support.readme import Step, block_steps, fenced_blocks, readme_steps, run_steps

README = Path(__file__).resolve().parents[2] / "README.md"
TEXT = README.read_text(encoding="utf-8")
STEPS = readme_steps(TEXT)

# The session runs in the child's __main__, so that a process pool can find the functions the
# examples define.
SESSION = (
    "import json, sys\n"
    "from support.readme import readme_steps, run_steps\n"
    "steps = readme_steps(open(sys.argv[1], encoding='utf-8').read())\n"
    "print(json.dumps(run_steps(steps, vars(sys.modules['__main__']))))\n"
)


@pytest.fixture(scope="module")
def session():
    records, _ = run_child(SESSION, str(README))
    assert [record["line"] for record in records] == [step.line for step in STEPS]
    return records


@pytest.mark.parametrize("index", range(len(STEPS)), ids=[f"README.md:{step.line}" for step in STEPS])
def test_readme_example_shows_what_it_gives(session, index):
    record = session[index]
    assert record["error"] is None, record["error"]
    assert record["result"] == STEPS[index].shown


def section_of_line(line):
    """The title of the "## " section that holds README line `line`."""
    title = None
    for number, text in enumerate(TEXT.splitlines(), start=1):
        if number > line:
            break
        if text.startswith("## "):
            title = text[3:]
    return title


@pytest.mark.parametrize("section", [None, "Rules", "Using it with other arrays"],
                         ids=["introduction", "rules", "other arrays"])
def test_readme_section_has_checked_examples(section):
    # None: the introduction, before the first section.
    shown = [step for step in STEPS if step.shown is not None and section_of_line(step.line) == section]
    assert len(shown) >= 2


def test_readme_every_block_has_a_known_label():
    # A block the session does not run would be an example nobody checks: every block is labelled,
    # and only a block labelled python holds Python.
    names = {info for info, _, _ in fenced_blocks(TEXT)}
    assert names <= {"python", "text", "sh"}, names


# Under "spawn" the workers of the process-pool example import its worker function instead of
# inheriting it: the block that defines it becomes a module of its own, and the block after it runs
# in a child whose pool spawns its workers, with what it shows compared as in the session.
SPAWNED = (
    "import json, multiprocessing, sys\n"
    "from support.readme import Step, run_steps\n"
    "multiprocessing.set_start_method('spawn')\n"
    "sys.path.insert(0, sys.argv[1])\n"
    "import readme_worker\n"
    "steps = [Step(**step) for step in json.loads(sys.argv[2])]\n"
    "print(json.dumps(run_steps(steps, dict(vars(readme_worker)))))\n"
)


def test_readme_process_pool_example_runs_under_spawn(tmp_path):
    blocks = [block_steps(first, lines) for info, first, lines in fenced_blocks(TEXT) if info == "python"]
    [index] = [i for i, steps in enumerate(blocks) if any("def convert_rows(" in s.code for s in steps)]
    [worker], driver = blocks[index], blocks[index + 1]
    assert worker.shown is None
    (tmp_path / "readme_worker.py").write_text(worker.code + "\n", encoding="utf-8")
    records, _ = run_child(SPAWNED, str(tmp_path), json.dumps([dataclasses.asdict(step) for step in driver]))
    assert [(record["error"], record["result"]) for record in records] == [(None, step.shown) for step in driver]


# The format of the examples: (block lines, steps as (shown line, code line, code, shown)).
FORMAT_CASES = [
    (["x = 1", "x + 1", "# 2"], [(12, 10, "x = 1\nx + 1", "2")]),
    (["f(1,", "  2)", "# [[1],", "#  [2]]", "", "g()", "# E: m"],
     [(12, 10, "f(1,\n  2)", "[[1],\n [2]]"), (16, 15, "g()", "E: m")]),
    (["a  # an ordinary comment", "# a", "b = a", "if b:", "    # indented: code", "    c = 1"],
     [(11, 10, "a  # an ordinary comment", "a"), (12, 12, "b = a\nif b:\n    # indented: code\n    c = 1", None)]),
    (["a", "#", "# b"], [(11, 10, "a", "\nb")]),
]


@pytest.mark.parametrize("lines, expected", FORMAT_CASES)
def test_example_format_splits_code_and_shown_results(lines, expected):
    assert block_steps(10, lines) == [Step(*case) for case in expected]


@pytest.mark.parametrize("text, message", [
    ("```python\n# 1\n```\n", "README line 2: a shown result with no code before it"),
    ("```python\nx\n#1\n```\n", "README line 3: a shown result starts with '# '"),
    ("```python\nx\n", "README line 1: code block is never closed"),
    ("- item\n  ```python\n x\n  ```\n", "README line 3: less indented than its code block's fence"),
])
def test_example_format_refuses_malformed_blocks(text, message):
    with pytest.raises(ValueError) as info:
        readme_steps(text)
    assert str(info.value) == message


def test_example_format_indented_block_loses_its_fence_indent():
    assert readme_steps("- item\n\n  ```python\n  1 + 1\n  # 2\n  ```\n") == [Step(5, 4, "1 + 1", "2")]


def test_session_records_value_exception_and_failure():
    steps = readme_steps(
        "```python\n"
        "x = [1, 2]\n"
        "x\n"
        "# [1, 2]\n"
        "int('z')\n"
        "# ValueError: invalid literal for int() with base 10: 'z'\n"
        "y = undefined_name\n"
        "y\n"
        "# 3\n"
        "z = 1\n"
        "x.append(3)\n"
        "```\n")
    records = run_steps(steps, {})
    assert [(r["line"], r["result"]) for r in records] == [
        (4, "[1, 2]"), (6, "ValueError: invalid literal for int() with base 10: 'z'"), (9, None), (10, None)]
    assert [r["error"] is None for r in records] == [True, True, False, True]
    # A failing statement is reported with its README line.
    assert 'File "README.md", line 7' in records[2]["error"]
    assert "NameError: name 'undefined_name' is not defined" in records[2]["error"]


def test_shown_result_must_follow_an_expression():
    steps = readme_steps("```python\nx = 1\n# 1\n```\n")
    [record] = run_steps(steps, {})
    assert "README line 3: a shown result must follow an expression" in record["error"]
