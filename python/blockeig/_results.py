"""Results files (blockeig --results FILE) read back as Python objects."""

import json

from . import _blockeig
from ._summary import Results

# The format this reader knows, the members that hold doubles (alone or in
# lists) and the words that stand there for the values JSON has no number
# for: from the header the program writes the file with.
_FORMAT = _blockeig.results_schema["format"]
_NUMBER_KEYS = frozenset(_blockeig.results_schema["number_members"])
_WORDS = _blockeig.results_schema["number_words"]


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
    if not isinstance(document, dict) or document.get("format") != _FORMAT:
        found = document.get("format") if isinstance(document, dict) else None
        raise ValueError(f"blockeig: {path} is not a results file of format {_FORMAT} (format: {found!r})")
    return Results(_restore(document))
