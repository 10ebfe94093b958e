"""The README's Python examples as steps that can be run and compared with what it shows.

Format of an example: a code block fenced with ```python. The blocks run in the order they
appear, as one session. A comment line that starts in the first column is a shown result: it
belongs to the code since the previous result (or the start of the block), whose last statement
must be an expression, and it shows the repr of that expression's value or, when evaluating it
raises, the exception as "TypeName: message". Such a line is "# " followed by the text (or "#"
alone for an empty line); consecutive result lines are one result, joined by line breaks
(multi-line reprs). Code after the last result of a block runs without a shown result. Comments
at the end of a code line, or indented, are ordinary comments."""

import ast
import re
import traceback
from dataclasses import dataclass

FENCE = re.compile(r"^( *)```\s*(\S*)\s*$")


@dataclass(frozen=True)
class Step:
    """Code from the README and the result it shows (None: run without a shown result)."""

    line: int  # README line of the shown result, or of the code's first line when none
    code_line: int  # README line of the code's first line
    code: str
    shown: str | None


def result_text(number, line):
    """The text of a result line ("# text", or "#" alone for an empty line of a result)."""
    if line == "#":
        return ""
    if not line.startswith("# "):
        raise ValueError(f"README line {number}: a shown result starts with '# '")
    return line[2:]


def fenced_blocks(text):
    """(info string, first line number, lines) of every fenced block of a Markdown text; the
    lines of a block indented under a list item lose the indentation of its fence."""
    blocks, open_block, indent = [], None, ""
    for number, line in enumerate(text.splitlines(), start=1):
        fence = FENCE.match(line)
        if open_block is None:
            if fence:
                indent = fence.group(1)
                open_block = (fence.group(2), number + 1, [])
        elif fence and not fence.group(2):
            blocks.append(open_block)
            open_block = None
        else:
            if line.strip() and not line.startswith(indent):
                raise ValueError(f"README line {number}: less indented than its code block's fence")
            open_block[2].append(line[len(indent):])
    if open_block is not None:
        raise ValueError(f"README line {open_block[1] - 1}: code block is never closed")
    return blocks


def block_steps(first_line, lines):
    """The steps of one Python block."""
    steps, code, code_start, shown, shown_line = [], [], None, [], None

    def close_result():
        nonlocal code, code_start, shown, shown_line
        if not code:
            raise ValueError(f"README line {shown_line}: a shown result with no code before it")
        steps.append(Step(shown_line, code_start, "\n".join(code), "\n".join(shown)))
        code, code_start, shown, shown_line = [], None, [], None

    for number, line in enumerate(lines, start=first_line):
        if line.startswith("#"):
            if shown_line is None:
                shown_line = number
            shown.append(result_text(number, line))
            continue
        if shown:
            close_result()
        if code_start is None and line.strip():
            code_start = number
        if code or line.strip():
            code.append(line)
    if shown:
        close_result()
    if any(line.strip() for line in code):
        steps.append(Step(code_start, code_start, "\n".join(code), None))
    return steps


def readme_steps(text):
    """Every step of every ```python block of the README text, in order."""
    steps = []
    for info, first_line, lines in fenced_blocks(text):
        if info == "python":
            steps.extend(block_steps(first_line, lines))
    return steps


def split_step(step):
    """(statements to execute, final expression to evaluate or None) of a step, compiled."""
    # Line numbers in tracebacks are the README's own.
    tree = ast.increment_lineno(ast.parse(step.code, filename="README.md"), step.code_line - 1)
    body, last = tree.body, None
    if step.shown is not None:
        if not body or not isinstance(body[-1], ast.Expr):
            raise ValueError(f"README line {step.line}: a shown result must follow an expression")
        last = compile(ast.Expression(body[-1].value), "README.md", "eval")
        body = body[:-1]
    return compile(ast.Module(body, type_ignores=[]), "README.md", "exec"), last


def run_steps(steps, namespace):
    """Runs the steps in order in namespace; per step a record with what it printed as its
    result ("result": the repr or the exception line) or the traceback of a failure ("error")."""
    records = []
    for step in steps:
        record = {"line": step.line, "result": None, "error": None}
        try:
            body, last = split_step(step)
            exec(body, namespace)
        except BaseException:
            record["error"] = traceback.format_exc()
            records.append(record)
            continue
        if last is not None:
            try:
                record["result"] = repr(eval(last, namespace))
            except Exception as exc:
                record["result"] = f"{type(exc).__name__}: {exc}"
        records.append(record)
    return records
