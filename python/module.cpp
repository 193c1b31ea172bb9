// blockeig._blockeig: the library's calls for Python. Arrays arrive as
// float64 numpy arrays of any strides (blockeig/__init__.py converts what
// callers give) and are read where they lie; every other argument goes to
// the library as it came, and the library alone judges it. The GIL is let
// go while the library computes; after every sweep the observer takes it
// back to hand the sweep to the callback and to let a pending Ctrl-C end
// the call.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "runtime/results_schema.hpp"

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

// A Python int as the library's integer type Int. A value beyond Int's
// range stands as the nearest end of the range, which the library refuses
// with its own message as it refuses any value outside its limits.
template <class Int>
Int saturated(const py::int_& value) {
  int beyond = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &beyond);
  if (v == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  if (beyond > 0 || v > std::numeric_limits<Int>::max()) return std::numeric_limits<Int>::max();
  if (beyond < 0 || v < std::numeric_limits<Int>::min()) return std::numeric_limits<Int>::min();
  return static_cast<Int>(v);
}

blockeig::Options options_of(const py::int_& threads) { return blockeig::Options{saturated<int>(threads)}; }

py::str str_of(std::string_view text) { return py::str(text.data(), text.size()); }

py::tuple eigenvalues(const py::array& a, const py::int_& threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  const blockeig::Options options = options_of(threads);
  blockeig::DirectSolution solution;
  {
    py::gil_scoped_release released;
    solution = blockeig::eigenvalues(ref, options);
  }
  return py::make_tuple(vector_of(std::move(solution.values)), solution.IERR);
}

py::tuple eigensystem(const py::array& a, const py::int_& threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  const blockeig::Options options = options_of(threads);
  blockeig::DirectSolution solution;
  {
    py::gil_scoped_release released;
    solution = blockeig::eigensystem(ref, options);
  }
  const auto n = static_cast<py::ssize_t>(solution.values.size());
  return py::make_tuple(vector_of(std::move(solution.values)), matrix_array(std::move(solution.vectors), n),
                        solution.IERR);
}

namespace sweep_key = blockeig::results_schema::sweep_key;

// One sweep as the results file has it, for a callback: ITER, every block's
// W, E(1), E(2), E(N-1), E(N) and DELTA under the file's own names.
py::dict sweep_record(const blockeig::Sweep& sweep) {
  py::list W;
  for (std::int32_t IB = 1; IB <= static_cast<std::int32_t>(sweep.BDIM.size()); ++IB) {
    const std::span<const double> w = sweep.block_W(IB);
    W.append(vector_of(std::vector<double>(w.begin(), w.end())));
  }
  const std::size_t N = sweep.E.size();
  py::dict record;
  record[str_of(sweep_key::ITER)] = sweep.ITER;
  record[str_of(sweep_key::W)] = W;
  record[str_of(sweep_key::E1)] = sweep.E[0];
  record[str_of(sweep_key::E2)] = sweep.E[1];
  record[str_of(sweep_key::EN1)] = sweep.E[N - 2];
  record[str_of(sweep_key::EN)] = sweep.E[N - 1];
  record[str_of(sweep_key::DELTA)] = sweep.DELTA;
  return record;
}

// The sweeps of a run quantity by quantity, as BlockSweeps holds them: one
// value per sweep of ITER, E(1), E(2), E(N-1), E(N) and DELTA, and for
// every block its W of every sweep.
class SweepHistory {
 public:
  void add(const blockeig::Sweep& sweep) {
    const std::size_t N = sweep.E.size();
    ITER_.push_back(sweep.ITER);
    E1_.push_back(sweep.E[0]);
    E2_.push_back(sweep.E[1]);
    EN1_.push_back(sweep.E[N - 2]);
    EN_.push_back(sweep.E[N - 1]);
    DELTA_.push_back(sweep.DELTA);
    W_.resize(sweep.BDIM.size());
    for (std::size_t b = 0; b < W_.size(); ++b) {
      const std::span<const double> w = sweep.block_W(static_cast<std::int32_t>(b + 1));
      W_[b].insert(W_[b].end(), w.begin(), w.end());
    }
  }

  // Into `out`: iterations, E1, E2, EN1, EN and DELTA of shape (sweeps,),
  // and W, a tuple with one array per block of shape (sweeps, dimension).
  void move_into(py::dict& out, const std::vector<std::int32_t>& BDIM) {
    const auto sweeps = static_cast<py::ssize_t>(ITER_.size());
    out["iterations"] = py::array_t<std::int32_t>(sweeps, ITER_.data());
    out["E1"] = vector_of(std::move(E1_));
    out["E2"] = vector_of(std::move(E2_));
    out["EN1"] = vector_of(std::move(EN1_));
    out["EN"] = vector_of(std::move(EN_));
    out["DELTA"] = vector_of(std::move(DELTA_));
    py::tuple W(BDIM.size());
    const auto size = static_cast<py::ssize_t>(sizeof(double));
    for (std::size_t b = 0; b < BDIM.size(); ++b) {
      const py::ssize_t dimension = BDIM[b];
      std::vector<double> values = b < W_.size() ? std::move(W_[b]) : std::vector<double>();
      W[b] = owning(std::move(values), {sweeps, dimension}, {dimension * size, size});
    }
    out["W"] = W;
  }

 private:
  std::vector<std::int32_t> ITER_;
  std::vector<double> E1_, E2_, EN1_, EN_, DELTA_;
  std::vector<std::vector<double>> W_;  // block by block, sweep after sweep
};

