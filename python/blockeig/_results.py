"""Results files (blockeig --results FILE) read back as Python objects."""

import json
import math

# The format this reader knows.
_FORMAT = 1

# The keys under which the results file holds doubles, alone or in lists
# (records/results_file.cpp writes them); there the words below stand for
# the values JSON has no number for.
_NUMBER_KEYS = {"seconds", "results_seconds", "eigenvalues", "W", "E(1)", "E(2)", "E(N-1)", "E(N)", "DELTA",
                "TOL", "E", "direct", "block"}
_WORDS = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}


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
    "NaN", "Infinity" and "-Infinity" as floats where numbers stand. Refuses
    (ValueError) a file that is not one, or of a format it does not know."""
    with open(path, encoding="utf-8") as file:
        try:
            document = json.load(file)
        except json.JSONDecodeError as error:
            raise ValueError(f"blockeig: {path} is not a results file: {error}") from None
    if not isinstance(document, dict) or document.get("format") != _FORMAT:
        found = document.get("format") if isinstance(document, dict) else None
        raise ValueError(f"blockeig: {path} is not a results file of format {_FORMAT} (format: {found!r})")
    return _restore(document)
