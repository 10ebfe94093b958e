"""Scalar maps whose own code calls the module again from inside the call: through an
iterable's __iter__, a mapping's items(), a key's __index__ or a value's __float__.

At level L the map sends the source value 1 to the target value 100 + L, and its code first
makes the call of level L + 1 (until `levels` is reached, or without end when it is None).
The map's method makes the call of the next level through Nesting.nest, so that one level costs
two Python frames and no C function of the interpreter besides those that run the method."""

import weakref

import numpy as np

from _ossrel_rs import cast_array, cast_array_into

from .modes import NE

KINDS = ("iter", "items", "index", "float")
FORMS = ("alloc", "into")
SOURCE = np.arange(4, dtype=np.int32)  # 1 is the mapped value
TARGET = "float64"


def expected(level):
    """What the call of `level` gives for SOURCE."""
    return np.array([0.0, 100.0 + level, 2.0, 3.0])


class Nesting:
    """The maps of one chain of nested calls of `form` ("alloc": cast_array, "into":
    cast_array_into) through the caller's code of `kind`."""

    def __init__(self, kind, form, levels=None, arr=SOURCE):
        self.kind = kind
        self.form = form
        self.levels = levels
        self.arr = arr
        self.deepest = 0   # the deepest level whose code ran
        self.results = {}  # level -> the array that the call of that level gave or filled
        self.innermost = None  # [type, text] of the first exception that a nested call raised
        self.made = []  # a weak reference to every map object made, to see that none is kept
        self.first = self.entries(0)  # the map of level 0

    def call(self):
        """Makes the outer call (level 0); the array it gave or filled."""
        function, args, keywords = self._call_of(self.first)
        result = function(*args, **keywords)
        return result if self.form == "alloc" else args[1]

    def _call_of(self, entries):
        keywords = {"rounding_mode": NE, "scalar_map_entries": entries}
        if self.form == "alloc":
            return cast_array, (self.arr,), dict(keywords, target_dtype=TARGET)
        return cast_array_into, (self.arr, np.zeros(self.arr.shape, TARGET)), keywords

    def nest(self, level):
        """Run by the map's code of `level`: the call of the next level."""
        self.deepest = max(self.deepest, level)
        if self.levels is not None and level >= self.levels:
            return
        function, args, keywords = self._call_of(self.entries(level + 1))
        try:
            result = function(*args, **keywords)
        except BaseException as exc:
            if self.innermost is None:
                cls = type(exc)
                self.innermost = [f"{cls.__module__}.{cls.__qualname__}", str(exc)]
            raise
        self.results[level + 1] = result if self.form == "alloc" else args[1]

    def entries(self, level):
        target = 100.0 + level
        if self.kind == "iter":
            entries = made = NestingIterable(self, level, target)
        elif self.kind == "items":
            entries = made = NestingItems(self, level, target)
        elif self.kind == "index":
            made = NestingKey(self, level)
            entries = {made: target}
        else:
            made = NestingValue(self, level, target)
            entries = {1: made}
        self.made.append(weakref.ref(made))
        return entries

    def shown(self):
        """The object of level 0 whose repr() a value error of the outer call shows."""
        if self.kind == "index":
            return next(iter(self.first))
        if self.kind == "float":
            return self.first[1]
        return self.first


class NestingIterable:
    def __init__(self, chain, level, target):
        self.chain, self.level, self.target = chain, level, target

    def __iter__(self):
        self.chain.nest(self.level)
        return iter([(1, self.target)])


class NestingItems(dict):
    def __init__(self, chain, level, target):
        super().__init__()
        self.chain, self.level, self.target = chain, level, target

    def items(self):
        self.chain.nest(self.level)
        return [(1, self.target)]


class NestingKey:
    def __init__(self, chain, level):
        self.chain, self.level = chain, level

    def __index__(self):
        self.chain.nest(self.level)
        return 1


class NestingValue:
    def __init__(self, chain, level, target):
        self.chain, self.level, self.target = chain, level, target

    def __float__(self):
        self.chain.nest(self.level)
        return self.target
