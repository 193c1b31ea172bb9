"""The short table that a block-sweeps run and a results file show in a
notebook (_repr_html_) and at the prompt (__repr__): N, the blocks, the
sweeps, whether they settled and how far E(1) ended from lambda_1, first
relative to |lambda_1| with the rank of the nearest direct eigenvalue (the
figures that cannot be misread), then as it is."""

import html
import types

from . import _blockeig

_COLUMNS = ("N", "blocks", "sweeps", "settled", "/ |lambda_1|", "nearest", "E(1) - lambda_1")
_HTML_COLUMNS = ("N", "blocks", "sweeps", "settled", "(E(1) − λ₁) / |λ₁|", "nearest λ", "E(1) − λ₁")


def _cell(value):
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, float):
        return f"{value:.6g}"
    return str(value)


class RunTable:
    """One run as a titled table of one row."""

    def __init__(self, title, cells):
        self.title = title
        self.cells = [_cell(value) for value in cells]

    def text(self):
        widths = [max(len(name), len(cell)) for name, cell in zip(_COLUMNS, self.cells)]
        head = "  ".join(name.rjust(width) for name, width in zip(_COLUMNS, widths))
        row = "  ".join(cell.rjust(width) for cell, width in zip(self.cells, widths))
        return f"{self.title}\n{head}\n{row}"

    def html(self):
        head = "".join(f"<th>{html.escape(name)}</th>" for name in _HTML_COLUMNS)
        row = "".join(f"<td>{html.escape(cell)}</td>" for cell in self.cells)
        return (f"<table><caption>{html.escape(self.title)}</caption>"
                f"<thead><tr>{head}</tr></thead><tbody><tr>{row}</tr></tbody></table>")


def run_table(title, N, blocks, sweeps, settled, relative_lambda_1, nearest_rank, difference):
    """The table of one run; a value not known (None) shows as "-"."""
    return RunTable(title, (N, blocks, sweeps, settled, relative_lambda_1, nearest_rank, difference))


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
        accuracy = _member(end, _KEY.end_key.accuracy)
        return run_table(f"blockeig results ({_member(self, _KEY.key.state) or '-'})",
                         _member(self, _KEY.key.input, _KEY.input_key.N),
                         _member(self, _KEY.key.blocks, _KEY.blocks_key.NBLOCKS), sweeps,
                         _member(end, _KEY.end_key.settled),
                         _member(accuracy, _KEY.accuracy_key.relative_lambda_1),
                         _member(accuracy, _KEY.accuracy_key.nearest_rank),
                         _member(accuracy, _KEY.accuracy_key.difference))

    def __repr__(self):
        return self._table().text()

    def _repr_html_(self):
        return self._table().html()
