"""Loading the shared libraries and the C declarations of what is called.

Three libraries: audiomeasure (include/audiomeasure.h), which every
measurement of the package goes through, and the two fixed libraries
lumetra and quenbar, whose entry points lumetra_estimation and
SNR_estimation stay declared here for hosts and checks that call them
directly (lumetra_estimation works in static buffers: calls to it must not
overlap).

Where a library is looked for, first hit wins:

1. the file named by the environment variable AUDIOMEASURE_LIBRARY
   (LUMETRA_LIBRARY, QUENBAR_LIBRARY): an explicit choice, say a library
   just built, beats every copy found by default, and when that file cannot
   be used nothing else is tried: the error says what is wrong with it;
2. the package's own copy, beside this file (libaudiomeasure.so /
   audiomeasure.dll), which an installed package (pip install, a wheel)
   carries;
3. the release build of the checkout that holds this package:
   <checkout>/build/release/<name>/;
4. the system's loader, by file name (libaudiomeasure.so /
   audiomeasure.dll on its search path: LD_LIBRARY_PATH, the installed
   library folders, PATH on Windows).

A file that loads but is not the library asked for (another library, or an
audiomeasure whose reports are shorter than the ones declared here) is
refused; under 2 to 4 the search then goes on.

Every library is loaded with ctypes.CDLL: the interpreter's lock is
released during each call, so threads measure in parallel.
"""

import ctypes
import os
import sys
import threading

from ._version import __version__

_HERE = os.path.dirname(os.path.abspath(__file__))
_CHECKOUT = os.path.dirname(os.path.dirname(_HERE))

# The header's constants that the binding needs before it calls the library
# (a test compares them with include/audiomeasure.h).
STEPS = 11              # AM_STEPS
GAIN_SPAN = 720000      # AM_GAIN_SPAN: the 15 s alignment opening
MAX_SAMPLES = 2147483647  # AM_MAX_SAMPLES
PERIOD_AUTO, PERIOD_25_2, PERIOD_24_7 = 0, 1, 2  # AM_PERIOD_*
# am_enum_name's kinds (AM_ENUM_*).
ENUM_STATUS, ENUM_VERDICT, ENUM_CAUSE, ENUM_SNR_REASON, ENUM_PERIOD = 0, 1, 2, 3, 4
ENUM_PERIOD_SOURCE, ENUM_PERIOD_WARNING, ENUM_ALIGNED, ENUM_SIGNAL = 5, 6, 7, 8
ENUM_CHECK, ENUM_LIMITS = 9, 10
CHECK_COUNT = 7  # AM_CHECK_COUNT: the checks of a device's limits

_d, _i32, _u32, _i64 = ctypes.c_double, ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64


class GainOptions(ctypes.Structure):
    """am_gain_options."""

    _fields_ = [("struct_size", _u32), ("step_period", _i32),
                ("max_noise_distortion_db", _d), ("max_spread_excess_db", _d),
                ("max_clipped_samples", _i64), ("drift_correct", _i32), ("reserved0", _i32)]


class GainReport(ctypes.Structure):
    """am_gain_report: the header's fields in its order."""

    _fields_ = [
        ("struct_size", _u32), ("verdict", _i32), ("verdict_causes", _u32), ("causes", _u32),
        ("step_level", _d * STEPS), ("step_range", _d * STEPS), ("peak_level", _d),
        ("failed", _d),
        ("reference_step_level", _d * STEPS), ("reference_step_range", _d * STEPS),
        ("gain", _d * STEPS), ("coverage", _d * STEPS),
        ("step_start", _i64 * STEPS), ("step_samples", _i64 * STEPS),
        ("uncovered_steps", _u32),
        ("step_period", _i32), ("step_period_s", _d), ("step_mode", _d),
        ("step_period_source", _i32), ("step_period_warning", _i32),
        ("fitting_period_s", _d), ("median_step_spread_db", _d * 2), ("layout_held", _i32 * 2),
        ("onset_frame_reference", _i32), ("onset_frame_recording", _i32),
        ("coarse_delay", _d), ("coarse_delay_flag", _d), ("peak_index", _i32), ("aligned", _i32),
        ("peak_value", _d), ("trust_ratio", _d), ("total_delay", _d), ("total_delay_ms", _d),
        ("delay", _i64), ("aligned_samples", _i64),
        ("reference_length", _i64), ("recording_length", _i64),
        ("non_finite_signal", _i32), ("reserved0", _i32), ("non_finite_position", _i64),
        ("non_finite_value", _d),
        ("noise_distortion_db", _d * STEPS), ("dc_offset_db", _d * STEPS),
        ("spread_excess_db", _d * STEPS), ("clipped_samples", _i64 * STEPS),
        ("step_questionable", _u32 * STEPS), ("questionable_steps", _u32),
        ("drift_ppm", _d), ("drift_corrected", _i32), ("reserved1", _i32),
    ]


