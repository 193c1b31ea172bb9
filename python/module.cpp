// blockeig._blockeig: the library's calls for Python. Arrays arrive as
// float64 numpy arrays of any strides (blockeig/__init__.py checks and
// converts what callers give) and are read where they lie. The GIL is let
// go while the library computes; after every sweep the observer takes it
// back to hand the sweep to the callback and to let a pending Ctrl-C end
// the call.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "records/e1_accuracy.hpp"
#include "runtime/results_schema.hpp"
#include "runtime/run_constants.hpp"

namespace py = pybind11;

namespace {

// The matrix of a 2-D float64 array whose strides are whole elements.
blockeig::MatrixRef matrix_of(const py::array& a) {
  if (!a.dtype().is(py::dtype::of<double>()) || a.ndim() != 2 || a.shape(0) != a.shape(1) ||
      a.strides(0) % static_cast<py::ssize_t>(sizeof(double)) != 0 ||
      a.strides(1) % static_cast<py::ssize_t>(sizeof(double)) != 0)
    throw py::value_error("blockeig: internal: the matrix is not a square float64 array of whole-element strides");
  return {static_cast<const double*>(a.data()), a.shape(0), a.strides(1) / static_cast<py::ssize_t>(sizeof(double)),
          a.strides(0) / static_cast<py::ssize_t>(sizeof(double))};
}

// A numpy array that owns `values` (no copy), in the given shape.
py::array_t<double> owning(std::vector<double>&& values, std::vector<py::ssize_t> shape,
                           std::vector<py::ssize_t> strides) {
  auto* held = new std::vector<double>(std::move(values));
  py::capsule owner(held, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  return py::array_t<double>(std::move(shape), std::move(strides), held->data(), owner);
}

py::array_t<double> vector_of(std::vector<double>&& values) {
  const auto n = static_cast<py::ssize_t>(values.size());
  return owning(std::move(values), {n}, {static_cast<py::ssize_t>(sizeof(double))});
}

// n x n, column by column: a Fortran-ordered array.
py::array_t<double> matrix_array(std::vector<double>&& elements, py::ssize_t n) {
  const auto size = static_cast<py::ssize_t>(sizeof(double));
  return owning(std::move(elements), {n, n}, {size, n * size});
}

blockeig::Options options_of(int threads) { return blockeig::Options{threads}; }

py::tuple eigenvalues(const py::array& a, int threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  blockeig::DirectSolution solution;
  {
    py::gil_scoped_release released;
    solution = blockeig::eigenvalues(ref, options_of(threads));
  }
  return py::make_tuple(vector_of(std::move(solution.values)), solution.IERR);
}

py::tuple eigensystem(const py::array& a, int threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  blockeig::DirectSolution solution;
  {
    py::gil_scoped_release released;
    solution = blockeig::eigensystem(ref, options_of(threads));
  }
  const auto n = static_cast<py::ssize_t>(solution.values.size());
  return py::make_tuple(vector_of(std::move(solution.values)), matrix_array(std::move(solution.vectors), n),
                        solution.IERR);
}

// One sweep as the results file has it: ITER, every block's W, E(1), E(2),
// E(N-1), E(N) and DELTA.
py::dict sweep_record(const blockeig::Sweep& sweep) {
  py::list W;
  for (std::int32_t IB = 1; IB <= static_cast<std::int32_t>(sweep.BDIM.size()); ++IB) {
    const std::span<const double> w = sweep.block_W(IB);
    W.append(vector_of(std::vector<double>(w.begin(), w.end())));
  }
  const std::size_t N = sweep.E.size();
  py::dict record;
  record["ITER"] = sweep.ITER;
  record["W"] = W;
  record["E(1)"] = sweep.E[0];
  record["E(2)"] = sweep.E[1];
  record["E(N-1)"] = sweep.E[N - 2];
  record["E(N)"] = sweep.E[N - 1];
  record["DELTA"] = sweep.DELTA;
  return record;
}

// The sweeps' options: the rule, the layout and the start (an array, or
// None), which the library checks. A number beyond an int32 is none that it
// takes, and is refused here in its words.
blockeig::Options sweep_options(int threads, double tol, std::int64_t max_sweeps,
                                const std::vector<std::int64_t>& partition, const py::object& start) {
  const auto fits = [](std::int64_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
  };
  blockeig::Options options = options_of(threads);
  options.tol = tol;
  if (!fits(max_sweeps))
    throw blockeig::Error(blockeig::Errc::bad_sweep_rule, "max_sweeps " + std::to_string(max_sweeps) +
                                                              " is not from 1 to " +
                                                              std::to_string(blockeig::run::max_sweeps_limit));
  options.max_sweeps = static_cast<std::int32_t>(max_sweeps);
  for (const std::int64_t size : partition) {
    if (!fits(size))
      throw blockeig::Error(blockeig::Errc::bad_partition, "partition: block " +
                                                               std::to_string(options.partition.size() + 1) +
                                                               " has size " + std::to_string(size) +
                                                               ", beyond any order");
    options.partition.push_back(static_cast<std::int32_t>(size));
  }
  if (!start.is_none()) options.start = matrix_of(start.cast<py::array>());
  return options;
}

py::dict block_sweeps(const py::array& a, std::int32_t nblocks, const py::object& callback, int threads, double tol,
                      std::int64_t max_sweeps, const std::vector<std::int64_t>& partition, const py::object& start) {
  const blockeig::MatrixRef ref = matrix_of(a);
  const blockeig::Options options = sweep_options(threads, tol, max_sweeps, partition, start);
  py::list sweeps;
  // The first Python error of an observer (the callback's, or
  // KeyboardInterrupt): it stops the sweeps and is raised once they end.
  std::optional<py::error_already_set> failure;
  const auto observer = [&](const blockeig::Sweep& sweep) {
    py::gil_scoped_acquire held;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      py::dict record = sweep_record(sweep);
      sweeps.append(record);
      if (!callback.is_none() && py::bool_(callback(record))) return blockeig::Decision::stop;
    } catch (py::error_already_set& error) {
      failure.emplace(std::move(error));
      return blockeig::Decision::stop;
    }
    return blockeig::Decision::go_on;
  };
  blockeig::BlockResult result;
  {
    py::gil_scoped_release released;
    result = blockeig::block_sweeps(ref, nblocks, observer, options);
  }
  if (failure) throw std::move(*failure);
  py::list layout;
  for (std::size_t b = 0; b < result.BDIM.size(); ++b) {
    py::dict block;
    block["block"] = b + 1;
    block["dimension"] = result.BDIM[b];
    block["start"] = result.BSTART[b];
    block["end"] = result.BSTART[b] + result.BDIM[b] - 1;
    layout.append(block);
  }
  py::dict out;
  out["layout"] = layout;
  out["sweeps"] = sweeps;
  out["eigenvalues"] = vector_of(std::move(result.E));
  out["converged"] = result.converged;
  out["stopped"] = result.stopped;
  return out;
}

// How far E1 lies from the lowest of the direct eigenvalues, as the results
// file's end.accuracy: a figure over a divisor of 0, and the rank of a NaN
// E1, are None.
py::dict accuracy(double E1, const py::array_t<double, py::array::c_style | py::array::forcecast>& direct) {
  const blockeig::E1Accuracy a =
      blockeig::e1_accuracy(E1, {direct.data(), static_cast<std::size_t>(direct.size())});
  const auto quotient = [](double value, double divisor) { return divisor == 0 ? py::object(py::none()) : py::float_(value); };
  namespace key = blockeig::results_schema::accuracy_key;
  const auto name = [](std::string_view k) { return py::str(k.data(), k.size()); };
  py::dict out;
  out[name(key::relative_lambda_1)] = quotient(a.relative_lambda_1, a.lambda_1);
  out[name(key::nearest_rank)] = a.nearest_rank > 0 ? py::object(py::int_(a.nearest_rank)) : py::object(py::none());
  out[name(key::difference)] = a.difference;
  out[name(key::lambda_1)] = a.lambda_1;
  out[name(key::gap)] = a.gap;
  out[name(key::relative_gap)] = quotient(a.relative_gap, a.gap);
  out[name(key::norm_2)] = a.norm_2;
  out[name(key::relative)] = a.relative;
  return out;
}

blockeig::ByteOrder byte_order_of(bool big) { return big ? blockeig::ByteOrder::big : blockeig::ByteOrder::little; }

py::array_t<double> read_scr(const std::string& path, bool big) {
  blockeig::Matrix m;
  {
    py::gil_scoped_release released;
    m = blockeig::read_scr(path, byte_order_of(big));
  }
  return matrix_array(std::move(m.elements), m.n);
}

void write_scr(const std::string& path, const py::array& a, bool big) {
  const blockeig::MatrixRef ref = matrix_of(a);
  py::gil_scoped_release released;
  blockeig::write_scr(path, ref, byte_order_of(big));
}

// Errors as Python's own: memory as MemoryError, files as OSError with the
// errno (FileNotFoundError, PermissionError, ...), the rest as ValueError.
void translate(std::exception_ptr thrown) {
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const blockeig::Error& e) {
    switch (e.code()) {
      case blockeig::Errc::out_of_memory:
        PyErr_SetString(PyExc_MemoryError, e.what());
        return;
      case blockeig::Errc::file_error: {
        py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(e.system_error(), e.what());
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        return;
      }
      default:
        PyErr_SetString(PyExc_ValueError, e.what());
        return;
    }
  }
}

