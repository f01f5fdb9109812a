"""Gain and SNR measurements with every diagnostic and a verdict, through
the audiomeasure library.

    import audiomeasure
    report = audiomeasure.measure_gain(reference, recording)     # step period "auto"
    report.verdict, report.gain, report.delay, report.step_period
    snr = audiomeasure.measure_snr(gate, measured, fs=48000)
    snr.verdict, snr.snr_db, snr.reason, snr.lag
    reports = audiomeasure.measure_files("reference.wav", ["a.wav", "b.wav"])

Reports. measure_gain gives a GainReport, measure_snr an SnrReport: frozen
objects with every field of the C reports am_gain_report and am_snr_report
under the C names (but struct_size and the padding reserved0). Numbers are
floats and ints; arrays are read-only numpy arrays (float64, or int64 for
step_start, step_samples and layout_held); enumerations are their stable
names (verdict "trusted", step_period "25.2", aligned "whole", reason
"finite", non_finite_signal "recording", ...); step_period_warning is None
or its name ("no_clear_fit", "contradicted"); the cause bit sets
verdict_causes and causes are tuples of cause names in cause order
("non_finite_samples", "not_lagging", ..., "steps_not_covered");
uncovered_steps is a tuple of step numbers counted from 1. The SNR report's
aligned is a bool. The C header, audiomeasure.h, says what every field
means.

Look at the verdict before the numbers. Gain: "trusted"; "not_trusted"
(failed is 1.0: the alignment failed or no step has a usable block, see
causes); "incomplete" (the recording ends before the measured half of the
steps in uncovered_steps: they are measured partly on silence);
"non_finite_samples" (a sample the measurement uses is NaN or infinite: see
non_finite_signal, non_finite_position). SNR: "finite"; "not_finite" (reason
says why); "non_finite_samples". step_period_warning, when not None, says
the step period measured may be the wrong one.

Refusals: an input the library cannot measure raises before anything is
measured: ValueError for a bad argument, length or rate or an input too
short, MemoryError when the library cannot have the memory. The message
says what was given and ends with the library's text for the refusal; the
exception's `status` attribute is its stable name ("short_reference",
"bad_rate", ...). Wrong Python types raise TypeError.

Samples are on the 16-bit scale: full scale is 32767 (pass a 16-bit file's
integer values as they are; multiply samples in [-1, 1] by 32767). Levels
are dB re 32767. Gain measurements are at 48000 Hz.

Arrays: one-dimensional, real. A C-contiguous float64 array is handed to the
library without a copy (the library only reads it); any other array (other
dtypes, strided views, lists) is first converted to one, which copies it.
Masked arrays are refused: the library would read the masked values.

Threads: the library is reentrant and the interpreter's lock is released
while it measures, so threads measure in parallel (a gain measurement holds
about 80 MB of working memory while it runs).

estimate_gain and estimate_snr are the earlier interface: the numbers of
the fixed libraries' entry points alone (GainResult, SnrResult), the same
bits, taken from audiomeasure's reports; they say nothing of what the
verdicts catch.

The shared library is found as _native explains (AUDIOMEASURE_LIBRARY names
its file).
"""

import ctypes
import dataclasses
import decimal
import functools
import math
import numbers
from dataclasses import dataclass

import numpy as np

from . import _native
from ._version import __version__  # noqa: F401  (the project's version)

__all__ = ["measure_gain", "measure_snr", "measure_files", "measure_snr_files", "GainReport",
           "SnrReport", "estimate_gain", "estimate_snr", "GainResult", "SnrResult",
           "STEP_PERIODS", "required_reference_length"]

# step_period in seconds -> lumetra_estimation's stepMode.
STEP_PERIODS = {25.2: 0.0, 24.7: 1.0}
_PERIOD_OPTIONS = {25.2: _native.PERIOD_25_2, 24.7: _native.PERIOD_24_7}


def _lib():
    return _native.library("audiomeasure")


@functools.lru_cache(maxsize=None)
def _name(kind, value):
    """am_enum_name(kind, value): static names, so kept once asked."""
    return _lib().am_enum_name(kind, value).decode("ascii")


# ------------------------------------------------------------------ reports --

def _bit_names(bits):
    return tuple(_name(_native.ENUM_CAUSE, k) for k in range(32) if bits >> k & 1)


def _step_numbers(bits):
    return tuple(k + 1 for k in range(32) if bits >> k & 1)


def _warning(value):
    name = _name(_native.ENUM_PERIOD_WARNING, value)
    return None if name == "none" else name


def _enum(kind):
    return lambda value: _name(kind, value)


