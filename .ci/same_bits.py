"""CI: fails unless the blockeig module this interpreter imports lies below
PLACE and gives, for examples/A.SCR, the program's direct eigenvalues bit for
bit (from a results file the program wrote) and those of every listed
consumer's output (one shortest decimal a line).

    python same_bits.py PLACE RESULTS.json [CONSUMER_OUTPUT ...]
"""
import json
import sys

import numpy as np

import blockeig

place, results, *consumers = sys.argv[1:]
if not blockeig.__file__.startswith(place):
    sys.exit(f"CI: blockeig was imported from {blockeig.__file__}, not from below {place}")
values = blockeig.eigvalsh(blockeig.read_scr("examples/A.SCR"))
with open(results, encoding="utf-8") as file:
    expected = {"the program": np.array(json.load(file)["direct"]["eigenvalues"], dtype=np.float64)}
for consumer in consumers:
    with open(consumer, encoding="utf-8") as file:
        expected[consumer] = np.array([float(line) for line in file], dtype=np.float64)
for source, want in expected.items():
    if want.shape != values.shape or not np.array_equal(values.view(np.uint64), want.view(np.uint64)):
        sys.exit(f"CI: {blockeig.__file__} and {source} give different eigenvalues")
print(f"CI: {blockeig.__file__}: {values.size} eigenvalues, the bits of {', '.join(expected)}")
