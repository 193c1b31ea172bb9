#include "tools/scrtool_help.hpp"

#include "tools/matrix.hpp"

namespace scrtool {

namespace {

// The orders blockeig reads: from the smallest it takes to the largest whose
// matrix fits one record.
const std::string lowest_order = std::to_string(min_order);
const std::string highest_order = std::to_string(max_order);

}  // namespace

const std::string main_help = R"HELP(Usage: scrtool COMMAND ARGUMENTS...

Make, convert and check A.SCR, the matrix file that blockeig reads, plot
how blockeig's sweeps went, and run it with several block counts side by
side.

Commands:
  import IN [-o A.SCR] [--big-endian] [--symmetrize lower|upper|average]
         [--format mtx|npy|txt]
        convert a Matrix Market, NumPy .npy or plain text matrix to A.SCR
  export A.SCR [-o FILE]
        convert A.SCR to Matrix Market (.mtx), .npy or text (.txt)
  info A.SCR
        describe A.SCR and tell whether blockeig accepts it
  gen KIND N [--seed S] [-o A.SCR] [--eigenvalues FILE]
        write a test matrix (random, tridiag, clement, wilkinson, hilbert,
        ones, diagonal, clustered)
  plot TRANSCRIPT|RESULTS... [-o sweeps.svg]
        draw E(1) and DELTA per sweep from a saved blockeig transcript or
        results file (and, from a results file, both spectra by rank);
        from several results files, |E(1) - lambda_1| per sweep of each
  compare RESULTS... [-o FILE.csv]
        the direct and the final block eigenvalues side by side; for
        several results files, one row per run
  study [--blocks 1,2,4,8] [--tol X,...] [--max-sweeps K,...]
        [-o study.svg] [--program FILE] [FILE]
        run blockeig once per block count (or, with one block count, per
        TOL or sweep limit) on A.SCR or any matrix file, and show the runs
        side by side

'scrtool COMMAND --help' explains one command.

Options:
  -h, --help     show this help and exit
  -V, --version  show the version and exit

A.SCR holds two unformatted sequential records: the order N as a 4-byte
integer, then the N*N doubles column by column; each record is framed by its
length in 4 bytes before and after it. blockeig reads orders )HELP" + lowest_order + " to " + highest_order + R"HELP(.

Exit status: 0 on success; 1 when 'info' finds a file blockeig does not
accept; 2 for a usage error or an input that cannot be read or converted,
in which case no output file is created or changed.
)HELP";

const std::string import_help = R"HELP(Usage: scrtool import IN [-o A.SCR] [--big-endian]
                      [--symmetrize lower|upper|average] [--format mtx|npy|txt]

Convert the square matrix in IN to the record file blockeig reads.

IN may be
  Matrix Market   "%%MatrixMarket matrix array|coordinate real|integer|pattern
                  general|symmetric|skew-symmetric" (extension .mtx or .mm,
                  or that first line); a symmetric file gives the lower
                  triangle, an upper-triangle entry stands for its mirror;
                  a pattern file (coordinate only) has every stored entry
                  1.0, with a warning. Named a Matrix Market file (--format
                  mtx or the extension), a file without that first line is
                  read as "real general", with a warning, when its first
                  line is the size line ("rows columns entries" or "rows
                  columns"); such a coordinate file whose off-diagonal
                  entries all lie on one side of the diagonal is one
                  triangle of a symmetric matrix, and is mirrored, with a
                  warning
  NumPy .npy      a two-dimensional square array of float64, float32, int32
                  or int64, little- or big-endian, C or Fortran order
  plain text      one row per line, numbers separated by blanks or tabs,
                  optionally preceded by a line holding the order alone;
                  "#" starts a comment, blank lines are skipped

Options:
  -o, --output FILE   the file to write (default A.SCR); replaced only once
                      the whole matrix has been read and written
  --format FORMAT     read IN as mtx (Matrix Market), npy or txt (plain
                      text) whatever its name; by default the extension
                      tells, else the content
  --big-endian        write markers and numbers big-endian, for a blockeig
                      run with BLOCKEIG_CONVERT=big_endian
  --symmetrize RULE   make the matrix symmetric: copy the lower triangle
                      over the upper one (lower), the upper over the lower
                      (upper), or put the average of A(i,j) and A(j,i),
                      rounded once, in both (average)
  -h, --help          show this help

A matrix that is not symmetric is written as it is, with a warning on
standard error that names the largest |A(i,j) - A(j,i)| and its place:
blockeig's direct solve reads only the lower triangle and the diagonal,
its block sweeps read all of A, so the two would work on different
matrices.

A malformed or non-square input, or an order outside )HELP" + lowest_order + ".." + highest_order + R"HELP(, is reported
with its line and column (byte offset for .npy) and exit status 2; the
output file is then neither created nor changed.
)HELP";

