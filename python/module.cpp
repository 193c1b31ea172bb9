// blockeig._blockeig: the library's calls for Python. Arrays arrive as
// float64 numpy arrays of any strides (blockeig/__init__.py converts what
// callers give) and are read where they lie; every other argument goes to
// the library as it came, and the library alone judges it. The GIL is let
// go while the library computes; after every sweep the observer takes it
// back to hand the sweep to the callback and to let a pending Ctrl-C end
// the call.
//
// A call may still run on a daemon thread while the interpreter ends. Such
// a thread must not take the GIL again: the interpreter would end it with
// pthread_exit, whose unwinding no C++ frame of a call can take, and its
// thread state is gone. It stops its sweeps, lets the library go and waits
// for the process to end (as Python 3.14 keeps such threads itself).
#include <unistd.h>

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "records/e1_accuracy.hpp"
#include "runtime/results_schema.hpp"
#include "runtime/run_constants.hpp"

namespace py = pybind11;

namespace {

// The thread that ends the interpreter, as its atexit functions found it (0:
// none seen; the main thread ends it).
std::atomic<pid_t> ending_thread{0};

void note_ending_thread() { ending_thread.store(::gettid()); }

// Whether the interpreter is ending on another thread than this one.
bool ending_elsewhere() {
#if PY_VERSION_HEX >= 0x030D0000
  const bool ending = Py_IsFinalizing();
#else
  const bool ending = _Py_IsFinalizing();
#endif
  const pid_t ender = ending_thread.load();
  return ending && ::gettid() != (ender != 0 ? ender : ::getpid());
}

// The GIL let go while the library computes, taken back at the end of the
// scope and, for an observer, in between; never while the interpreter ends
// elsewhere (above).
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  // Not noexcept: if the interpreter begins to end while this waits for the
  // GIL, it ends the thread (pthread_exit) here, and the unwinding passes.
  ~GilReleased() noexcept(false) {
    if (ending_elsewhere()) wait_for_the_end();
    PyEval_RestoreThread(state_);
  }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

  // The GIL for an observer: false, and nothing taken, while the
  // interpreter ends elsewhere.
  bool take() {
    if (ending_elsewhere()) return false;
    PyEval_RestoreThread(state_);
    return true;
  }
  void let_go() { state_ = PyEval_SaveThread(); }

 private:
  [[noreturn]] static void wait_for_the_end() {
    for (;;) ::pause();
  }

  PyThreadState* state_;
};

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
    const GilReleased released;
    solution = blockeig::eigenvalues(ref, options);
  }
  return py::make_tuple(vector_of(std::move(solution.values)), solution.IERR);
}