def _array(values):
    element = values._type_
    a = np.array(values, dtype=np.float64 if element is ctypes.c_double else np.int64)
    a.flags.writeable = False
    return a


# The fields that are not plain numbers or arrays, by how they are given.
_GAIN_FIELDS = {
    "verdict": _enum(_native.ENUM_VERDICT),
    "verdict_causes": _bit_names,
    "causes": _bit_names,
    "uncovered_steps": _step_numbers,
    "step_period": _enum(_native.ENUM_PERIOD),
    "step_period_source": _enum(_native.ENUM_PERIOD_SOURCE),
    "step_period_warning": _warning,
    "aligned": _enum(_native.ENUM_ALIGNED),
    "non_finite_signal": _enum(_native.ENUM_SIGNAL),
}
_SNR_FIELDS = {
    "verdict": _enum(_native.ENUM_VERDICT),
    "reason": _enum(_native.ENUM_SNR_REASON),
    "aligned": bool,
    "non_finite_signal": _enum(_native.ENUM_SIGNAL),
}
_LEFT_OUT = ("struct_size", "reserved0")


def _report_class(name, struct, special, doc):
    """A frozen class with the fields of the ctypes struct (but _LEFT_OUT),
    and the function that makes one from a filled struct."""
    fields = [(field, kind) for field, kind in struct._fields_ if field not in _LEFT_OUT]
    convert = []
    for field, kind in fields:
        if field in special:
            convert.append((field, special[field]))
        elif issubclass(kind, ctypes.Array):
            convert.append((field, _array))
        elif kind is ctypes.c_double:
            convert.append((field, float))
        else:
            convert.append((field, int))
    cls = dataclasses.make_dataclass(name, [field for field, _ in fields], frozen=True, eq=False,
                                     namespace={"__doc__": doc})
    cls.__module__ = __name__

    def make(filled):
        return cls(**{field: f(getattr(filled, field)) for field, f in convert})
    return cls, make


GainReport, _gain_report = _report_class("GainReport", _native.GainReport, _GAIN_FIELDS, """\
A gain measurement: every field of am_gain_report under its C name.

verdict ("trusted", "not_trusted", "incomplete", "non_finite_samples") and
verdict_causes (cause names); failed (1.0 or 0.0) and causes, lumetra's
reasons for it. Per step, 11-element read-only arrays (step k at index
k - 1): step_level, step_range (dB re 32767: lumetra_estimation's
numbers), reference_step_level, reference_step_range, gain (step_level -
reference_step_level), coverage (share of the step's measured half taken
from the recording; NaN for an empty one), step_start, step_samples
(int64). peak_level. uncovered_steps: step numbers from 1. step_period
("25.2" or "24.7", the one measured), step_period_s, step_mode,
step_period_source ("option", "auto"), step_period_warning (None,
"no_clear_fit", "contradicted"), fitting_period_s, median_step_spread_db and
layout_held ([0] 25.2 s, [1] 24.7 s). The alignment: onset_frame_reference,
onset_frame_recording, coarse_delay, coarse_delay_flag, peak_index,
peak_value, trust_ratio, total_delay, total_delay_ms, delay (samples the
recording lags the reference), aligned ("none", "whole", "head"),
aligned_samples. reference_length, recording_length. The first NaN or
infinite sample used: non_finite_signal ("none", "reference",
"recording"), non_finite_position (-1 when none), non_finite_value.
""")

SnrReport, _snr_report = _report_class("SnrReport", _native.SnrReport, _SNR_FIELDS, """\
An SNR measurement: every field of am_snr_report under its C name.

verdict ("finite", "not_finite", "non_finite_samples"); snr_db (what
SNR_estimation gives for the pairs measured) and reason ("finite",
"no_inactive_frame", "no_active_frame", "non_finite_samples",
"silent_measured", "signal_below_noise", "zero_noise"); fs; aligned (True
when the pairs were shifted by the lag). The quantities behind the
estimate, NaN where it did not reach them: frame_length, frame_count,
active_frames, activity_factor, active_power_sum, inactive_power_sum,
noise_power, signal_power, noise_power_db, signal_power_db. The lag of the
measured signal behind the gate: lag (samples; > 0: measured is late),
lag_window, lag_max; gate_first, measured_first (the first sample of each
measured), gate_samples, gate_length, measured_length. The first NaN or
infinite sample read: non_finite_signal ("none", "gate", "measured"),
non_finite_position (-1 when none), non_finite_value.
""")


# ------------------------------------------------------------------- inputs --

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


