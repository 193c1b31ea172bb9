// blockeig._blockeig: the library's calls for Python. Arrays arrive as
// float64 numpy arrays of any strides (blockeig/__init__.py checks and
// converts what callers give) and are read where they lie. The GIL is let
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
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "blockeig/blockeig.hpp"
#include "runtime/results_schema.hpp"

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

blockeig::Options options_of(int threads) { return blockeig::Options{threads}; }

py::tuple eigenvalues(const py::array& a, int threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  blockeig::DirectSolution solution;
  {
    const GilReleased released;
    solution = blockeig::eigenvalues(ref, options_of(threads));
  }
  return py::make_tuple(vector_of(std::move(solution.values)), solution.IERR);
}

py::tuple eigensystem(const py::array& a, int threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  blockeig::DirectSolution solution;
  {
    const GilReleased released;
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

// With the GIL: the sweep's record appended to `sweeps` and handed to the
// callback, whose true answer stops the sweeps; a Python error (the
// callback's, or KeyboardInterrupt) stops them and is kept in `failure`.
// While Python code runs here (a signal handler, the callback) no C++ object
// of this frame holds a reference: a thread that the interpreter ends in
// there unwinds through it without touching Python.
blockeig::Decision observe(const blockeig::Sweep& sweep, PyObject* sweeps, PyObject* callback,
                           std::optional<py::error_already_set>& failure) {
  if (PyErr_CheckSignals() == 0) {
    PyObject* record = sweep_record(sweep).release().ptr();
    const bool kept = PyList_Append(sweeps, record) == 0;
    PyObject* answer = kept && callback != Py_None ? PyObject_CallOneArg(callback, record) : nullptr;
    Py_DECREF(record);
    if (kept && callback == Py_None) return blockeig::Decision::go_on;
    const int stop = answer != nullptr ? PyObject_IsTrue(answer) : -1;
    Py_XDECREF(answer);
    if (stop >= 0) return stop ? blockeig::Decision::stop : blockeig::Decision::go_on;
  }
  failure.emplace();
  return blockeig::Decision::stop;
}

py::dict block_sweeps(const py::array& a, std::int32_t nblocks, const py::object& callback, int threads) {
  const blockeig::MatrixRef ref = matrix_of(a);
  py::list sweeps;
  // The first Python error of an observer: raised once the sweeps end.
  std::optional<py::error_already_set> failure;
  blockeig::BlockResult result;
  {
    GilReleased released;
    const auto observer = [&](const blockeig::Sweep& sweep) {
      if (!released.take()) return blockeig::Decision::stop;  // the interpreter ends
      const blockeig::Decision decision = observe(sweep, sweeps.ptr(), callback.ptr(), failure);
      released.let_go();
      return decision;
    };
    result = blockeig::block_sweeps(ref, nblocks, observer, options_of(threads));
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
  py::module_::import("atexit").attr("register")(py::cpp_function(note_ending_thread));
  m.def("eigenvalues", &eigenvalues, py::arg("a"), py::arg("threads"));
  m.def("eigensystem", &eigensystem, py::arg("a"), py::arg("threads"));
  m.def("block_sweeps", &block_sweeps, py::arg("a"), py::arg("nblocks"), py::arg("callback"), py::arg("threads"));
  m.def("read_scr", &read_scr, py::arg("path"), py::arg("big"));
  m.def("write_scr", &write_scr, py::arg("path"), py::arg("a"), py::arg("big"));
  m.attr("version") = std::string(blockeig::version());
  m.attr("arithmetic") = std::string(blockeig::arithmetic());
  m.attr("results_schema") = results_schema();
}