// The block table as the results file's blocks.layout has it.
py::list layout_of(const blockeig::BlockResult& result) {
  namespace layout_key = blockeig::results_schema::layout_key;
  py::list layout;
  for (std::size_t b = 0; b < result.BDIM.size(); ++b) {
    py::dict block;
    block[str_of(layout_key::block)] = b + 1;
    block[str_of(layout_key::dimension)] = result.BDIM[b];
    block[str_of(layout_key::start)] = result.BSTART[b];
    block[str_of(layout_key::end)] = result.BSTART[b] + result.BDIM[b] - 1;
    layout.append(block);
  }
  return layout;
}

py::dict block_sweeps(const py::array& a, const py::int_& nblocks, const py::object& callback,
                      const py::int_& threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  SweepHistory history;
  // The first Python error of an observer (the callback's, or
  // KeyboardInterrupt): it stops the sweeps and is raised once they end.
  std::optional<py::error_already_set> failure;
  const auto observer = [&](const blockeig::Sweep& sweep) {
    py::gil_scoped_acquire held;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      history.add(sweep);
      if (!callback.is_none() && py::bool_(callback(sweep_record(sweep)))) return blockeig::Decision::stop;
    } catch (py::error_already_set& error) {
      failure.emplace(std::move(error));
      return blockeig::Decision::stop;
    }
    return blockeig::Decision::go_on;
  };
  const std::int32_t count = saturated<std::int32_t>(nblocks);
  const blockeig::Options options = options_of(threads);
  blockeig::BlockResult result;
  {
    py::gil_scoped_release released;
    result = blockeig::block_sweeps(ref, count, observer, options);
  }
  if (failure) throw std::move(*failure);
  py::dict out;
  out["layout"] = layout_of(result);
  history.move_into(out, result.BDIM);
  out["eigenvalues"] = vector_of(std::move(result.E));
  out["converged"] = result.converged;
  out["stopped"] = result.stopped;
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
        // OSError(errno, message) is the errno's own subclass
        // (FileNotFoundError, ...), and says the library's message.
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

// The members of the results file that the package's short table reads,
// by group as the schema header names them: keys["end_key"]["accuracy"] is
// "accuracy".
py::dict results_keys() {
  namespace schema = blockeig::results_schema;
  using Names = std::initializer_list<std::pair<const char*, std::string_view>>;
  const auto group = [](Names names) {
    py::dict members;
    for (const auto& [name, key] : names) members[name] = str_of(key);
    return members;
  };
  py::dict keys;
  keys["key"] = group({{"input", schema::key::input}, {"blocks", schema::key::blocks}, {"sweeps", schema::key::sweeps},
                       {"state", schema::key::state}, {"end", schema::key::end}});
  keys["input_key"] = group({{"N", schema::input_key::N}});
  keys["blocks_key"] = group({{"NBLOCKS", schema::blocks_key::NBLOCKS}});
  keys["end_key"] = group({{"settled", schema::end_key::settled}, {"sweeps", schema::end_key::sweeps},
                           {"accuracy", schema::end_key::accuracy}});
  keys["accuracy_key"] = group({{"difference", schema::accuracy_key::difference}});
  return keys;
}

// What load_results needs of the results file's layout, from the header the
// program writes it with: the format, the members that hold numbers, the
// words that stand for NaN and the infinities, and the names it reads.
py::dict results_schema() {
  namespace schema = blockeig::results_schema;
  py::list members;
  for (const std::string_view member : schema::number_members) members.append(str_of(member));
  py::dict words;
  words[str_of(schema::number_word::nan)] = std::numeric_limits<double>::quiet_NaN();
  words[str_of(schema::number_word::infinity)] = std::numeric_limits<double>::infinity();
  words[str_of(schema::number_word::minus_infinity)] = -std::numeric_limits<double>::infinity();
  py::dict layout;
  layout["format"] = schema::format_version;
  layout["number_members"] = members;
  layout["number_words"] = words;
  layout["keys"] = results_keys();
  return layout;
}

// The library's limits (blockeig::limits()), which the package states.
py::dict limits() {
  const blockeig::Limits l = blockeig::limits();
  py::dict out;
  out["min_order"] = l.min_order;
  out["max_order"] = l.max_order;
  out["max_file_order"] = l.max_file_order;
  out["max_threads"] = l.max_threads;
  return out;
}

}  // namespace

PYBIND11_MODULE(_blockeig, m) {
  m.doc() = "blockeig's library: the exact direct solve and the block sweeps (use the blockeig package)";
  py::register_exception_translator(translate);
  m.def("eigenvalues", &eigenvalues, py::arg("a"), py::arg("threads"));
  m.def("eigensystem", &eigensystem, py::arg("a"), py::arg("threads"));
  m.def("block_sweeps", &block_sweeps, py::arg("a"), py::arg("nblocks"), py::arg("callback"), py::arg("threads"));
  m.def("max_block_count", [](const py::int_& n) { return blockeig::max_block_count(saturated<std::int32_t>(n)); },
        py::arg("n"));
  m.def("read_scr", &read_scr, py::arg("path"), py::arg("big"));
  m.def("write_scr", &write_scr, py::arg("path"), py::arg("a"), py::arg("big"));
  m.attr("version") = std::string(blockeig::version());
  m.attr("arithmetic") = std::string(blockeig::arithmetic());
  m.attr("results_schema") = results_schema();
  m.attr("limits") = limits();
}
