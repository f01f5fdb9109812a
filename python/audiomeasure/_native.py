"""Loading the shared libraries and the C declarations of what is called.

Where a library is looked for, first hit wins:

1. the file named by the environment variable LUMETRA_LIBRARY or
   QUENBAR_LIBRARY: an explicit choice, say a library just built, beats
   every copy found by default (and when it cannot be loaded, nothing else
   is tried);
2. the package's own copy, beside this file (liblumetra.so / lumetra.dll),
   which an installed package (pip install, a wheel) carries;
3. the release build of the checkout that holds this package:
   <checkout>/build/release/<lib>/;
4. the system's loader, by file name (liblumetra.so / lumetra.dll on its
   search path: LD_LIBRARY_PATH, the installed library folders, PATH on
   Windows).
"""

import ctypes
import os
import sys
import threading

_HERE = os.path.dirname(os.path.abspath(__file__))
_CHECKOUT = os.path.dirname(os.path.dirname(_HERE))


class EmxArray(ctypes.Structure):
    """emxArray_real_T: the libraries' array record."""

    _fields_ = [
        ("data", ctypes.POINTER(ctypes.c_double)),
        ("size", ctypes.POINTER(ctypes.c_int32)),
        ("capacity", ctypes.c_int32),
        ("numDims", ctypes.c_int32),
        ("ownsData", ctypes.c_uint8),
    ]


RecordPointer = ctypes.POINTER(EmxArray)
DoublePointer = ctypes.POINTER(ctypes.c_double)


def _file_name(name):
    return name + ".dll" if sys.platform == "win32" else "lib" + name + ".so"


def _candidates(name):
    variable = name.upper() + "_LIBRARY"
    if os.environ.get(variable):
        return [os.environ[variable]], variable
    own = os.path.join(_HERE, _file_name(name))
    built = os.path.join(_CHECKOUT, "build", "release", name, _file_name(name))
    found = [path for path in (own, built) if os.path.exists(path)]
    return found + [_file_name(name)], variable


def _declare_runtime(lib):
    lib.emxCreateWrapper_real_T.argtypes = [DoublePointer, ctypes.c_int32, ctypes.c_int32]
    lib.emxCreateWrapper_real_T.restype = RecordPointer
    lib.emxDestroyArray_real_T.argtypes = [RecordPointer]
    lib.emxDestroyArray_real_T.restype = None


def _declare_lumetra(lib):
    _declare_runtime(lib)
    lib.lumetra_estimation_initialize.argtypes = []
    lib.lumetra_estimation_initialize.restype = None
    lib.lumetra_estimation.argtypes = [
        RecordPointer, RecordPointer, ctypes.c_double, ctypes.c_double, ctypes.c_double,
        DoublePointer, DoublePointer, DoublePointer, DoublePointer,
    ]
    lib.lumetra_estimation.restype = None
    lib.lumetra_estimation_initialize()


def _declare_quenbar(lib):
    _declare_runtime(lib)
    lib.SNR_estimation_initialize.argtypes = []
    lib.SNR_estimation_initialize.restype = None
    lib.SNR_estimation.argtypes = [
        RecordPointer, RecordPointer, ctypes.c_double, DoublePointer, DoublePointer,
    ]
    lib.SNR_estimation.restype = None
    lib.SNR_estimation_initialize()


_loaded = {}
_load_lock = threading.Lock()
_DECLARE = {"lumetra": _declare_lumetra, "quenbar": _declare_quenbar}


def library(name):
    """The loaded, declared and initialized library `name` ("lumetra" or
    "quenbar"). Raises OSError naming every place tried."""
    with _load_lock:
        if name not in _loaded:
            paths, variable = _candidates(name)
            errors = []
            for path in paths:
                try:
                    lib = ctypes.CDLL(path)
                except OSError as error:
                    errors.append("%s (%s)" % (path, error))
                    continue
                _DECLARE[name](lib)
                _loaded[name] = lib
                break
            else:
                raise OSError(
                    "cannot load the %s library; set %s to its file. Tried: %s"
                    % (name, variable, "; ".join(errors)))
        return _loaded[name]


class Wrapped:
    """A record over a 1-D C-contiguous float64 array's own buffer (nothing
    copied), released on leaving the `with` block. The array must stay alive
    meanwhile; the libraries only read it."""

    def __init__(self, lib, array):
        self._lib = lib
        self._array = array
        self.record = None

    def __enter__(self):
        data = self._array.ctypes.data_as(DoublePointer)
        self.record = self._lib.emxCreateWrapper_real_T(data, len(self._array), 1)
        if not self.record:
            raise MemoryError("cannot create an array record")
        return self.record

    def __exit__(self, *exc):
        self._lib.emxDestroyArray_real_T(self.record)
        self.record = None
        return False
