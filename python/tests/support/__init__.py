"""What the module's tests share: reference models of the conversions (int_model, float_model,
number_text), the mode texts (modes), checks of raised exceptions (expect), arrays and their
stored contents (arrays, overlap), the two call paths (paths), objects whose reference counts
are the tests' own (objects), NumPy version differences (np_compat), the shared borrow
registry (borrow_registry), a fresh interpreter to run code in (child_interpreter) and the
README's examples as runnable steps (readme). conftest.py registers the package for pytest's
assert rewriting."""
