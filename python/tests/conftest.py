"""Finds the module and the C++ reference program of the build when they are not given.

./dev test and ctest set PYTHONPATH and KVGA_PYTHON_REFERENCE; run by hand, the tests use the
release build of this checkout (build/release/python)."""
import os
import sys

BUILD = os.path.join(os.path.dirname(__file__), "..", "..", "build", "release", "python")

try:
    import kvga  # noqa: F401
except ImportError:
    sys.path.insert(0, os.path.abspath(BUILD))

os.environ.setdefault("KVGA_PYTHON_REFERENCE",
                      os.path.abspath(os.path.join(BUILD, "kvga_python_reference")))
