"""Gain and SNR measurements with every diagnostic and a verdict, through
the audiomeasure library.

    import audiomeasure
    report = audiomeasure.measure_gain(reference, recording)     # step period "auto"
    report.verdict, report.gain, report.delay, report.step_period
    snr = audiomeasure.measure_snr(gate, measured, fs=48000)
    snr.verdict, snr.snr_db, snr.reason, snr.lag
    reports = audiomeasure.measure_files("reference.wav", ["a.wav", "b.wav"])
    audiomeasure.judge(report, {"gain": {"min_db": -4, "max_db": 4}}).outcome   # "pass"

Reports. measure_gain gives a GainReport, measure_snr an SnrReport: frozen
objects with every field of the C reports am_gain_report and am_snr_report
under the C names (but struct_size and the padding reserved0, reserved1).
Numbers are floats and ints; arrays are read-only numpy arrays (float64, or
int64 for step_start, step_samples, layout_held and clipped_samples);
enumerations are their stable names (verdict "trusted", step_period "25.2",
aligned "whole", reason "finite", non_finite_signal "recording", ...);
step_period_warning is None or its name ("no_clear_fit", "contradicted");
the cause bit sets verdict_causes and causes are tuples of cause names in
cause order ("non_finite_samples", "not_lagging", ..., "unsteady"), and
step_questionable is such a tuple per step; uncovered_steps and
questionable_steps are tuples of step numbers counted from 1. Flags
(drift_corrected, the SNR report's aligned and lag_reliable) are bools. The
C header, audiomeasure.h, says what every field means.

Look at the verdict before the numbers. Gain: "trusted"; "questionable"
(aligned and whole, but the reading of the steps in questionable_steps is
doubtful: noise and distortion near their level, clipping, or a level that
moves; step_questionable says which); "not_trusted" (failed is 1.0: the
alignment failed or no step has a usable block, see causes, and
verdict_causes for silence or clock drift behind it); "incomplete" (the
recording ends before the measured half of the steps in uncovered_steps:
they are measured partly on silence); "non_finite_samples" (a sample the
measurement uses is NaN or infinite: see non_finite_signal,
non_finite_position). SNR: "finite"; "not_finite" (reason says why);
"non_finite_samples". step_period_warning, when not None, says the step
period measured may be the wrong one. Whether the device is inside its
limits is judge's Judgement.

Refusals: an input the library cannot measure raises before anything is
measured: ValueError for a bad argument, option, length or rate, an input
too short, or (measure_snr with align) a lag that does not stand out,
MemoryError when the library cannot have the memory. The message says what
was given and ends with the library's text for the refusal; the
exception's `status` attribute is its stable name ("short_reference",
"bad_rate", "unreliable_lag", ...). Wrong Python types raise TypeError.

Samples are on the 16-bit scale: full scale is 32767 (pass a 16-bit file's
integer values as they are; multiply samples in [-1, 1] by 32767). Levels
are dB re 32767. Gain measurements are at 48000 Hz.

Arrays: one-dimensional, real. A C-contiguous float64 array is handed to the
library without a copy (the library only reads it); any other array (other
dtypes, strided views, lists) is first converted to one, which copies it.
Masked arrays are refused: the library would read the masked values.

Threads: the library is reentrant and the interpreter's lock is released
while it measures, so threads measure in parallel (a gain measurement holds
about 80 MB of working memory while it runs). measure_files and
measure_snr_files also take a concurrent.futures executor (threads,
processes, a Dask cluster's) and give the reports of the serial run.

estimate_gain and estimate_snr are the earlier interface: the numbers of
the fixed libraries' entry points alone (GainResult, SnrResult), the same
bits, taken from audiomeasure's reports; they say nothing of what the
verdicts catch.

The shared library is found as _native explains (AUDIOMEASURE_LIBRARY names
its file).
"""

import collections.abc
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
           "SnrReport", "judge", "Judgement", "estimate_gain", "estimate_snr", "GainResult",
           "SnrResult", "STEP_PERIODS", "required_reference_length"]

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

@functools.lru_cache(maxsize=None)
def _values(kind):
    """{name: value} of an enumeration (its values are small and from 0)."""
    return {_name(kind, v): v for v in range(64) if _name(kind, v) != "unknown"}


def _bit_names(bits):
    return tuple(_name(_native.ENUM_CAUSE, k) for k in range(32) if bits >> k & 1)


def _bits(names):
    return sum(1 << _values(_native.ENUM_CAUSE)[name] for name in names)


def _step_numbers(bits):
    return tuple(k + 1 for k in range(32) if bits >> k & 1)


