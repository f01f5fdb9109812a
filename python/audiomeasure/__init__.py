"""Python binding of the lumetra and quenbar measurement libraries.

    from audiomeasure import estimate_gain, estimate_snr
    gain = estimate_gain(reference, recording, step_period=25.2)
    snr = estimate_snr(gate, measured, fs=48000)

Samples are on the libraries' 16-bit scale: full scale is 32767 (pass a
16-bit file's integer values as they are; multiply samples in [-1, 1] by
32767). Levels are dB relative to 32767.

Arrays: one-dimensional, real. A C-contiguous float64 array is handed to the
library without a copy (the library only reads it); any other array (other
dtypes, strided views, lists) is first converted to one, which copies it.
Masked arrays are refused: the libraries would read the masked values.

The shared libraries are found as _native explains (LUMETRA_LIBRARY and
QUENBAR_LIBRARY name their files). lumetra keeps its working buffers in
static storage, so calls into it must not overlap: estimate_gain holds a
lock for the whole call, and threads calling it take turns. estimate_snr
takes no lock: quenbar keeps no state.
"""

import ctypes
import decimal
import math
import numbers
import threading
from dataclasses import dataclass

import numpy as np

from . import _native
from ._version import __version__  # noqa: F401  (the project's version)

__all__ = ["estimate_gain", "estimate_snr", "GainResult", "SnrResult", "STEP_PERIODS"]

STEPS = 11
SPAN = 720000  # the 15 s alignment opening at 48000 Hz
RATE = 48000.0
MAX_SAMPLES = 2**31 - 1  # the libraries count samples in 32-bit signed integers

# step_period in seconds -> the library's stepMode argument.
STEP_PERIODS = {25.2: 0.0, 24.7: 1.0}

_lumetra_lock = threading.Lock()


@dataclass(frozen=True)
class GainResult:
    """lumetra_estimation's outputs. step_levels, step_ranges: 11 float64
    each (read-only arrays), dB re 32767; peak_level: dB re 32767; failed:
    True when the measurement cannot be trusted (the library's flag 1.0)."""

    step_levels: np.ndarray
    step_ranges: np.ndarray
    peak_level: float
    failed: bool
    step_period: float


@dataclass(frozen=True)
class SnrResult:
    """SNR_estimation's result in dB, NaN or infinite when the signals allow
    no estimate (see the quenbar-snr tool for the reason)."""

    snr_db: float
    fs: float

    @property
    def finite(self):
        return math.isfinite(self.snr_db)


def _number_text(x):
    """A real number for a message, as a float; in scientific notation when
    it is huge (an int beyond the doubles included)."""
    try:
        v = float(x)
    except OverflowError:
        return format(decimal.Decimal(int(x)), ".6e")
    return repr(v) if abs(v) < 1e15 or not math.isfinite(v) else "%.6e" % v


def _count_text(n):
    """A whole number for a message; in scientific notation when huge."""
    return "%d" % n if n < 10**15 else "%.6e" % n


def _real(x):
    """x as a float, or None when it is not a real number (bool included)
    or lies beyond the doubles."""
    if isinstance(x, bool) or not isinstance(x, numbers.Real):
        return None
    try:
        return float(x)
    except (OverflowError, ValueError, TypeError):
        return None


def _step_period(step_period):
    """(25.2 or 24.7, stepMode) for a step period given as any real number
    that is 25.2 or 24.7 in float64 or in float32."""
    v = _real(step_period)
    if v is not None:
        with np.errstate(over="ignore"):
            narrow = np.float32(v)
        for period, mode in STEP_PERIODS.items():
            if v == period or narrow == np.float32(period):
                return period, mode
    real = isinstance(step_period, numbers.Real) and not isinstance(step_period, bool)
    given = _number_text(step_period) if real else repr(step_period)
    raise ValueError("step_period is 25.2 or 24.7 (seconds), not %s" % given)


def _samples(x, name):
    """x as a 1-D C-contiguous float64 array: x itself when it is one."""
    if isinstance(x, np.ma.MaskedArray):
        raise TypeError("%s: a masked array; the libraries would read the masked samples too: "
                        "pass x.filled(value) or x.compressed()" % name)
    if isinstance(x, np.ndarray) and x.dtype == np.float64:
        a = x
    else:
        a = np.asarray(x)
        if a.dtype == object or not (np.issubdtype(a.dtype, np.integer) or
                                     np.issubdtype(a.dtype, np.floating)):
            raise TypeError("%s: real numbers are needed, not %s" % (name, a.dtype))
    if a.ndim != 1:
        raise ValueError("%s: one-dimensional samples are needed (one channel), not shape %s"
                         % (name, a.shape))
    if len(a) > MAX_SAMPLES:
        raise ValueError("%s: %d samples, more than the %d the libraries take"
                         % (name, len(a), MAX_SAMPLES))
    return np.ascontiguousarray(a, dtype=np.float64)


