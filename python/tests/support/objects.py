"""Objects handed to the module whose reference counts belong to the test alone."""


def fresh(text):
    """A str equal to text that no other code shares, so that its reference count is ours."""
    return "".join(list(text))
