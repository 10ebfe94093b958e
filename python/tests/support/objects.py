"""Objects handed to the module: ones whose reference counts belong to the test alone, and
scalar-map values whose conversion hooks raise."""


def fresh(text):
    """A str equal to text that no other code shares, so that its reference count is ours."""
    return "".join(list(text))


class HookRaises:
    """A scalar-map value whose __index__ and __float__ raise the exception it was given."""

    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc

    def __float__(self):
        raise self.exc

    def __repr__(self):
        return "HookRaises"
