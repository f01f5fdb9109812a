"""The package's version: the project's one version, from project() in the
top-level CMakeLists.txt.

An installed package carries a copy of this file in which the build
(setup.py) has replaced the lookup below with the version itself; in a
checkout the version is read from CMakeLists.txt; a copy of the package
outside both says "unknown".
"""

import os
import re

_PROJECT = re.compile(r"^project\(audiomeasure\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", re.M)


def read_project_version(cmake_lists):
    """The VERSION of project(audiomeasure ...) in the file cmake_lists."""
    with open(cmake_lists, encoding="utf-8") as f:
        match = _PROJECT.search(f.read())
    if match is None:
        raise RuntimeError("%s: no project(audiomeasure VERSION x.y.z)" % cmake_lists)
    return match.group(1)


_CMAKE_LISTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                            "CMakeLists.txt")
__version__ = read_project_version(_CMAKE_LISTS) if os.path.exists(_CMAKE_LISTS) else "unknown"
