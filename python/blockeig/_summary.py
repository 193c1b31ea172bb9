"""The short table that a block-sweeps run and a results file show in a
notebook (_repr_html_) and at the prompt (__repr__): N, the blocks, the
sweeps, whether they settled and how far E(1) ended from lambda_1."""

import html

_COLUMNS = ("N", "blocks", "sweeps", "settled", "E(1) - lambda_1")


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
        head = "".join(f"<th>{html.escape(name)}</th>" for name in ("N", "blocks", "sweeps", "settled", "E(1) − λ₁"))
        row = "".join(f"<td>{html.escape(cell)}</td>" for cell in self.cells)
        return (f"<table><caption>{html.escape(self.title)}</caption>"
                f"<thead><tr>{head}</tr></thead><tbody><tr>{row}</tr></tbody></table>")


def run_table(title, N, blocks, sweeps, settled, difference):
    """The table of one run; a value not known (None) shows as "-"."""
    return RunTable(title, (N, blocks, sweeps, settled, difference))