def _step_bits(steps):
    return sum(1 << (k - 1) for k in steps)


def _warning(value):
    name = _name(_native.ENUM_PERIOD_WARNING, value)
    return None if name == "none" else name


def _enum(kind):
    return (lambda value: _name(kind, value)), (lambda name: _values(kind)[name])


def _array(values):
    element = values._type_
    a = np.array(values, dtype=np.float64 if element is ctypes.c_double else np.int64)
    a.flags.writeable = False
    return a


# The fields that are not plain numbers or arrays: how each is given, and
# how it is written back into the C struct (judge hands the library the
# report it is given).
_BOOL = (bool, int)
_GAIN_FIELDS = {
    "verdict": _enum(_native.ENUM_VERDICT),
    "verdict_causes": (_bit_names, _bits),
    "causes": (_bit_names, _bits),
    "uncovered_steps": (_step_numbers, _step_bits),
    "step_period": _enum(_native.ENUM_PERIOD),
    "step_period_source": _enum(_native.ENUM_PERIOD_SOURCE),
    "step_period_warning": (_warning,
                            lambda name: _values(_native.ENUM_PERIOD_WARNING)[name or "none"]),
    "aligned": _enum(_native.ENUM_ALIGNED),
    "non_finite_signal": _enum(_native.ENUM_SIGNAL),
    "step_questionable": (lambda bits: tuple(_bit_names(b) for b in bits),
                          lambda names: [_bits(n) for n in names]),
    "questionable_steps": (_step_numbers, _step_bits),
    "drift_corrected": _BOOL,
}
_SNR_FIELDS = {
    "verdict": _enum(_native.ENUM_VERDICT),
    "reason": _enum(_native.ENUM_SNR_REASON),
    "aligned": _BOOL,
    "non_finite_signal": _enum(_native.ENUM_SIGNAL),
    "lag_reliable": _BOOL,
}
_LEFT_OUT = ("struct_size", "reserved0", "reserved1")


def _setstate(self, state):
    """Unpickling (a report from a worker process): arrays read-only again."""
    for value in state.values():
        if isinstance(value, np.ndarray):
            value.flags.writeable = False
    self.__dict__.update(state)


def _report_class(name, struct, special, doc):
    """A frozen class with the fields of the ctypes struct (but _LEFT_OUT),
    the function that makes one from a filled struct, and the one that
    fills a struct from one."""
    fields = [(field, kind) for field, kind in struct._fields_ if field not in _LEFT_OUT]
    convert = []
    for field, kind in fields:
        if field in special:
            convert.append((field,) + special[field])
        elif issubclass(kind, ctypes.Array):
            convert.append((field, _array, lambda a: np.asarray(a).tolist()))
        elif kind is ctypes.c_double:
            convert.append((field, float, float))
        else:
            convert.append((field, int, int))
    cls = dataclasses.make_dataclass(name, [field for field, _ in fields], frozen=True, eq=False,
                                     namespace={"__doc__": doc, "__setstate__": _setstate})
    cls.__module__ = __name__

    def make(filled):
        return cls(**{field: f(getattr(filled, field)) for field, f, _ in convert})

    def fill(report):
        filled = _native.initialized(_lib(), struct)
        for field, _, back in convert:
            value = back(getattr(report, field))
            if isinstance(value, list):
                getattr(filled, field)[:] = value
            else:
                setattr(filled, field, value)
        return filled
    return cls, make, fill


GainReport, _gain_report, _gain_struct = _report_class(
    "GainReport", _native.GainReport, _GAIN_FIELDS, """\
A gain measurement: every field of am_gain_report under its C name.

verdict ("trusted", "questionable", "not_trusted", "incomplete",
"non_finite_samples") and verdict_causes (cause names); failed (1.0 or
0.0) and causes, lumetra's reasons for it. Per step, 11-element read-only
arrays (step k at index k - 1): step_level, step_range (dB re 32767:
lumetra_estimation's numbers), reference_step_level, reference_step_range,
gain (step_level - reference_step_level), coverage (share of the step's measured half taken
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
Each step's quality (NaN, or 0, for a step without a settled half):
noise_distortion_db, dc_offset_db, spread_excess_db, clipped_samples
(int64); step_questionable, a tuple per step of the causes that make its
reading questionable ("noise_distortion", "clipping", "unsteady"), and
questionable_steps, the step numbers with any. drift_ppm (the recording's
clock against the reference's; NaN when the steps do not show it) and
drift_corrected (True when the recording measured is the one converted by
the drift).
""")

