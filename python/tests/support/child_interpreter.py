"""Running a piece of test code in a fresh interpreter that imports the installed module.

The child finds the module where this process found it, and the tests' directory on its path,
so that its code imports the shared helpers as `support.…`."""

import json
import os
import subprocess
import sys

import _ossrel_rs

TESTS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_child(code, *args, timeout=300):
    """Runs code with args in a new interpreter; returns (the JSON it printed last, its
    standard error). A child that does not end normally (a crash included) fails the test."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        p for p in (os.path.dirname(_ossrel_rs.__file__), TESTS_DIR, env.get("PYTHONPATH")) if p)
    run = subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True, env=env,
                         timeout=timeout)
    assert run.returncode == 0, f"child ended with {run.returncode}: {run.stderr[-3000:]}"
    return json.loads(run.stdout.splitlines()[-1]), run.stderr
