# A configure names every optional part it misses in one line, with what
# that leaves out, and goes on; given an interpreter that cannot import the
# Python module, it stops with the reason.
#   cmake -DROOT=<source> -DGENERATOR=<generator> -DWORK=<scratch directory>
#         [-DPYTHON=<an interpreter>] -P configure_test.cmake
file(REMOVE_RECURSE "${WORK}")

# Configures a fresh tree with the arguments after `tree`; `output` (every
# run of blanks and line ends one blank, as CMake wraps its errors) and
# `status` are the configure's.
function(configure tree)
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${ROOT}" -B "${WORK}/${tree}" -G "${GENERATOR}" ${ARGN}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \n]+" " " out "${out}")
  set(output "${out}" PARENT_SCOPE)
  set(status "${result}" PARENT_SCOPE)
endfunction()

configure(hidden -DBLOCKEIG_PYTHON=ON -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_LAPACK=ON -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=ON)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the configure with test packages hidden failed:\n${output}")
endif()
foreach(line
    "blockeig: nlohmann-json not found (nlohmann-json3-dev): left out the tests of tests/"
    "blockeig: LAPACK not found (liblapack-dev): left out Tred12Lapack.EigenvaluesAgreeWithDsyev"
    "blockeig: pybind11 2.10 or later not found (pybind11-dev): the Python module and its tests (Python.Module) are not built")
  string(FIND "${output}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the configure did not say\n  ${line}\nit said:\n${output}")
  endif()
endforeach()

# An interpreter that sees no numpy: a virtual environment without the
# system's packages.
if(PYTHON)
  execute_process(COMMAND "${PYTHON}" -m venv --without-pip "${WORK}/bare" RESULT_VARIABLE venv)
  configure(bare -DBLOCKEIG_PYTHON=ON -DBUILD_TESTING=OFF -DPython_EXECUTABLE=${WORK}/bare/bin/python)
  string(FIND "${output}" "could not import the module: it cannot import numpy" at)
  if(NOT venv EQUAL 0 OR status EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "a named interpreter without numpy did not stop the configure with the reason:\n${output}")
  endif()
  # Headers of another Python than the interpreter.
  file(WRITE "${WORK}/headers/patchlevel.h"
    "#define PY_MAJOR_VERSION 2\n#define PY_MINOR_VERSION 7\n#define PY_MICRO_VERSION 18\n#define PY_VERSION \"2.7.18\"\n")
  configure(other -DBLOCKEIG_PYTHON=ON -DBUILD_TESTING=OFF -DPython_EXECUTABLE=${PYTHON}
    -DPython_INCLUDE_DIR=${WORK}/headers)
  string(FIND "${output}" "are Python 2.7's: the module would not load" at)
  if(status EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "headers of another version did not stop the configure with the reason:\n${output}")
  endif()
endif()
file(REMOVE_RECURSE "${WORK}")