SnrReport, _snr_report, _snr_struct = _report_class(
    "SnrReport", _native.SnrReport, _SNR_FIELDS, """\
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
non_finite_position (-1 when none), non_finite_value. How the lag's
correlation peak stands out: lag_prominence (its magnitude over the largest
rival's; Inf without a rival, NaN for silent openings) and lag_reliable
(True when it stands out enough to be applied).
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


def _gain_refused(status, options, lengths, names):
    """A gain refusal with the options (the struct handed to the library),
    the lengths given (reference, recording) and the names the message
    gives them."""
    name = _name(_native.ENUM_STATUS, status)
    if name == "short_reference":
        option = options.step_period
        periods = [option] if option != _native.PERIOD_AUTO else [_native.PERIOD_24_7,
                                                                  _native.PERIOD_25_2]
        needs = ", ".join("with %s s steps it needs at least %d"
                          % (_name(_native.ENUM_PERIOD, p), _lib().am_gain_reference_minimum(p))
                          for p in periods)
        detail = "%s: %d samples; %s" % (names[0], lengths[0], needs)
    elif name == "short_recording":
        detail = "%s: %d samples; it needs at least %d (15 s)" % (names[1], lengths[1],
                                                                  _native.GAIN_SPAN)
    elif name == "bad_option":
        detail = ", ".join("%s %s" % (field, _number_text(value) if isinstance(value, float)
                                      else value)
                           for field, value in ((f, getattr(options, f)) for f in _GAIN_OPTIONS))
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

# The gain options besides the step period, each checked here for its type
# (the library judges the value); None leaves the library's default.
def _flag(value, name):
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError("%s: True or False, not %r" % (name, value))
    return 1 if value else 0


def _float(value, where, what):
    """A real number as a float (one beyond the doubles as an infinity)."""
    v = _real(value)
    if v is None:
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            raise TypeError("%s: %s is needed, not %r" % (where, what, value))
        v = math.inf if value > 0 else -math.inf
    return v


def _decibels(value, name):
    return _float(value, name, "a number of dB")


def _sample_count(value, name):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s: a whole number of samples is needed, not %r" % (name, value))
    # Beyond int64 the comparison with a count of samples is the same.
    return min(max(int(value), -2**63), 2**63 - 1)


_GAIN_OPTIONS = {"max_noise_distortion_db": _decibels, "max_spread_excess_db": _decibels,
                 "max_clipped_samples": _sample_count, "drift_correct": _flag}


def _gain_settings(step_period, auto=True, **given):
    """The gain options as plain values ({am_gain_options field: value},
    the fields given only): checked, picklable, for _gain_options."""
    settings = {"step_period": _step_period(step_period, auto)[0]}
    for field, value in given.items():
        if value is not None:
            settings[field] = _GAIN_OPTIONS[field](value, field)
    return settings


def _gain_options(settings):
    """An am_gain_options with the library's defaults and the settings."""
    options = _native.initialized(_lib(), _native.GainOptions)
    for field, value in settings.items():
        setattr(options, field, value)
    return options


def _gain(reference, recording, settings, names=("reference", "recording")):
    """am_gain_measure on two checked arrays: the GainReport."""
    options = _gain_options(settings)
    report = _native.initialized(_lib(), _native.GainReport)
    status = _lib().am_gain_measure(_data(reference), len(reference), _data(recording),
                                    len(recording), ctypes.byref(options), ctypes.byref(report))
    if status != 0:
        raise _gain_refused(status, options, (len(reference), len(recording)), names)
    return _gain_report(report)


def _snr(gate, measured, fs, align, names=("gate", "measured")):
    """am_snr_measure on two checked arrays: the SnrReport."""
    rate = _rate(fs)
    options = _native.initialized(_lib(), _native.SnrOptions)
    options.align = 1 if align else 0
    report = _native.initialized(_lib(), _native.SnrReport)
    status = _lib().am_snr_measure(_data(gate), len(gate), _data(measured), len(measured), rate,
                                   ctypes.byref(options), ctypes.byref(report))
    if status != 0:
        raise _snr_refused(status, fs, rate, (len(gate), len(measured)), names)
    return _snr_report(report)


def _align(align):
    return _flag(align, "align") == 1


def measure_gain(reference, recording, step_period="auto", drift_correct=None,
                 max_noise_distortion_db=None, max_spread_excess_db=None,
                 max_clipped_samples=None):
    """The gain of a device under the stepped test signal, with every
    diagnostic and a verdict: a GainReport.

    reference: the stimulus as played; recording: what the device captured;
    both 1-D samples at 48000 Hz on the 16-bit scale. step_period: "auto"
    (read from the reference's own steps; step_period_warning says when
    that is not clear), or 25.2 or 24.7 seconds given as any real number
    type whose value is one of them in float64 or float32 (a period the
    reference contradicts is measured as given, with the warning
    "contradicted").

    When a step's reading is questionable (step_questionable): noise and
    distortion above max_noise_distortion_db re the step's level, a spread
    more than max_spread_excess_db above the reference's own, more than
    max_clipped_samples samples at full scale. drift_correct: True measures
    the recording again converted by its clock drift (drift_corrected says
    when that happened). None, for each, leaves the library's default
    (am_gain_options_init_size: -16 dB, 1 dB, 0 samples, False).

    Check report.verdict before using the numbers (see the module's help).
    Raises TypeError for arguments of the wrong kind (masked arrays
    included); ValueError for a step period other than those, an option
    out of range (a NaN, a negative count), arrays that are not 1-D, a
    reference shorter than the 15 s opening and 10 whole steps
    (required_reference_length), a recording shorter than 15 s;
    MemoryError when the library cannot have its working memory (about
    80 MB). The calling thread waits; other threads run meanwhile."""
    settings = _gain_settings(step_period, drift_correct=drift_correct,
                              max_noise_distortion_db=max_noise_distortion_db,
                              max_spread_excess_db=max_spread_excess_db,
                              max_clipped_samples=max_clipped_samples)
    return _gain(_samples(reference, "reference"), _samples(recording, "recording"), settings)


def measure_snr(gate, measured, fs, align=False):
    """The SNR of `measured` in dB, `gate` deciding which 5 ms frames hold
    signal, at fs Hz for both, with its diagnostics, the lag between the two
    and a verdict: an SnrReport.

    align: False (default) measures gate[i] against measured[i], the lag
    only reported; True shifts the later signal by the lag estimated from
    the openings first (the first 10 s, lags up to 5 s either way), and
    refuses a lag that does not stand out (lag_reliable False) rather than
    apply it: ValueError, status "unreliable_lag". A couple of seconds of
    speech-like signal give a reliable lag; a steady tone or silence none.

    Check report.verdict before using snr_db (see the module's help).
    Raises TypeError for arguments of the wrong kind (masked arrays, an fs
    that is not a real number, an align that is not a bool); ValueError for
    arrays that are not 1-D, an fs that is not a finite rate of at least
    200 Hz, a gate shorter than one frame, a measured signal shorter than
    the gate's whole frames (not aligned), an unreliable lag or signals
    that share no whole frame once shifted (aligned); MemoryError when
    memory runs out."""
    _rate(fs)
    align = _align(align)
    return _snr(_samples(gate, "gate"), _samples(measured, "measured"), fs, align)


def required_reference_length(step_period):
    """Samples a reference needs: the opening and 10 whole steps
    (12816000 at 25.2 s, 12576000 at 24.7 s; "auto": the shorter)."""
    option, _ = _step_period(step_period, auto=True)
    return _lib().am_gain_reference_minimum(option)


# ------------------------------------------------------------------- limits --

# A device's limits as judge takes them: by check (the library's check
# names, which the judgement gives back), each bound by the C field of
# am_gain_limits or am_snr_limits it fills. The bounds of the checks of every
# step (array fields) also take "step": {step number: {bound: value}}.
_LIMITS = {
    "gain": {"min_db": "gain_min_db", "max_db": "gain_max_db"},
    "spread": {"max_db": "spread_max_db"},
    "noise_distortion": {"max_db": "noise_distortion_max_db"},
    "clipped_samples": {"max": "clipped_max"},
    "delay": {"max_samples": "delay_max_samples"},
    "drift": {"max_ppm": "drift_max_ppm"},
    "snr": {"min_db": "snr_min_db", "max_db": "snr_max_db"},
}
_PER_STEP = {check for check, bounds in _LIMITS.items()
             if all(issubclass(dict(_native.GainLimits._fields_).get(field, ctypes.c_double),
                               ctypes.Array) for field in bounds.values())}


@dataclass(frozen=True)
class Judgement:
    """A report judged against a device's limits (judge). outcome: "pass",
    or "fail" when any check fails; failed_checks: the names of the checks
    that failed, in the library's order ("gain", "spread",
    "noise_distortion", "clipped_samples", "delay", "drift", "snr");
    failed_steps: {check name: step numbers from 1} for each failed check
    of every step."""

    outcome: str
    failed_checks: tuple
    failed_steps: dict


def _bound(value, where):
    return math.nan if value is None else _float(value, where,
                                                   "a number (or None for no bound)")


def _step_number(key, where):
    """A step number from 1, as an int or a string of digits (JSON's keys)."""
    if isinstance(key, numbers.Integral) and not isinstance(key, bool):
        k = int(key)
    else:
        k = int(key) if isinstance(key, str) and key.strip().isdigit() else 0
    if not 1 <= k <= _native.STEPS:
        raise ValueError("%s: steps are numbered 1 to %d, not %r" % (where, _native.STEPS, key))
    return k


def _mapping(value, where):
    if not isinstance(value, collections.abc.Mapping):
        raise TypeError("%s: a mapping is needed, not %r" % (where, value))
    return value


def _keys(mapping, allowed, where):
    for key in _mapping(mapping, where):
        if key not in allowed:
            raise ValueError("%s: no %r here; there are: %s" % (where, key, ", ".join(allowed)))
    return mapping


def _fill_limits(limits, struct, checks):
    """The bounds of `checks` in the limits mapping, written into struct."""
    _keys(limits, _LIMITS, "limits")
    for check in checks:
        bounds = _LIMITS[check]
        where = "limits[%r]" % check
        given = _keys(limits.get(check, {}), list(bounds) + ["step"] * (check in _PER_STEP),
                      where)
        for name, field in bounds.items():
            if name in given:
                value = _bound(given[name], "%s[%r]" % (where, name))
                if check in _PER_STEP:
                    getattr(struct, field)[:] = [value] * _native.STEPS
                else:
                    setattr(struct, field, value)
        for key, step in _mapping(given.get("step", {}), where + "['step']").items():
            k = _step_number(key, where + "['step']")
            at = "%s['step'][%r]" % (where, key)
            for name, value in _keys(step, list(bounds), at).items():
                getattr(struct, bounds[name])[k - 1] = _bound(value, "%s[%r]" % (at, name))


def judge(report, limits):
    """A GainReport or SnrReport against a device's limits: a Judgement,
    by am_gain_judge or am_snr_judge.

    limits maps check names to their bounds, say
        {"gain": {"min_db": -4, "max_db": 4, "step": {9: {"max_db": 3}}},
         "spread": {"max_db": 3}, "delay": {"max_samples": 12000},
         "snr": {"min_db": 15}}
    The checks and their bounds: "gain" min_db, max_db (each step's gain);
    "spread" max_db (step_range); "noise_distortion" max_db
    (noise_distortion_db); "clipped_samples" max; "delay" max_samples
    (|delay|); "drift" max_ppm (|drift_ppm|); "snr" min_db, max_db. The
    first four judge every step: a bound given applies to each, and "step"
    sets bounds of single steps (numbered 1 to 11; JSON's string keys do).
    A check or bound not given, or None, has no bound. One mapping may hold
    the limits of both measurements: a gain report is judged by the gain
    checks, an SNR report by "snr".

    Bounds are inclusive; a figure that is NaN fails any bound it has; a
    step without a settled half is not judged (the library's rules). The
    verdict says whether a reading can be used; the judgement whether the
    device is inside its limits.

    Raises TypeError for a report of another kind or a bound that is not a
    number; ValueError for a name that is not a check or one of its bounds,
    a step outside 1 to 11, or a maximum below its minimum."""
    lib = _lib()
    if isinstance(report, GainReport):
        struct, kind, function = _gain_struct(report), _native.GainLimits, lib.am_gain_judge
    elif isinstance(report, SnrReport):
        struct, kind, function = _snr_struct(report), _native.SnrLimits, lib.am_snr_judge
    else:
        raise TypeError("report: a GainReport or SnrReport is needed, not %r" % (report,))
    # The checks whose bounds this kind of limits holds.
    checks = [check for check, bounds in _LIMITS.items()
              if all(hasattr(kind, field) for field in bounds.values())]
    bounds = _native.initialized(lib, kind)
    _fill_limits(limits, bounds, checks)
    judgement = _native.initialized(lib, _native.Judgement)
    status = function(ctypes.byref(struct), ctypes.byref(bounds), ctypes.byref(judgement))
    if status != 0:
        raise _refused(status, "limits: a maximum below its minimum" if
                       _name(_native.ENUM_STATUS, status) == "bad_option" else None)
    failed = [k for k in range(_native.CHECK_COUNT) if judgement.failed_checks >> k & 1]
    names = [_name(_native.ENUM_CHECK, k) for k in failed]
    return Judgement(_name(_native.ENUM_LIMITS, judgement.outcome), tuple(names),
                     {name: _step_numbers(judgement.failed_steps[k])
                      for k, name in zip(failed, names) if name in _PER_STEP})


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
    settings = _gain_settings(step_period, auto=False)
    report = _gain(_samples(reference, "reference"), _samples(recording, "recording"), settings)
    seconds = _step_period(step_period, auto=False)[1]
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