class SnrOptions(ctypes.Structure):
    """am_snr_options."""

    _fields_ = [("struct_size", _u32), ("align", _i32)]


class SnrReport(ctypes.Structure):
    """am_snr_report: the header's fields in its order."""

    _fields_ = [
        ("struct_size", _u32), ("verdict", _i32), ("reason", _i32), ("aligned", _i32),
        ("snr_db", _d), ("fs", _d),
        ("frame_length", _d), ("frame_count", _d), ("active_frames", _d),
        ("activity_factor", _d), ("active_power_sum", _d), ("inactive_power_sum", _d),
        ("noise_power", _d), ("signal_power", _d), ("noise_power_db", _d),
        ("signal_power_db", _d),
        ("lag", _i64), ("lag_window", _i64), ("lag_max", _i64),
        ("gate_first", _i64), ("measured_first", _i64), ("gate_samples", _i64),
        ("gate_length", _i64), ("measured_length", _i64),
        ("non_finite_signal", _i32), ("reserved0", _i32), ("non_finite_position", _i64),
        ("non_finite_value", _d),
        ("lag_prominence", _d), ("lag_reliable", _i32), ("reserved1", _i32),
    ]


class GainLimits(ctypes.Structure):
    """am_gain_limits."""

    _fields_ = [
        ("struct_size", _u32), ("reserved0", _i32),
        ("gain_min_db", _d * STEPS), ("gain_max_db", _d * STEPS), ("spread_max_db", _d * STEPS),
        ("noise_distortion_max_db", _d * STEPS), ("clipped_max", _d * STEPS),
        ("delay_max_samples", _d), ("drift_max_ppm", _d),
    ]


class SnrLimits(ctypes.Structure):
    """am_snr_limits."""

    _fields_ = [("struct_size", _u32), ("reserved0", _i32), ("snr_min_db", _d),
                ("snr_max_db", _d)]


class Judgement(ctypes.Structure):
    """am_judgement."""

    _fields_ = [("struct_size", _u32), ("outcome", _i32), ("failed_checks", _u32),
                ("failed_steps", _u32 * CHECK_COUNT)]


class EmxArray(ctypes.Structure):
    """emxArray_real_T: the fixed libraries' array record."""

    _fields_ = [
        ("data", ctypes.POINTER(ctypes.c_double)),
        ("size", ctypes.POINTER(ctypes.c_int32)),
        ("capacity", ctypes.c_int32),
        ("numDims", ctypes.c_int32),
        ("ownsData", ctypes.c_uint8),
    ]


# The structs whose defaults the library writes (am_<name>_init_size).
INITIALIZED = {"gain_options": GainOptions, "gain_report": GainReport,
               "snr_options": SnrOptions, "snr_report": SnrReport, "gain_limits": GainLimits,
               "snr_limits": SnrLimits, "judgement": Judgement}


def initialized(lib, struct):
    """A struct of this package's size with the library's defaults in it."""
    name = next(name for name, s in INITIALIZED.items() if s is struct)
    value = struct()
    getattr(lib, "am_%s_init_size" % name)(ctypes.byref(value), ctypes.sizeof(struct))
    return value


RecordPointer = ctypes.POINTER(EmxArray)
DoublePointer = ctypes.POINTER(ctypes.c_double)
_Handle = ctypes.c_void_p


def _file_name(name):
    return name + ".dll" if sys.platform == "win32" else "lib" + name + ".so"


def variable(name):
    """The environment variable that names library `name`'s file."""
    return name.upper() + "_LIBRARY"


def candidates(name, environ=None, package=_HERE, checkout=_CHECKOUT):
    """The files tried for library `name`, in order, and whether the first
    was named by the environment variable (then it is the only one)."""
    environ = os.environ if environ is None else environ
    if environ.get(variable(name)):
        return [environ[variable(name)]], True
    own = os.path.join(package, _file_name(name))
    built = os.path.join(checkout, "build", "release", name, _file_name(name))
    return [path for path in (own, built) if os.path.exists(path)] + [_file_name(name)], False


def _declare(lib, function, argtypes, restype):
    try:
        f = getattr(lib, function)
    except AttributeError:
        raise _NotTheLibrary("it exports no %s" % function) from None
    f.argtypes = argtypes
    f.restype = restype