const std::string_view export_help = R"HELP(Usage: scrtool export A.SCR [-o FILE]

Convert an A.SCR (either byte order) to another format, chosen by the
extension of FILE:
  .mtx, .mm   Matrix Market "array real", "symmetric" with the lower
              triangle when the matrix equals its transpose bit for bit,
              "general" otherwise
  .npy        NumPy float64, little-endian, C order
  .txt        one row per line
Without -o the text form goes to standard output. Every number is written
in the shortest decimal form that reads back as the same double, so import
after export gives the same A.SCR byte for byte.

Options:
  -o, --output FILE   the file to write; replaced only once complete
  -h, --help          show this help

A file blockeig would not accept is refused with the reason and exit
status 2; 'scrtool info' tells more.
)HELP";

const std::string_view info_help = R"HELP(Usage: scrtool info A.SCR

Describe an A.SCR: its size, byte order, the data bytes of records 1 and
2, the order N, the largest |A(i,j) - A(j,i)| and where it is, the
Frobenius norm and the number of non-finite elements, and whether blockeig
accepts it. When it does not, info names the statement line and the
run-time message blockeig will stop with ("End of file", "Corrupt record in
unformatted sequential-access file", "Reading more data than the record
size (RECL)", "Memory allocation failed", the message for an order below
2). A matrix that is not symmetric is accepted, and info says what each of
blockeig's phases then uses. Notes list what else blockeig passes over in
silence: extra bytes in a record, unequal length markers, records after the
matrix, non-finite elements.

Options:
  -h, --help   show this help

Exit status: 0 when blockeig accepts the file as it is, 1 when it does not,
2 when the file cannot be opened.
)HELP";

const std::string gen_help = R"HELP(Usage: scrtool gen KIND N [--seed S] [-o A.SCR] [--eigenvalues FILE]

Write a test matrix of order N ()HELP" + lowest_order + " to " + highest_order + R"HELP().

Kinds:
  random      symmetric, elements uniform in [-1, 1) from the seed
  tridiag     the 1-2-1 matrix: 2 on the diagonal, -1 beside it;
              eigenvalues 2 - 2cos(k*pi/(N+1)), k = 1..N
  clement     Clement's matrix: zero diagonal, sqrt(k(N-k)) beside it;
              eigenvalues -(N-1), -(N-3), ..., N-3, N-1
  wilkinson   Wilkinson's W+: |(N+1)/2 - i| on the diagonal, 1 beside it
  hilbert     the Hilbert matrix 1/(i+j-1)
  ones        every element 1; eigenvalues 0 (N-1 times) and N
  diagonal    diag(1, 2, ..., N); eigenvalues 1..N
  clustered   Q*D*Q^T with Q orthogonal from the seed and D in clusters of
              four eigenvalues 1e-8 apart around 1, 2, 3, ...; its
              eigenvalues are those of D up to rounding in forming the
              product

Options:
  --seed S              seed of the random and clustered kinds (default 1)
  -o, --output FILE     the file to write (default A.SCR)
  --eigenvalues FILE    also write the eigenvalues, ascending, one per line,
                        in the shortest decimal form of the nearest double;
                        refused for kinds without a known spectrum
  -h, --help            show this help
)HELP";

