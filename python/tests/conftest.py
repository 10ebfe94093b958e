import sys

import pytest

pytest.register_assert_rewrite("support")

from support.borrow_registry import open_registry  # noqa: E402


@pytest.fixture(scope="session")
def registry():
    return open_registry()


@pytest.fixture
def unraisable(monkeypatch):
    """The unraisable exceptions reported during the test, instead of printed."""
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    return seen