def _declare_audiomeasure(lib):
    P = ctypes.POINTER
    D = DoublePointer
    for function, argtypes, restype in [
            ("am_version", [], ctypes.c_char_p),
            ("am_enum_name", [ctypes.c_int, ctypes.c_int], ctypes.c_char_p),
            ("am_enum_text", [ctypes.c_int, ctypes.c_int], ctypes.c_char_p),
            ("am_status_text", [ctypes.c_int], ctypes.c_char_p),
            ("am_gain_reference_minimum", [ctypes.c_int], _i64),
            ("am_gain_measure", [D, _i64, D, _i64, P(GainOptions), P(GainReport)], ctypes.c_int),
            ("am_gain_reference_create", [P(GainOptions), _i64, P(_Handle)], ctypes.c_int),
            ("am_gain_reference_feed", [_Handle, D, _i64], ctypes.c_int),
            ("am_gain_reference_finish", [_Handle], ctypes.c_int),
            ("am_gain_reference_destroy", [_Handle], None),
            ("am_gain_create", [_Handle, P(_Handle)], ctypes.c_int),
            ("am_gain_feed_recording", [_Handle, D, _i64], ctypes.c_int),
            ("am_gain_finish", [_Handle, P(GainReport)], ctypes.c_int),
            ("am_gain_destroy", [_Handle], None),
            ("am_snr_measure", [D, _i64, D, _i64, _d, P(SnrOptions), P(SnrReport)],
             ctypes.c_int),
            ("am_gain_judge", [P(GainReport), P(GainLimits), P(Judgement)], ctypes.c_int),
            ("am_snr_judge", [P(SnrReport), P(SnrLimits), P(Judgement)], ctypes.c_int)] + [
                # The defaults of each struct, written for this package's size.
                ("am_%s_init_size" % name, [P(struct), _u32], None)
                for name, struct in INITIALIZED.items()]:
        _declare(lib, function, argtypes, restype)
    # The reports this library writes must hold every field declared here:
    # a library older than this package writes fewer (it writes no more than
    # its own struct_size, and the rest would stay 0).
    found = lib.am_version().decode()
    if _version_tuple(found) < _version_tuple(__version__):
        raise _NotTheLibrary(
            "it is version %s, older than this package's %s: its reports lack fields this "
            "package reads" % (found, __version__))


def _version_tuple(text):
    return tuple(int(part) for part in text.split(".")[:3] if part.isdigit())


def _declare_runtime(lib):
    _declare(lib, "emxCreateWrapper_real_T", [DoublePointer, ctypes.c_int32, ctypes.c_int32],
             RecordPointer)
    _declare(lib, "emxDestroyArray_real_T", [RecordPointer], None)


def _declare_lumetra(lib):
    _declare_runtime(lib)
    _declare(lib, "lumetra_estimation_initialize", [], None)
    _declare(lib, "lumetra_estimation", [
        RecordPointer, RecordPointer, ctypes.c_double, ctypes.c_double, ctypes.c_double,
        DoublePointer, DoublePointer, DoublePointer, DoublePointer], None)
    lib.lumetra_estimation_initialize()


def _declare_quenbar(lib):
    _declare_runtime(lib)
    _declare(lib, "SNR_estimation_initialize", [], None)
    _declare(lib, "SNR_estimation", [
        RecordPointer, RecordPointer, ctypes.c_double, DoublePointer, DoublePointer], None)
    lib.SNR_estimation_initialize()


class _NotTheLibrary(Exception):
    """A file that loads but is not the library asked for."""


_DECLARE = {"audiomeasure": _declare_audiomeasure, "lumetra": _declare_lumetra,
            "quenbar": _declare_quenbar}


def load(name, environ=None):
    """Library `name` ("audiomeasure", "lumetra" or "quenbar") loaded from
    the first place that has it, declared and initialized; not kept (see
    library()). Raises OSError saying what is wrong with the file the
    environment variable names, or naming every place tried."""
    paths, chosen = candidates(name, environ)
    errors = []
    for path in paths:
        try:
            lib = ctypes.CDLL(path)
        except OSError as error:
            errors.append("%s (%s)" % (path, error))
            continue
        try:
            _DECLARE[name](lib)
        except _NotTheLibrary as error:
            errors.append("%s (not the %s library this package needs: %s)" % (path, name, error))
            continue
        return lib
    if chosen:
        raise OSError("cannot use the %s library that %s names: %s"
                      % (name, variable(name), errors[0]))
    raise OSError("cannot load the %s library; set %s to its file. Tried: %s"
                  % (name, variable(name), "; ".join(errors)))


_loaded = {}
_load_lock = threading.Lock()


def library(name):
    """The library `name`, loaded on first use (see load()) and kept."""
    with _load_lock:
        if name not in _loaded:
            _loaded[name] = load(name)
        return _loaded[name]


class Wrapped:
    """A fixed library's record over a 1-D C-contiguous float64 array's own
    buffer (nothing copied), released on leaving the `with` block. The array
    must stay alive meanwhile; the libraries only read it."""

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