py::tuple eigensystem(const py::array& a, const py::int_& threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  const blockeig::Options options = options_of(threads);
  blockeig::DirectSolution solution;
  {
    const GilReleased released;
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

// The sweeps' options besides the threads: the rule, the layout (a sequence
// of whole numbers) and the start (an array, or None), for the library to
// judge.
blockeig::Options sweep_options(const py::int_& threads, double tol, const py::int_& max_sweeps,
                                const py::sequence& partition, const py::object& start) {
  blockeig::Options options = options_of(threads);
  options.tol = tol;
  options.max_sweeps = saturated<std::int32_t>(max_sweeps);
  for (const py::handle size : partition) options.partition.push_back(saturated<std::int32_t>(size.cast<py::int_>()));
  if (!start.is_none()) options.start = matrix_of(start.cast<py::array>());
  return options;
}

// With the GIL: the sweep added to the history and handed to the callback,
// whose true answer stops the sweeps; a Python error (the callback's, or
// KeyboardInterrupt) stops them and is kept in `failure`. While Python code
// runs here (a signal handler, the callback) no C++ object of this frame
// holds a reference: a thread that the interpreter ends in there unwinds
// through it without touching Python. Nothing is thrown out of it but that
// unwinding.
blockeig::Decision observe(const blockeig::Sweep& sweep, SweepHistory& history, PyObject* callback,
                           std::optional<py::error_already_set>& failure) {
  try {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    history.add(sweep);
    if (callback == Py_None) return blockeig::Decision::go_on;
    PyObject* record = sweep_record(sweep).release().ptr();
    PyObject* answer = PyObject_CallOneArg(callback, record);
    Py_DECREF(record);
    const int stop = answer != nullptr ? PyObject_IsTrue(answer) : -1;
    Py_XDECREF(answer);
    if (stop < 0) throw py::error_already_set();
    return stop ? blockeig::Decision::stop : blockeig::Decision::go_on;
  } catch (py::error_already_set& error) {
    failure.emplace(std::move(error));
  } catch (const std::exception& e) {
    const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr ||
                        dynamic_cast<const std::length_error*>(&e) != nullptr;
    PyErr_SetString(memory ? PyExc_MemoryError : PyExc_RuntimeError, e.what());
    failure.emplace();
  }
  return blockeig::Decision::stop;
}

py::dict block_sweeps(const py::array& a, const py::int_& nblocks, const py::object& callback,
                      const py::int_& threads, double tol, const py::int_& max_sweeps, const py::sequence& partition,
                      const py::object& start) {
  const blockeig::MatrixRef ref = matrix_of(a);
  const blockeig::Options options = sweep_options(threads, tol, max_sweeps, partition, start);
  SweepHistory history;
  // The first Python error of an observer: raised once the sweeps end.
  std::optional<py::error_already_set> failure;
  const std::int32_t count = saturated<std::int32_t>(nblocks);
  blockeig::BlockResult result;
  {
    GilReleased released;
    const auto observer = [&](const blockeig::Sweep& sweep) {
      if (!released.take()) return blockeig::Decision::stop;  // the interpreter ends
      const blockeig::Decision decision = observe(sweep, history, callback.ptr(), failure);
      released.let_go();
      return decision;
    };
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

// How far E1 lies from the lowest of the direct eigenvalues, as the results
// file's end.accuracy: a figure over a divisor of 0, and the rank of a NaN
// E1, are None.
py::dict accuracy(double E1, const py::array_t<double, py::array::c_style | py::array::forcecast>& direct) {
  const blockeig::E1Accuracy a = blockeig::e1_accuracy(E1, {direct.data(), static_cast<std::size_t>(direct.size())});
  const auto quotient = [](double value, double divisor) {
    return divisor == 0 ? py::object(py::none()) : py::object(py::float_(value));
  };
  namespace key = blockeig::results_schema::accuracy_key;
  py::dict out;
  out[str_of(key::relative_lambda_1)] = quotient(a.relative_lambda_1, a.lambda_1);
  out[str_of(key::nearest_rank)] = a.nearest_rank > 0 ? py::object(py::int_(a.nearest_rank)) : py::object(py::none());
  out[str_of(key::difference)] = a.difference;
  out[str_of(key::lambda_1)] = a.lambda_1;
  out[str_of(key::gap)] = a.gap;
  out[str_of(key::relative_gap)] = quotient(a.relative_gap, a.gap);
  out[str_of(key::norm_2)] = a.norm_2;
  out[str_of(key::relative)] = a.relative;
  return out;
}

blockeig::ByteOrder byte_order_of(bool big) { return big ? blockeig::ByteOrder::big : blockeig::ByteOrder::little; }

py::array_t<double> read_scr(const std::string& path, bool big) {
  blockeig::Matrix m;
  {
    const GilReleased released;
    m = blockeig::read_scr(path, byte_order_of(big));
  }
  return matrix_array(std::move(m.elements), m.n);
}

void write_scr(const std::string& path, const py::array& a, bool big) {
  const blockeig::MatrixRef ref = matrix_of(a);
  const GilReleased released;
  blockeig::write_scr(path, ref, byte_order_of(big));
}

// An error's text as a str; the bytes of a file name that are not UTF-8
// (a bytes path) as \xNN escapes.
py::str message_of(const blockeig::Error& e) {
  const std::string_view text = e.what();
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace"));
}

// Errors as Python's own: memory as MemoryError, files as OSError with the
// errno (FileNotFoundError, PermissionError, ...), the rest as ValueError.
void translate(std::exception_ptr thrown) {
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const blockeig::Error& e) {
    switch (e.code()) {
      case blockeig::Errc::out_of_memory:
        PyErr_SetObject(PyExc_MemoryError, message_of(e).ptr());
        return;
      case blockeig::Errc::file_error: {
        // OSError(errno, message) is the errno's own subclass
        // (FileNotFoundError, ...), and says the library's message.
        py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(e.system_error(), message_of(e));
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        return;
      }
      default:
        PyErr_SetObject(PyExc_ValueError, message_of(e).ptr());
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
  keys["accuracy_key"] = group({{"difference", schema::accuracy_key::difference},
                                {"relative_lambda_1", schema::accuracy_key::relative_lambda_1},
                                {"nearest_rank", schema::accuracy_key::nearest_rank}});
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
  py::module_::import("atexit").attr("register")(py::cpp_function(note_ending_thread));
  m.def("eigenvalues", &eigenvalues, py::arg("a"), py::arg("threads"));
  m.def("eigensystem", &eigensystem, py::arg("a"), py::arg("threads"));
  m.def("block_sweeps", &block_sweeps, py::arg("a"), py::arg("nblocks"), py::arg("callback"), py::arg("threads"),
        py::arg("tol"), py::arg("max_sweeps"), py::arg("partition"), py::arg("start"));
  m.def("accuracy", &accuracy, py::arg("E1"), py::arg("direct"));
  // The program's rule, block_sweeps' defaults.
  m.attr("TOL") = blockeig::run::TOL;
  m.attr("max_sweeps") = blockeig::run::max_sweeps;
  m.def("max_block_count", [](const py::int_& n) { return blockeig::max_block_count(saturated<std::int32_t>(n)); },
        py::arg("n"));
  m.def("read_scr", &read_scr, py::arg("path"), py::arg("big"));
  m.def("write_scr", &write_scr, py::arg("path"), py::arg("a"), py::arg("big"));
  m.attr("version") = std::string(blockeig::version());
  m.attr("arithmetic") = std::string(blockeig::arithmetic());
  m.attr("kernels") = std::string(blockeig::kernels_in_use());
  m.attr("results_schema") = results_schema();
  m.attr("limits") = limits();
}
