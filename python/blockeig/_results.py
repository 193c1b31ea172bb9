"""Results files (blockeig --results FILE) read back as Python objects."""

import json
import types

from . import _blockeig
from ._summary import run_table

# The format this reader knows, the members that hold doubles (alone or in
# lists) and the words that stand there for the values JSON has no number
# for: from the header the program writes the file with.
_FORMAT = _blockeig.results_schema["format"]
_NUMBER_KEYS = frozenset(_blockeig.results_schema["number_members"])
_WORDS = _blockeig.results_schema["number_words"]
# The members read here, by group as the schema names them (_KEY.end_key.accuracy).
_KEY = types.SimpleNamespace(**{group: types.SimpleNamespace(**names)
                                for group, names in _blockeig.results_schema["keys"].items()})


def _member(section, *keys):
    """section[keys[0]][keys[1]]...; None where a member is missing or a
    section is not an object."""
    for key in keys:
        if not isinstance(section, dict):
            return None
        section = section.get(key)
    return section


class Results(dict):
    """A results file's document: a dict, shown as a short table."""

    def _table(self):
        end = _member(self, _KEY.key.end)
        sweeps = _member(end, _KEY.end_key.sweeps)
        if sweeps is None and isinstance(self.get(_KEY.key.sweeps), list):
            sweeps = len(self[_KEY.key.sweeps])
        return run_table(f"blockeig results ({_member(self, _KEY.key.state) or '-'})",
                         _member(self, _KEY.key.input, _KEY.input_key.N),
                         _member(self, _KEY.key.blocks, _KEY.blocks_key.NBLOCKS), sweeps,
                         _member(end, _KEY.end_key.settled),
                         _member(end, _KEY.end_key.accuracy, _KEY.accuracy_key.difference))

    def __repr__(self):
        return self._table().text()

    def _repr_html_(self):
        return self._table().html()


def _numbers(value):
    if isinstance(value, str):
        return _WORDS.get(value, value)
    if isinstance(value, list):
        return [_numbers(v) for v in value]
    return value


def _restore(value):
    if isinstance(value, dict):
        return {key: _restore(_numbers(v) if key in _NUMBER_KEYS else v) for key, v in value.items()}
    if isinstance(value, list):
        return [_restore(v) for v in value]
    return value


def load_results(path):
    """The document of a results file as dicts, lists and numbers, with
    "NaN", "Infinity" and "-Infinity" as floats where numbers stand (a
    Results, the dict that shows as a short table). Refuses (ValueError) a
    file that is not one, or of a format it does not know."""
    with open(path, encoding="utf-8") as file:
        try:
            document = json.load(file)
        except json.JSONDecodeError as error:
            raise ValueError(f"blockeig: {path} is not a results file: {error}") from None
    if not isinstance(document, dict) or document.get(_KEY.key.format) != _FORMAT:
        found = document.get(_KEY.key.format) if isinstance(document, dict) else None
        raise ValueError(f"blockeig: {path} is not a results file of format {_FORMAT} (format: {found!r})")
    return Results(_restore(document))