def required_reference_length(step_period):
    """Samples a reference needs: the opening and 10 whole steps
    (12816000 at 25.2 s, 12576000 at 24.7 s)."""
    return SPAN + math.floor((10.0 * step_period) * RATE)


def estimate_gain(reference, recording, step_period=25.2):
    """Aligns `recording` (what a device captured, 48000 Hz) to `reference`
    (the stepped stimulus as played) and measures its 11 steps with
    lumetra_estimation. step_period: 25.2 or 24.7 seconds.

    step_period may be any real number type (float, numpy.float32, Fraction,
    ...) whose value is 25.2 or 24.7 as a float64 or as a float32.

    Raises ValueError or TypeError, before calling the library, for a step
    period other than those two, arrays that are not 1-D real samples
    (masked arrays included), a reference shorter than
    required_reference_length(step_period), or a recording shorter than
    720000 samples (15 s)."""
    step_period, step_mode = _step_period(step_period)
    ref = _samples(reference, "reference")
    rec = _samples(recording, "recording")
    need = required_reference_length(step_period)
    if len(ref) < need:
        raise ValueError("reference: %d samples; with %s s steps it needs at least %d "
                         "(the 15 s opening and 10 whole steps)" % (len(ref), step_period, need))
    if len(rec) < SPAN:
        raise ValueError("recording: %d samples; it needs at least %d (15 s) to be aligned"
                         % (len(rec), SPAN))

    lib = _native.library("lumetra")
    levels = np.empty(STEPS)
    ranges = np.empty(STEPS)
    peak = ctypes.c_double()
    failed = ctypes.c_double()
    with _lumetra_lock:
        with _native.Wrapped(lib, ref) as r, _native.Wrapped(lib, rec) as c:
            lib.lumetra_estimation(r, c, 0.0, 0.0, step_mode,
                                   levels.ctypes.data_as(_native.DoublePointer),
                                   ranges.ctypes.data_as(_native.DoublePointer),
                                   ctypes.byref(peak), ctypes.byref(failed))
    levels.flags.writeable = False
    ranges.flags.writeable = False
    return GainResult(levels, ranges, peak.value, failed.value != 0.0, step_period)


def estimate_snr(gate, measured, fs):
    """The SNR of `measured` in dB, `gate` deciding which 5 ms frames hold
    signal, at the rate fs (Hz) of both, through SNR_estimation.

    Raises ValueError or TypeError, before calling the library, for arrays
    that are not 1-D real samples (masked arrays included), an fs that is
    not a finite real number of at least 200, a gate shorter than one frame
    (floor(0.005 fs) samples), or a measured signal shorter than the gate's
    whole frames."""
    if isinstance(fs, bool) or not isinstance(fs, numbers.Real):
        raise TypeError("fs: a number of samples per second is needed, not %r" % (fs,))
    rate = _real(fs)
    frame = math.floor(0.005 * rate) if rate is not None and math.isfinite(rate) else 0
    if frame < 1:
        raise ValueError("fs: %s Hz; a 5 ms frame needs a finite rate of at least 200 Hz"
                         % _number_text(fs))
    fs = rate
    g = _samples(gate, "gate")
    m = _samples(measured, "measured")
    frames = len(g) // frame
    if frames < 1:
        raise ValueError("gate: %d samples, fewer than one 5 ms frame (%s at %s Hz)"
                         % (len(g), _count_text(frame), _number_text(fs)))
    if len(m) < frames * frame:
        raise ValueError("measured: %d samples; the gate's %d whole frames need %d"
                         % (len(m), frames, frames * frame))

    lib = _native.library("quenbar")
    snr = ctypes.c_double()
    extra = ctypes.c_double()
    with _native.Wrapped(lib, g) as gr, _native.Wrapped(lib, m) as mr:
        lib.SNR_estimation(gr, mr, fs, ctypes.byref(snr), ctypes.byref(extra))
    return SnrResult(snr.value, fs)