const std::string_view plot_help = R"HELP(Usage: scrtool plot TRANSCRIPT|RESULTS [-o sweeps.svg]
       scrtool plot RESULTS RESULTS... [-o sweeps.svg]

Draw a saved blockeig console transcript (its standard output, for example
from 'blockeig > run.txt' or 'blockeig | tee run.txt') as one self-contained
SVG picture: E(1) after each sweep against the E(1) of the direct solve's
summary line, and DELTA per sweep on a log scale against the TOL line.
The first sweep's DELTA, measured against the start value 1.0e12 rather
than an earlier E(1), is left out. An E(1) far outside the range of the
run's second half and the direct E(1) is drawn as a triangle on the edge,
with a note, so that the rest of the curve keeps a readable scale. Lines
the transcript holds besides blockeig's are skipped.

A results file ('blockeig --results run.json', a JSON document) is drawn
from its full-precision values instead, without the first sweep's DELTA
(measured from the starting value 1.0e12, not from a sweep), and with a
second figure below: the final block eigenvalues, sorted, against the direct
ones of the same rank (on a log scale of |eigenvalue| when they are all of
one sign and span more than two decades, so that a miss at the low end
shows), and their differences on a log scale. A run that is still going, or
that failed, is drawn as of its last finished sweep.

The heading says how the run ended in two parts, since one does not imply
the other. First how far E(1) ended from the lowest direct eigenvalue
lambda_1, relative to |lambda_1|, and the direct eigenvalue it is nearest
("E(1) ended 12.3 |lambda_1| above lambda_1, nearest lambda_4"); then
whether it settled: DELTA <= TOL ended the sweeps, E(1) stopped moving (or
not settled: they stopped at their limit without it); then E(1) - lambda_1
and the same relative to ||A||_2 (the largest |direct eigenvalue|, the
2-norm of the symmetric matrix), which reads small whenever ||A||_2 is large
against |lambda_1|. A transcript gives E(1) and the direct E(1) to three
digits only, and the heading says what they show at that.

Several results files (of runs with different block counts, say) are
drawn as one figure: |E(1) - lambda_1| after each sweep on a log scale,
one curve per file, each against its own lambda_1, with a legend line per
run saying how it ended; 'scrtool study' makes such runs.

Options:
  -o, --output FILE   the picture to write (default sweeps.svg)
  -h, --help          show this help

A transcript with no sweep line, a sweep or summary line whose fields do not
read, or sweeps that are not numbered 1, 2, 3, ... is reported with its line
number and exit status 2; so is a results file that is not JSON, has a
format other than 1 or has no finished sweep, and a transcript among
several files.
)HELP";

const std::string_view compare_help = R"HELP(Usage: scrtool compare RESULTS [-o FILE.csv]
       scrtool compare RESULTS RESULTS... [-o FILE.csv]

Print the direct eigenvalues and the final eigenvalues of the block phase
from a blockeig results file ('blockeig --results run.json') side by side,
paired by rank: row k holds the k-th direct eigenvalue (line k of
C.SCR.TXT), the k-th smallest final E, the position in E where it stands,
and their difference block - direct (the exact difference, rounded once).
Every number is the shortest decimal that reads back as the same double.
A run that is still going, or that failed, is compared as of its last
finished sweep. The heading leads with how far E(1) ended from the lowest
direct eigenvalue lambda_1 relative to |lambda_1|, the direct eigenvalue it
is nearest, and whether the sweeps settled (DELTA <= TOL ended them); its
second line gives E(1) - lambda_1 over |lambda_1|, over the gap lambda_2 -
lambda_1 and over ||A||_2 (the largest |direct eigenvalue|), with lambda_1,
the gap and ||A||_2. Settled is not accurate: E(1) may stop moving far from
lambda_1.

