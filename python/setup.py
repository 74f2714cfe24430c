"""Builds the module kvga with the repository's CMake tree (the option KVGA_BUILD_PYTHON) and
installs it as a top-level extension module.

The build needs CMake, a C++20 compiler, pugixml, oneTBB, pybind11 and NumPy from the system
(Debian: cmake g++ libpugixml-dev libtbb-dev pybind11-dev python3-pybind11 python3-numpy); it
reads nothing from the network. Use --no-build-isolation so that pip uses them:
    /usr/bin/python3 -m pip install ./python --no-build-isolation --break-system-packages
or, in a virtual environment made with --system-site-packages, without the last flag."""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        os.makedirs(build_dir, exist_ok=True)
        configure = ["cmake", "-S", ROOT, "-B", build_dir,
                     "-DCMAKE_BUILD_TYPE=Release",
                     "-DKVGA_BUILD_PYTHON=ON", "-DKVGA_BUILD_TESTS=OFF",
                     "-DKVGA_BUILD_EXAMPLES=OFF", "-DKVGA_BUILD_BENCH=OFF", "-DKVGA_BUILD_MPI=OFF",
                     f"-DPython_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = str(os.cpu_count() or 2)
        subprocess.run(["cmake", "--build", build_dir, "--target", "kvga_python", "-j", jobs],
                       check=True)
        built = [f for f in os.listdir(os.path.join(build_dir, "python"))
                 if f.startswith("kvga.") and f.endswith((".so", ".pyd"))]
        if len(built) != 1:
            raise RuntimeError(f"expected one built module in {build_dir}/python, found {built}")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build_dir, "python", built[0]), target)


setup(ext_modules=[Extension("kvga", sources=[])], cmdclass={"build_ext": CMakeBuild}, packages=[],
      zip_safe=False)