// What load_results needs of the results file's layout, from the header the
// program writes it with: the format, the members that hold numbers and the
// words that stand for NaN and the infinities.
py::dict results_schema() {
  namespace schema = blockeig::results_schema;
  py::list members;
  for (const std::string_view member : schema::number_members) members.append(py::str(member.data(), member.size()));
  const auto word = [](std::string_view w) { return py::str(w.data(), w.size()); };
  py::dict words;
  words[word(schema::number_word::nan)] = std::numeric_limits<double>::quiet_NaN();
  words[word(schema::number_word::infinity)] = std::numeric_limits<double>::infinity();
  words[word(schema::number_word::minus_infinity)] = -std::numeric_limits<double>::infinity();
  py::dict layout;
  layout["format"] = schema::format_version;
  layout["number_members"] = members;
  layout["number_words"] = words;
  return layout;
}

}  // namespace

PYBIND11_MODULE(_blockeig, m) {
  m.doc() = "blockeig's library: the exact direct solve and the block sweeps (use the blockeig package)";
  py::register_exception_translator(translate);
  m.def("eigenvalues", &eigenvalues, py::arg("a"), py::arg("threads"));
  m.def("eigensystem", &eigensystem, py::arg("a"), py::arg("threads"));
  m.def("block_sweeps", &block_sweeps, py::arg("a"), py::arg("nblocks"), py::arg("callback"), py::arg("threads"),
        py::arg("tol"), py::arg("max_sweeps"), py::arg("partition"), py::arg("start"));
  m.def("accuracy", &accuracy, py::arg("E1"), py::arg("direct"));
  m.attr("TOL") = blockeig::run::TOL;
  m.attr("max_sweeps") = blockeig::run::max_sweeps;
  m.def("read_scr", &read_scr, py::arg("path"), py::arg("big"));
  m.def("write_scr", &write_scr, py::arg("path"), py::arg("a"), py::arg("big"));
  m.attr("version") = std::string(blockeig::version());
  m.attr("arithmetic") = std::string(blockeig::arithmetic());
  m.attr("results_schema") = results_schema();
}
