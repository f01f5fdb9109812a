"""Builds the audiomeasure Python package with its shared libraries inside.

    pip install --no-build-isolation .                 (offline, Debian's setuptools)
    /usr/bin/python3 -m build --wheel --no-isolation   (a wheel in dist/)

The build runs CMake on this checkout (the libraries only: no tests, no
tools) in build/python/, and puts libaudiomeasure.so, which the package
measures with, and the fixed libraries liblumetra.so and libquenbar.so,
whose entry points _native declares too, inside the package, where
audiomeasure._native finds them. It needs CMake and a C and
C++ compiler (Debian: scripts/deps build); without them it stops with one
line saying so. The version is the project's, from project() in
CMakeLists.txt.

AUDIOMEASURE_LIBRARY_DIR=<dir> skips CMake and packs the libraries already
built in <dir>: libaudiomeasure.so, liblumetra.so and libquenbar.so make a
Linux wheel, audiomeasure.dll, lumetra.dll and quenbar.dll a win_amd64 wheel
(from the MinGW cross build).

The wheel holds no Python extension, only libraries loaded through ctypes:
it is tagged py3-none-<platform>, for any Python 3 on that platform. There
is no source distribution: the package builds from a checkout of the whole
project.
"""

import glob
import os
import runpy
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py
from setuptools.errors import ExecError
from wheel.bdist_wheel import bdist_wheel

ROOT = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(ROOT, "build", "python")
LIBRARIES = ("audiomeasure", "lumetra", "quenbar")
if not os.path.exists(os.path.join(ROOT, "CMakeLists.txt")):
    sys.exit("error: audiomeasure builds from a checkout of the whole project, and %s is not "
             "one (no CMakeLists.txt); make the wheel there: python3 -m build --wheel" % ROOT)
VERSION = runpy.run_path(os.path.join(ROOT, "python", "audiomeasure", "_version.py"))["__version__"]


def prebuilt_dir():
    return os.environ.get("AUDIOMEASURE_LIBRARY_DIR") or None


def prebuilt_is_windows():
    directory = prebuilt_dir()
    return directory is not None and os.path.exists(os.path.join(directory, "audiomeasure.dll"))


def missing_build_tools():
    """The build tools that are not on PATH, by the name to install."""
    missing = []
    if shutil.which("cmake") is None:
        missing.append("cmake")
    for language, variable, names in (("C", "CC", ("cc", "gcc", "clang")),
                                      ("C++", "CXX", ("c++", "g++", "clang++"))):
        chosen = os.environ.get(variable, "").split()
        candidates = chosen[:1] or names
        if not any(shutil.which(name) for name in candidates):
            missing.append("a %s compiler" % language)
    return missing


def run(command):
    try:
        subprocess.run(command, check=True)
    except (OSError, subprocess.CalledProcessError) as error:
        raise ExecError("audiomeasure: %s failed (%s); its output is above"
                        % (" ".join(command[:2]), error))


def build_libraries():
    """CMake's build of the libraries; returns {file name in the package:
    built file}."""
    tree = os.path.join(BUILD, "cmake")
    stage = os.path.join(BUILD, "stage")
    configure = ["cmake", "-S", ROOT, "-B", tree, "-DCMAKE_BUILD_TYPE=Release",
                 "-DAM_BUILD_TESTS=OFF", "-DAM_BUILD_TOOLS=OFF",
                 "-DCMAKE_INSTALL_LIBDIR=lib", "-DCMAKE_INSTALL_BINDIR=bin"]
    if not os.path.exists(os.path.join(tree, "CMakeCache.txt")) and shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    run(configure)
    run(["cmake", "--build", tree, "--target", *LIBRARIES])
    shutil.rmtree(stage, ignore_errors=True)
    run(["cmake", "--install", tree, "--prefix", stage, "--component", "runtime", "--strip"])
    found = {}
    for name in LIBRARIES:
        # lib<name>.so.<ABI> and lib<name>.so.<version>: one file, two names.
        copies = sorted(glob.glob(os.path.join(stage, "lib", "lib%s.so.*" % name)), key=len)
        if copies:
            found["lib%s.so" % name] = copies[0]
    return found


def prebuilt_libraries(directory):
    found = {}
    for name in LIBRARIES:
        for file_name in ("lib%s.so" % name, "%s.dll" % name):
            if os.path.exists(os.path.join(directory, file_name)):
                found[file_name] = os.path.join(directory, file_name)
    return found


class BuildWithLibraries(build_py):
    """The Python files, the project's version written into _version.py, and
    the libraries."""

    def run(self):
        directory = prebuilt_dir()
        missing = [] if directory else missing_build_tools()
        if missing:
            raise ExecError("audiomeasure: building its libraries needs %s; on Debian 12 run "
                            "scripts/deps build (as root), then install again"
                            % " and ".join(missing))
        package = os.path.join(self.build_lib, "audiomeasure")
        # A fresh copy: nothing left over from an earlier build goes into a wheel.
        shutil.rmtree(package, ignore_errors=True)
        super().run()
        with open(os.path.join(package, "_version.py"), "w", encoding="utf-8") as f:
            f.write('"""The project\'s version, written by the build."""\n\n'
                    '__version__ = "%s"\n' % VERSION)
        libraries = prebuilt_libraries(directory) if directory else build_libraries()
        if len(libraries) != len(LIBRARIES):
            raise ExecError("audiomeasure: found %s, not the %d libraries %s, in %s"
                            % (sorted(libraries) or "nothing", len(LIBRARIES),
                               ", ".join(LIBRARIES), directory or BUILD))
        for file_name, path in libraries.items():
            shutil.copyfile(path, os.path.join(package, file_name))
            os.chmod(os.path.join(package, file_name), 0o755)


class WithLibraries(Distribution):
    """Platform-specific, though without a Python extension: built into and
    installed to the platform's library folder (platlib)."""

    def has_ext_modules(self):
        return True


class PlatformWheel(bdist_wheel):
    """py3-none-<platform>: the libraries tie the wheel to a platform, not to
    a Python version or ABI."""

    def finalize_options(self):
        if self.plat_name is None and prebuilt_is_windows():
            self.plat_name = "win_amd64"
        super().finalize_options()

    def get_tag(self):
        platform = (self.plat_name if self.plat_name_supplied else sysconfig.get_platform())
        return "py3", "none", platform.lower().replace("-", "_").replace(".", "_")


os.makedirs(BUILD, exist_ok=True)
setup(
    version=VERSION,
    package_dir={"": "python"},
    packages=["audiomeasure"],
    distclass=WithLibraries,
    cmdclass={"build_py": BuildWithLibraries, "bdist_wheel": PlatformWheel},
    # Everything setuptools writes goes under build/python/, beside CMake's tree.
    options={"build": {"build_base": BUILD}, "egg_info": {"egg_base": BUILD}},
)