Several results files give one row per run instead: NBLOCKS (then TOL and
max_sweeps when a run had a rule other than the program's), sweeps, settled
('yes', 'no', or the state of a run that has not ended), E(1) - lambda_1
over |lambda_1|, the nearest rank, over the gap, as it is, over ||A||_2, the
seconds of the block phase (its sweeps' times added up) and the file.

Options:
  -o, --output FILE   write to FILE instead of standard output: CSV
                      ("rank,position,direct,block,difference"; for several
                      files "file,NBLOCKS,sweeps,state,settled,E(1),
                      lambda_1,difference,norm_2,relative,nearest_rank,
                      seconds,relative_lambda_1,gap,relative_gap,TOL,
                      max_sweeps") when FILE ends in .csv, the table
                      otherwise
  -h, --help          show this help

A file that is not a results file, or has no finished sweep yet, is
reported with exit status 2.
)HELP";

const std::string_view study_help = R"HELP(Usage: scrtool study [--blocks 1,2,4,8] [--tol X,...] [--max-sweeps K,...]
                     [-o study.svg] [--program FILE] [FILE]

Run blockeig on one matrix (A.SCR in the working directory, or the file
named) once per block count, and show the runs side by side: how fast, and
how close to the lowest direct eigenvalue lambda_1, the block scheme gets
with each number of blocks. With one block count, a study can vary the
tolerance (--tol 1e-6,1e-9,1e-12) or the sweep limit (--max-sweeps) instead:
one run, one curve and one row per value.

FILE may be an A.SCR (its name ends in .scr, or it starts with record 1) or
any matrix file scrtool import reads (Matrix Market, .npy, a text table),
which is imported as import would, with the same warnings, into an A.SCR of
a scratch folder beside the figure, removed at the end.

Every run has a scratch folder of its own beside the figure, where the
matrix appears as A.SCR (a hard link, else a symbolic link, a copy only
where neither can be made) and blockeig runs with the block count on its
standard input and a results file; its console output is not kept (the
results file holds every number of it at full precision). A line on
standard error tells when a run starts and how it ended. Each run's results
file is kept beside the figure as STEM-NBLOCKS.json (study-1.json,
study-2.json, ... for study.svg; study-4-tol1e-9.json when TOL varies,
study-4-sweeps50.json when the sweep limit does), and the scratch folder
goes. The runs take the BLOCKEIG_ settings of the environment (threads,
byte order, progress line) but no results file or checkpoint besides their
own. A kept results file names the file the study was given, absolute, as
its input path; its matrix_sha256 identifies the matrix.

Then the figure, titled with the file's name: |E(1) - lambda_1| after each
sweep, one curve per run, on a log scale, as 'scrtool plot' draws several
results files; and on standard output the table 'scrtool compare' prints
for them, under a heading that names the file: NBLOCKS, sweeps, settled,
E(1) - lambda_1 over |lambda_1|, the nearest rank, over the gap, as it is,
over ||A||_2, seconds.

A run that fails, or SIGINT (Ctrl-C), SIGTERM or SIGHUP, stops the study:
the runs finished are kept, and so is what the stopped run's results file
holds; the figure and the table show them; the scratch folder is removed.
A signal sent to scrtool alone is passed on to the run.

Options:
  --blocks LIST       the block counts, separated by commas, each from 1 to
                      N/2 (default 1,2,4,8, leaving out those above N/2)
  --tol LIST          blockeig --tol for every run: positive numbers,
                      separated by commas; several need one block count
  --max-sweeps LIST   blockeig --max-sweeps for every run: 1 to 99999,
                      separated by commas; several need one block count
  -o, --output FILE   the figure (default study.svg); the results files go
                      beside it
  --program FILE      the blockeig to run. Without it: the environment
                      variable BLOCKEIG, else the blockeig beside scrtool's
                      own executable, else the first blockeig on PATH. A
                      name without a slash is looked up on PATH.
  -h, --help          show this help

Exit status: 0 when every run ended normally; 2 for a usage error, a matrix
file that cannot be opened, or a run that failed. After a signal, scrtool
ends by that signal once the runs finished are written.
)HELP";

}  // namespace scrtool
