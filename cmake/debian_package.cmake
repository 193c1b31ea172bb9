# The Debian package, made by `cpack -G DEB` in the build directory: one
# .deb with both programs and their man pages, the library with its header,
# CMake package and pkg-config file, and the Python module when it is built
# (-DBLOCKEIG_PYTHON=ON), where Debian's python3 reads it
# (/usr/lib/python3/dist-packages, python/CMakeLists.txt). Installed below
# /usr.
set(CPACK_PACKAGE_NAME blockeig)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "eigenvalues of symmetric matrices, directly and by block sweeps, the same bits on every thread count")
set(CPACK_PACKAGE_DESCRIPTION
  "blockeig computes all eigenvalues of a real symmetric matrix directly (Householder reduction and QL in\n\
extended precision) and by block Rayleigh-Ritz sweeps, and prints both for comparison; scrtool makes,\n\
converts and checks its matrix files and plots its runs. The library libblockeig (C++20, CMake package\n\
blockeig::blockeig, pkg-config blockeig) and the Python module blockeig give the same results to\n\
other programs.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "blockeig developers <blockeig@invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs, libblockeig and the module link, from
# dpkg-shlibdeps; the interpreter and numpy that the module needs, by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The module's .pyc files come and go with the package (py3compile,
# py3clean), as with Debian's own Python modules.
if(TARGET blockeig_python)
  execute_process(COMMAND ${Python_EXECUTABLE} -c
    "import sys; v = sys.version_info; print('python3 (>= %d.%d), python3 (<< %d.%d), python3-numpy' % (v[0], v[1], v[0], v[1] + 1))"
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_DEPENDS OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
