import pytest

pytest.register_assert_rewrite("expect", "borrow_registry")

from borrow_registry import open_registry  # noqa: E402


@pytest.fixture(scope="session")
def registry():
    return open_registry()