def _step_period(step_period, auto):
    """The period option (AM_PERIOD_*) and its seconds (None for "auto") for
    "auto" (when allowed) or any real number that is 25.2 or 24.7 in
    float64 or in float32."""
    if auto and isinstance(step_period, str) and step_period == "auto":
        return _native.PERIOD_AUTO, None
    v = _real(step_period)
    if v is not None:
        with np.errstate(over="ignore"):
            narrow = np.float32(v)
        for period, option in _PERIOD_OPTIONS.items():
            if v == period or narrow == np.float32(period):
                return option, period
    real = isinstance(step_period, numbers.Real) and not isinstance(step_period, bool)
    given = _number_text(step_period) if real else repr(step_period)
    raise ValueError("step_period is %s25.2 or 24.7 (seconds), not %s"
                     % ('"auto", ' if auto else "", given))


def _samples(x, name):
    """x as a 1-D C-contiguous float64 array: x itself when it is one."""
    if isinstance(x, np.ma.MaskedArray):
        raise TypeError("%s: a masked array; the library would read the masked samples too: "
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
    if len(a) > _native.MAX_SAMPLES:
        raise ValueError("%s: %d samples, more than the %d the library takes"
                         % (name, len(a), _native.MAX_SAMPLES))
    return np.ascontiguousarray(a, dtype=np.float64)


def _rate(fs):
    """fs as a float for the library: infinite when it lies beyond the
    doubles, which the library refuses as it refuses any bad rate."""
    if isinstance(fs, bool) or not isinstance(fs, numbers.Real):
        raise TypeError("fs: a number of samples per second is needed, not %r" % (fs,))
    rate = _real(fs)
    return math.inf if rate is None else rate


def _data(a):
    return a.ctypes.data_as(_native.DoublePointer)


def _refused(status, detail):
    """The exception for a refusal of the library: `detail` (what was
    given), then the library's text; `status` is the refusal's name."""
    name = _name(_native.ENUM_STATUS, status)
    text = _lib().am_status_text(status).decode()
    kind = {"out_of_memory": MemoryError, "null_argument": RuntimeError,
            "bad_struct_size": RuntimeError, "bad_state": RuntimeError}.get(name, ValueError)
    error = kind("%s: %s" % (detail, text) if detail else text)
    error.status = name
    return error


def _gain_refused(status, option, lengths, names):
    """A gain refusal with the lengths given (reference, recording) and the
    names the message gives them."""
    name = _name(_native.ENUM_STATUS, status)
    if name == "short_reference":
        periods = [option] if option != _native.PERIOD_AUTO else [_native.PERIOD_24_7,
                                                                  _native.PERIOD_25_2]
        needs = ", ".join("with %s s steps it needs at least %d"
                          % (_name(_native.ENUM_PERIOD, p), _lib().am_gain_reference_minimum(p))
                          for p in periods)
        detail = "%s: %d samples; %s" % (names[0], lengths[0], needs)
    elif name == "short_recording":
        detail = "%s: %d samples; it needs at least %d (15 s)" % (names[1], lengths[1],
                                                                  _native.GAIN_SPAN)
    else:
        detail = "%s: %d samples, %s: %d samples" % (names[0], lengths[0], names[1], lengths[1])
    return _refused(status, detail)


def _snr_refused(status, fs, rate, lengths, names):
    name = _name(_native.ENUM_STATUS, status)
    frame = math.floor(0.005 * rate) if math.isfinite(rate) else 0
    if name == "bad_rate":
        detail = "fs: %s Hz" % _number_text(fs)
    elif name == "short_gate":
        detail = "%s: %d samples; a 5 ms frame at %s Hz is %s" % (
            names[0], lengths[0], _number_text(rate), _count_text(frame))
    elif name == "short_measured":
        frames = lengths[0] // frame
        detail = "%s: %d samples; the gate's %d whole frames need %d" % (
            names[1], lengths[1], frames, frames * frame)
    else:
        detail = "%s: %d samples, %s: %d samples" % (names[0], lengths[0], names[1], lengths[1])
    return _refused(status, detail)


# ------------------------------------------------------------- measurements --

def _gain(reference, recording, option, names=("reference", "recording")):
    """am_gain_measure on two checked arrays: the GainReport."""
    options = _native.GainOptions(ctypes.sizeof(_native.GainOptions), option)
    report = _native.GainReport(struct_size=ctypes.sizeof(_native.GainReport))
    status = _lib().am_gain_measure(_data(reference), len(reference), _data(recording),
                                    len(recording), ctypes.byref(options), ctypes.byref(report))
    if status != 0:
        raise _gain_refused(status, option, (len(reference), len(recording)), names)
    return _gain_report(report)


def _snr(gate, measured, fs, align, names=("gate", "measured")):
    """am_snr_measure on two checked arrays: the SnrReport."""
    rate = _rate(fs)
    options = _native.SnrOptions(ctypes.sizeof(_native.SnrOptions), 1 if align else 0)
    report = _native.SnrReport(struct_size=ctypes.sizeof(_native.SnrReport))
    status = _lib().am_snr_measure(_data(gate), len(gate), _data(measured), len(measured), rate,
                                   ctypes.byref(options), ctypes.byref(report))
    if status != 0:
        raise _snr_refused(status, fs, rate, (len(gate), len(measured)), names)
    return _snr_report(report)


def _align(align):
    if not isinstance(align, (bool, np.bool_)):
        raise TypeError("align: True or False, not %r" % (align,))
    return bool(align)


def measure_gain(reference, recording, step_period="auto"):
    """The gain of a device under the stepped test signal, with every
    diagnostic and a verdict: a GainReport.

    reference: the stimulus as played; recording: what the device captured;
    both 1-D samples at 48000 Hz on the 16-bit scale. step_period: "auto"
    (read from the reference's own steps; step_period_warning says when
    that is not clear), or 25.2 or 24.7 seconds given as any real number
    type whose value is one of them in float64 or float32 (a period the
    reference contradicts is measured as given, with the warning
    "contradicted").

    Check report.verdict before using the numbers (see the module's help).
    Raises TypeError for arguments of the wrong kind (masked arrays
    included); ValueError for a step period other than those, arrays that
    are not 1-D, a reference shorter than the 15 s opening and 10 whole
    steps (required_reference_length), a recording shorter than 15 s;
    MemoryError when the library cannot have its working memory (about
    80 MB). The calling thread waits; other threads run meanwhile."""
    option, _ = _step_period(step_period, auto=True)
    return _gain(_samples(reference, "reference"), _samples(recording, "recording"), option)


def measure_snr(gate, measured, fs, align=False):
    """The SNR of `measured` in dB, `gate` deciding which 5 ms frames hold
    signal, at fs Hz for both, with its diagnostics, the lag between the two
    and a verdict: an SnrReport.

    align: False (default) measures gate[i] against measured[i], the lag
    only reported; True shifts the later signal by the lag estimated from
    the openings first.

    Check report.verdict before using snr_db (see the module's help).
    Raises TypeError for arguments of the wrong kind (masked arrays, an fs
    that is not a real number, an align that is not a bool); ValueError for
    arrays that are not 1-D, an fs that is not a finite rate of at least
    200 Hz, a gate shorter than one frame, a measured signal shorter than
    the gate's whole frames (not aligned), signals that share no whole
    frame once shifted (aligned); MemoryError when memory runs out."""
    _rate(fs)
    align = _align(align)
    return _snr(_samples(gate, "gate"), _samples(measured, "measured"), fs, align)


def required_reference_length(step_period):
    """Samples a reference needs: the opening and 10 whole steps
    (12816000 at 25.2 s, 12576000 at 24.7 s; "auto": the shorter)."""
    option, _ = _step_period(step_period, auto=True)
    return _lib().am_gain_reference_minimum(option)


# ------------------------------------------------------- the earlier results --

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
    no estimate (measure_snr's reason says why)."""

    snr_db: float
    fs: float

    @property
    def finite(self):
        return math.isfinite(self.snr_db)


def estimate_gain(reference, recording, step_period=25.2):
    """lumetra_estimation's four outputs for `recording` (what a device
    captured, 48000 Hz) aligned to `reference` (the stepped stimulus as
    played), bit for bit, as a GainResult. step_period: 25.2 or 24.7
    seconds, given as any real number type (float, numpy.float32, Fraction,
    ...) whose value is one of them as a float64 or as a float32.

    The result says nothing of a recording cut short, non-finite samples or
    a step period the reference contradicts: measure_gain does.

    Raises as measure_gain does (a step period of "auto" is refused)."""
    option, seconds = _step_period(step_period, auto=False)
    report = _gain(_samples(reference, "reference"), _samples(recording, "recording"), option)
    return GainResult(report.step_level, report.step_range, report.peak_level,
                      report.failed != 0.0, seconds)


def estimate_snr(gate, measured, fs):
    """SNR_estimation's SNR of `measured` in dB, `gate` deciding which 5 ms
    frames hold signal, at the rate fs (Hz) of both, bit for bit, as an
    SnrResult. Raises as measure_snr does."""
    rate = _rate(fs)
    report = _snr(_samples(gate, "gate"), _samples(measured, "measured"), fs, False)
    return SnrResult(report.snr_db, rate)


from ._files import measure_files, measure_snr_files  # noqa: E402
