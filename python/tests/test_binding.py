"""The Python binding on its own: declarations against the header, input
checks, zero-copy arrays, loading, the reports of a synthetic device (their
verdicts and every field, the gain options, limits), threads, files, and
the earlier interface against the fixed libraries' entry points and the
SNR's closing formula worked out here in the same double operations.

Run: python3 -m unittest discover -s python/tests (AUDIOMEASURE_LIBRARY,
LUMETRA_LIBRARY and QUENBAR_LIBRARY name the built libraries, or the release
build is used).
"""

import ctypes
import dataclasses
import functools
import math
import os
import re
import shutil
import struct
import sys
import tempfile
import threading
import unittest
from fractions import Fraction

import numpy as np

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, PACKAGE_DIR)

import audiomeasure  # noqa: E402
from audiomeasure import _native  # noqa: E402

HEADER = os.path.join(PACKAGE_DIR, os.pardir, "include", "audiomeasure.h")
REFERENCE_25_2 = 12816000
REFERENCE_24_7 = 12576000
RATE = 48000
OPENING = 720000
DELAY = 12345
DEVICE_GAINS = [0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0]


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def step_start(period, k):
    return OPENING + math.floor((k * period) * RATE)


@functools.lru_cache(maxsize=None)
def stepped_pair(period=25.2):
    """(reference, recording), read-only, in 16-bit integer values: 15 s of
    noise at -20 dB, then 11 tones (whole periods in every 50 ms block), 10
    steps long and 1 s of the 11th; the recording is the reference DELAY
    samples late with DEVICE_GAINS applied from each step's start."""
    end = step_start(period, 10) + RATE
    levels = [-6, -12, -18, -9, -24, -30, -15, -36, -21, -27, -10]
    tones = [1000, 400, 2000, 300, 4000, 600, 3000, 800, 6000, 200, 1600]
    x = np.empty(end)
    x[:OPENING] = np.random.default_rng(1).uniform(-1, 1, OPENING) * (math.sqrt(3) * 3276.7)
    gain = np.ones(end)
    for k in range(11):
        first, last = step_start(period, k), (step_start(period, k + 1) if k < 10 else end)
        cycle = (math.sqrt(2) * 32767 * 10 ** (levels[k] / 20) *
                 np.sin(2 * np.pi * np.arange(RATE // tones[k]) / (RATE // tones[k])))
        x[first:last] = np.resize(cycle, last - first)
        gain[first:] = 10 ** (DEVICE_GAINS[k] / 20)
    reference = np.round(x)
    recording = np.concatenate([np.zeros(DELAY), np.round(reference * gain)])
    for a in (reference, recording):
        a.flags.writeable = False
    return reference, recording


def gate_pair(n=96000, seed=5):
    """(gate, measured) at 48000 Hz: bursts of noise 0.1 s long every
    0.2 s, measured as the bursts in white noise 20 dB under them. Noise
    repeats nowhere, so 2 s give a lag that stands out."""
    rng = np.random.default_rng(seed)
    t = np.arange(n)
    gate = np.where(t % 9600 < 4800, rng.normal(0.0, 2121.0, n), 0.0)
    return gate, gate + rng.normal(0.0, 212.0, n)


def same_report(test, a, b):
    """Every field of two reports, floats by their bits."""
    test.assertIs(type(a), type(b))
    for name in a.__dataclass_fields__:
        x, y = getattr(a, name), getattr(b, name)
        if isinstance(x, np.ndarray):
            test.assertEqual((x.dtype, x.tobytes()), (y.dtype, y.tobytes()), name)
        elif isinstance(x, float):
            test.assertEqual(bits(x), bits(y), name)
        else:
            test.assertEqual(x, y, name)


def header_text():
    if not os.path.exists(HEADER):
        raise unittest.SkipTest("no include/audiomeasure.h beside the package (not a checkout)")
    with open(HEADER, encoding="utf-8") as f:
        return f.read()


class Declarations(unittest.TestCase):
    C_TYPES = {"uint32_t": ctypes.c_uint32, "int32_t": ctypes.c_int32,
               "int64_t": ctypes.c_int64, "double": ctypes.c_double}

    def test_struct_sizes_and_offsets_the_c_tests_pin(self):
        for declared, field, offset in [(_native.GainReport, "step_level", 16),
                                        (_native.GainReport, "uncovered_steps", 736),
                                        (_native.GainReport, "non_finite_position", 904),
                                        (_native.GainReport, "noise_distortion_db", 920),
                                        (_native.GainReport, "drift_ppm", 1320),
                                        (_native.SnrReport, "lag", 112),
                                        (_native.SnrReport, "lag_prominence", 200)]:
            self.assertEqual(getattr(declared, field).offset, offset, field)
        self.assertEqual([ctypes.sizeof(s) for s in (
            _native.GainReport, _native.SnrReport, _native.GainOptions, _native.SnrOptions,
            _native.GainLimits, _native.SnrLimits, _native.Judgement)],
            [1336, 216, 40, 8, 464, 24, 40])

    def test_structs_are_the_headers(self):
        text = header_text()
        counts = {"AM_STEPS": _native.STEPS, "AM_CHECK_COUNT": _native.CHECK_COUNT}
        for name, declared in _native.INITIALIZED.items():
            name = "am_" + name
            body = re.search(r"typedef struct %s \{(.*?)\} %s;" % (name, name), text, re.S).group(1)
            wanted = []
            for kind, field, count in re.findall(r"^\s*(\w+) (\w+)(?:\[(\w+)\])?;", body, re.M):
                kind = self.C_TYPES[kind]
                wanted.append((field, kind * (counts.get(count) or int(count)) if count else kind))
            got = [(f, t) for f, t in declared._fields_]
            self.assertEqual([f for f, _ in got], [f for f, _ in wanted], name)
            for (field, t), (_, w) in zip(got, wanted):
                self.assertEqual((ctypes.sizeof(t), getattr(t, "_type_", t)),
                                 (ctypes.sizeof(w), getattr(w, "_type_", w)), field)

    def test_constants_are_the_headers(self):
        text = header_text()
        values = {m[0]: int(m[1]) for m in re.findall(r"(AM_\w+)(?: +| = )(-?\d+)\b", text)}
        for name, value in [("AM_STEPS", _native.STEPS), ("AM_GAIN_SPAN", _native.GAIN_SPAN),
                            ("AM_MAX_SAMPLES", _native.MAX_SAMPLES),
                            ("AM_PERIOD_AUTO", _native.PERIOD_AUTO),
                            ("AM_PERIOD_25_2", _native.PERIOD_25_2),
                            ("AM_PERIOD_24_7", _native.PERIOD_24_7),
                            ("AM_CHECK_COUNT", _native.CHECK_COUNT)] + [
                                ("AM_ENUM_" + n[5:], getattr(_native, n))
                                for n in dir(_native) if n.startswith("ENUM_")]:
            self.assertEqual(values[name], value, name)

    def test_reports_have_every_c_field_but_the_size_and_padding(self):
        for cls, declared in [(audiomeasure.GainReport, _native.GainReport),
                              (audiomeasure.SnrReport, _native.SnrReport)]:
            self.assertEqual(list(cls.__dataclass_fields__),
                             [f for f, _ in declared._fields_
                              if f not in ("struct_size", "reserved0", "reserved1")])


class InputChecks(unittest.TestCase):
    """Refused before anything is measured, with what was given and the
    library's text for the refusal."""

    def setUp(self):
        self.long = np.zeros(REFERENCE_25_2)
        self.span = np.zeros(OPENING)

    def test_reference_length_by_step_period(self):
        self.assertEqual([audiomeasure.required_reference_length(p) for p in (25.2, 24.7, "auto")],
                         [REFERENCE_25_2, REFERENCE_24_7, REFERENCE_24_7])

    def check(self, function, cases):
        for error, says, status, args in cases:
            with self.subTest(function=function.__name__, says=says):
                with self.assertRaises(error) as caught:
                    function(*args)
                self.assertIn(says, str(caught.exception))
                self.assertEqual(getattr(caught.exception, "status", None), status)

    def test_gain_inputs(self):
        short_reference = ": the reference is shorter than the 15 s opening and 10 whole steps"
        cases = [
            (ValueError, "step_period is 25.2 or 24.7", None, (self.long, self.span, 25.0)),
            (ValueError, "step_period is 25.2 or 24.7", None, (self.long, self.span, "25.2")),
            (ValueError, "step_period is 25.2 or 24.7", None, (self.long, self.span, "auto")),
            (ValueError, "step_period is 25.2 or 24.7", None, (self.long, self.span, True)),
            (ValueError, "reference: 12815999 samples; with 25.2 s steps it needs at least "
             "12816000" + short_reference, "short_reference", (self.long[1:], self.span, 25.2)),
            (ValueError, "needs at least 12576000", "short_reference",
             (self.span, self.span, 24.7)),
            (ValueError, "recording: 719999 samples; it needs at least 720000 (15 s): the "
             "recording is shorter than the 15 s opening", "short_recording",
             (self.long, self.span[1:], 25.2)),
            (ValueError, "reference: one-dimensional samples are needed (one channel), not "
             "shape (6408000, 2)", None, (self.long.reshape(-1, 2), self.span, 25.2)),
            (TypeError, "recording: real numbers are needed, not complex128", None,
             (self.long, self.span.astype(complex), 25.2)),
            (TypeError, "real numbers are needed, not <U1", None, (self.long, ["a"], 25.2)),
            (TypeError, "real numbers are needed, not bool", None, (self.long, [True], 25.2)),
            (ValueError, "not 1.000000e+400", None, (self.long, self.span, 10**400)),
            (ValueError, "not 25.0", None, (self.long, self.span, np.float32(25.0))),
            (TypeError, "recording: a masked array", None,
             (self.long, np.ma.masked_array(self.span), 25.2)),
        ]
        self.check(audiomeasure.estimate_gain, cases)
        options = ": an option is out of range"
        self.check(audiomeasure.measure_gain, [
            (ValueError, 'step_period is "auto", 25.2 or 24.7 (seconds), not 25.0', None,
             (self.long, self.span, 25.0)),
            # The options: their types here, their values by the library.
            (TypeError, "drift_correct: True or False, not 1", None,
             (self.long, self.span, "auto", 1)),
            (TypeError, "max_spread_excess_db: a number of dB is needed, not '1'", None,
             (self.long, self.span, "auto", None, None, "1")),
            (TypeError, "max_clipped_samples: a whole number of samples is needed, not 1.0",
             None, (self.long, self.span, "auto", None, None, None, 1.0)),
            (ValueError, "max_noise_distortion_db nan, max_spread_excess_db 1.0, "
             "max_clipped_samples 0, drift_correct 1" + options, "bad_option",
             (self.long, self.span, "auto", True, math.nan)),
            (ValueError, "max_clipped_samples -1, drift_correct 0" + options, "bad_option",
             (self.long, self.span, "auto", None, None, None, -1)),
            (ValueError, "reference: 12575999 samples; with 24.7 s steps it needs at least "
             "12576000, with 25.2 s steps it needs at least 12816000" + short_reference,
             "short_reference", (self.long[:REFERENCE_24_7 - 1], self.span)),
        ] + [case for case in cases if case[2]])

    def test_snr_inputs(self):
        g = np.zeros(480)
        rate = ": the sample rate is not a finite number of at least 200 Hz"
        cases = [
            (ValueError, "fs: 199.0 Hz" + rate, "bad_rate", (g, g, 199)),
            (ValueError, "fs: nan Hz" + rate, "bad_rate", (g, g, float("nan"))),
            (ValueError, "fs: inf Hz" + rate, "bad_rate", (g, g, float("inf"))),
            (ValueError, "fs: -48000.0 Hz" + rate, "bad_rate", (g, g, -48000)),
            (ValueError, "fs: 1.000000e+400 Hz" + rate, "bad_rate", (g, g, 10**400)),
            (TypeError, "fs: a number of samples per second is needed", None,
             (g, g, "48000")),
            (TypeError, "fs: a number", None, (g, g, True)),
            (ValueError, "gate: 239 samples; a 5 ms frame at 48000.0 Hz is 240: the gate is "
             "shorter than one 5 ms frame", "short_gate", (g[:239], g, 48000)),
            (ValueError, "measured: 479 samples; the gate's 2 whole frames need 480: the "
             "measured signal is shorter", "short_measured", (g, g[:479], 48000)),
            (ValueError, "gate: one-dimensional", None, (g.reshape(2, 240), g, 48000)),
            (ValueError, "a 5 ms frame at 1.000000e+308 Hz is 5.000000e+305", "short_gate",
             (g, g, 1e308)),
            (TypeError, "measured: a masked array", None,
             (g, np.ma.masked_array(g, mask=g > 0), 48000)),
        ]
        self.check(audiomeasure.estimate_snr, cases)
        self.check(audiomeasure.measure_snr, cases + [
            (TypeError, "align: True or False, not 1", None, (g, g, 48000, 1)),
            (ValueError, "gate: 480 samples, measured: 100 samples: the lag between the "
             "signals does not stand out (none within the search, or several alike), so it is "
             "not applied", "unreliable_lag", (g, g[:100], 48000, True))])


class StandIn:
    """The library's am_gain_measure replaced, within a `with` block, by a
    function that records its arguments and writes nothing."""

    def __enter__(self):
        self.lib = _native.library("audiomeasure")
        self.real = self.lib.am_gain_measure
        self.calls = []

        def stand_in(reference, n, recording, m, options, report):
            address = ctypes.cast(reference, ctypes.c_void_p).value
            self.calls.append((address, n, options._obj.step_period, bytes(options._obj)))
            return 0
        self.lib.am_gain_measure = stand_in
        return self

    def __exit__(self, *exc):
        self.lib.am_gain_measure = self.real
        return False


class Arrays(unittest.TestCase):
    def test_step_periods_of_any_real_type(self):
        ref, rec = np.zeros(REFERENCE_25_2), np.zeros(OPENING)
        cases = [(25.2, 1), (np.float32(25.2), 1), (np.float64(24.7), 2), (np.float32(24.7), 2),
                 (Fraction(126, 5), 1), (Fraction(247, 10), 2)]
        with StandIn() as s:
            for given, option in cases:
                with self.subTest(given=repr(given)):
                    result = audiomeasure.estimate_gain(ref, rec, step_period=given)
                    self.assertEqual(s.calls[-1][2], option)
                    self.assertEqual(result.step_period, [25.2, 24.7][option - 1])
                    audiomeasure.measure_gain(ref, rec, step_period=given)
                    self.assertEqual(s.calls[-1][2], option)
            audiomeasure.measure_gain(ref, rec)
            self.assertEqual(s.calls[-1][2], _native.PERIOD_AUTO)

    def test_gain_options_are_the_librarys_defaults_but_those_given(self):
        ref, rec = np.zeros(REFERENCE_25_2), np.zeros(OPENING)
        with StandIn() as s:
            audiomeasure.measure_gain(ref, rec)
            audiomeasure.measure_gain(ref, rec, 24.7, True, -30, 10**400, 2**70)
        self.assertEqual(s.calls[0][3], bytes(_native.initialized(
            _native.library("audiomeasure"), _native.GainOptions)))
        given = _native.GainOptions.from_buffer_copy(s.calls[1][3])
        self.assertEqual([getattr(given, f) for f, _ in given._fields_],
                         [40, _native.PERIOD_24_7, -30.0, math.inf, 2**63 - 1, 1, 0])

    def test_float64_arrays_are_passed_in_place(self):
        ref, rec = np.zeros(REFERENCE_25_2), np.zeros(OPENING)
        with StandIn() as s:
            audiomeasure.measure_gain(ref, rec)
            audiomeasure.measure_gain(ref.astype(np.float32), rec)
        self.assertEqual(s.calls[0][:2], (ref.ctypes.data, REFERENCE_25_2))
        self.assertNotEqual(s.calls[1][0], ref.ctypes.data)
        self.assertIs(audiomeasure._samples(ref, "x"), ref)

    def test_other_arrays_are_converted(self):
        x = np.arange(20.0)
        for given, kind in [(x[::2], "strided"), (x.astype(np.float32), "float32"),
                            (np.arange(10, dtype=np.int16), "int16"), ([1, 2, 3], "list"),
                            (x.astype(">f8"), "big-endian")]:
            with self.subTest(kind=kind):
                a = audiomeasure._samples(given, "x")
                self.assertIsNot(a, given)
                self.assertEqual(a.dtype, np.float64)
                self.assertTrue(a.flags.c_contiguous)
                np.testing.assert_array_equal(a, np.asarray(given, dtype=np.float64))

    def test_read_only_arrays_are_accepted(self):
        # One active and one inactive frame of equal measured power: the
        # -120 dB floor.
        gate = np.repeat([1000.0, 0.0], 240)
        gate.flags.writeable = False
        result = audiomeasure.estimate_snr(gate, np.ones(480), 48000)
        self.assertEqual(result.snr_db, 10.0 * math.log10(1e-12))
        self.assertTrue(result.finite)

    def test_fixed_library_records_wrap_in_place(self):
        x = np.arange(10.0)
        with _native.Wrapped(_native.library("quenbar"), x) as record:
            r = record.contents
            self.assertEqual(ctypes.cast(r.data, ctypes.c_void_p).value, x.ctypes.data)
            self.assertEqual((r.size[0], r.size[1], r.numDims, r.ownsData), (10, 1, 2, 0))


class Loading(unittest.TestCase):
    def test_search_order(self):
        with tempfile.TemporaryDirectory() as folder:
            package = os.path.join(folder, "package")
            built = os.path.join(folder, "build", "release", "audiomeasure")
            for d in (package, built):
                os.makedirs(d)
                open(os.path.join(d, "libaudiomeasure.so"), "w").close()
            named = os.path.join(folder, "chosen.so")
            for environ, want in [
                    ({"AUDIOMEASURE_LIBRARY": named, "LUMETRA_LIBRARY": "x"}, ([named], True)),
                    ({"AUDIOMEASURE_LIBRARY": ""}, ([os.path.join(package, "libaudiomeasure.so"),
                                                     os.path.join(built, "libaudiomeasure.so"),
                                                     "libaudiomeasure.so"], False))]:
                self.assertEqual(_native.candidates("audiomeasure", environ, package, folder),
                                 want)
            os.remove(os.path.join(package, "libaudiomeasure.so"))
            self.assertEqual(_native.candidates("audiomeasure", {}, package, folder)[0][0],
                             os.path.join(built, "libaudiomeasure.so"))

    def test_the_file_the_variable_names_wins(self):
        with tempfile.TemporaryDirectory() as folder:
            chosen = shutil.copy(_native.library("audiomeasure")._name,
                                 os.path.join(folder, "chosen.so"))
            lib = _native.load("audiomeasure", {"AUDIOMEASURE_LIBRARY": chosen})
            self.assertEqual(lib._name, chosen)

    def test_a_wrong_file_is_named_with_what_is_wrong(self):
        with tempfile.TemporaryDirectory() as folder:
            text = os.path.join(folder, "text.so")
            with open(text, "w") as f:
                f.write("not a library\n")
            missing = os.path.join(folder, "missing.so")
            lumetra = _native.library("lumetra")._name
            for path, says in [(missing, missing), (text, text),
                               (lumetra, "(not the audiomeasure library this package needs: it "
                                         "exports no am_version)")]:
                with self.subTest(path=path):
                    with self.assertRaises(OSError) as caught:
                        _native.load("audiomeasure", {"AUDIOMEASURE_LIBRARY": path})
                    message = str(caught.exception)
                    self.assertTrue(message.startswith(
                        "cannot use the audiomeasure library that AUDIOMEASURE_LIBRARY names: " +
                        path), message)
                    self.assertIn(says, message)
                    self.assertNotIn("set AUDIOMEASURE_LIBRARY", message)


class GainReports(unittest.TestCase):
    """The synthetic device measured whole, cut short, and with the step
    period its reference contradicts: verdicts and the fields behind them."""

    @classmethod
    def setUpClass(cls):
        cls.reference, cls.recording = stepped_pair()
        cls.trusted = audiomeasure.measure_gain(cls.reference, cls.recording)

    def test_a_trusted_measurement(self):
        r = self.trusted
        self.assertEqual((r.verdict, r.verdict_causes, r.causes, r.failed, r.uncovered_steps),
                         ("trusted", (), (), 0.0, ()))
        self.assertEqual((r.delay, r.total_delay, r.aligned, r.aligned_samples),
                         (DELAY, DELAY, "whole", len(self.reference)))
        self.assertEqual((r.step_period, r.step_period_s, r.step_mode, r.step_period_source,
                          r.step_period_warning, r.fitting_period_s),
                         ("25.2", 25.2, 0.0, "auto", None, 25.2))
        self.assertEqual((r.non_finite_signal, r.non_finite_position), ("none", -1))
        self.assertEqual((r.reference_length, r.recording_length),
                         (len(self.reference), len(self.recording)))
        np.testing.assert_allclose(r.gain, DEVICE_GAINS, atol=0.01)
        np.testing.assert_array_equal(r.gain, r.step_level - r.reference_step_level)
        np.testing.assert_array_equal(r.coverage, np.ones(11))
        np.testing.assert_array_equal(r.step_start, [step_start(25.2, k) for k in range(11)])
        np.testing.assert_array_equal(r.layout_held, [1, 1])
        self.assertEqual((r.step_questionable, r.questionable_steps, r.drift_corrected),
                         (((),) * 11, (), False))
        self.assertLess(abs(r.drift_ppm), 0.01)
        self.assertLess(max(r.noise_distortion_db), -60.0)
        np.testing.assert_array_equal(r.clipped_samples, np.zeros(11))
        for name in ("step_level", "step_start", "layout_held", "median_step_spread_db",
                     "noise_distortion_db", "clipped_samples"):
            a = getattr(r, name)
            self.assertEqual((a.dtype, a.flags.writeable),
                             (np.int64 if name in ("step_start", "layout_held", "clipped_samples")
                              else np.float64, False), name)
        with self.assertRaises(dataclasses.FrozenInstanceError):
            r.verdict = "trusted"

    def test_a_recording_cut_short_is_incomplete(self):
        r = audiomeasure.measure_gain(self.reference, self.recording[:30 * RATE])
        self.assertEqual((r.verdict, r.verdict_causes, r.failed, r.aligned),
                         ("incomplete", ("steps_not_covered",), 0.0, "head"))
        self.assertEqual(r.uncovered_steps, tuple(range(1, 12)))
        # Step 1's measured half starts 27.6 s in and holds 12.6 s.
        self.assertEqual(r.coverage[0], (30 * RATE - DELAY - 1324800) / 604800)
        np.testing.assert_array_equal(r.coverage[1:], np.zeros(10))
        # The earlier interface says nothing of it.
        self.assertFalse(audiomeasure.estimate_gain(self.reference, self.recording[:30 * RATE])
                         .failed)

    def test_a_step_period_the_reference_contradicts(self):
        r = audiomeasure.measure_gain(self.reference, self.recording, step_period=24.7)
        self.assertEqual((r.step_period, r.step_period_s, r.step_mode, r.step_period_source,
                          r.step_period_warning, r.fitting_period_s),
                         ("24.7", 24.7, 1.0, "option", "contradicted", 25.2))

    def test_questionable_steps_by_the_options(self):
        # Four times as loud, cut at full scale: clipped steps, distorted.
        loud = np.clip(self.recording * 4.0, -32768.0, 32767.0)
        for recording, period, options, verdict, questionable in [
                # Measured under the wrong layout, step 11 holds the 11th
                # tone and the end of the 10th: its level moves.
                (self.recording, 24.7, {}, "questionable", {11: ("unsteady",)}),
                (self.recording, 24.7, {"max_spread_excess_db": 100.0}, "trusted", {}),
                (loud, "auto", {"max_noise_distortion_db": math.inf}, "questionable",
                 {k: ("clipping",) for k in (1, 2, 4, 7, 11)}),
                (loud, "auto", {"max_noise_distortion_db": math.inf,
                                "max_clipped_samples": 478800}, "trusted", {})]:
            with self.subTest(period=period, options=options):
                r = audiomeasure.measure_gain(self.reference, recording, period, **options)
                self.assertEqual((r.verdict, r.questionable_steps, r.step_questionable),
                                 (verdict, tuple(questionable),
                                  tuple(questionable.get(k, ()) for k in range(1, 12))))
                self.assertEqual(r.verdict_causes, tuple(sorted(
                    {c for causes in questionable.values() for c in causes})))
                # What judge hands the library: the struct the report came from.
                same_report(self, audiomeasure._gain_report(audiomeasure._gain_struct(r)), r)
        self.assertEqual(r.clipped_samples[0], 478800)

    def test_limits(self):
        gain = self.trusted  # DEVICE_GAINS within 0.01 dB, DELAY, no clipping
        snr = audiomeasure.measure_snr(*gate_pair(), 48000)  # 19.93 dB
        every = tuple(range(1, 12))
        for report, limits, outcome, steps in [
                (gain, {}, "pass", {}),
                (gain, {"gain": {"min_db": -4, "max_db": 4, "step": {9: {"max_db": 3}}},
                        "snr": {"min_db": 25}}, "fail", {"gain": (9,)}),
                (gain, {"gain": {"min_db": -2.2, "max_db": 2.2, "step": {"9": {"max_db": None}}},
                        "delay": {"max_samples": DELAY - 1}}, "fail",
                 {"gain": (5, 6), "delay": ()}),
                (gain, {"delay": {"max_samples": DELAY}, "clipped_samples": {"max": 0},
                        "drift": {"max_ppm": None}}, "pass", {}),
                (gain, {"clipped_samples": {"max": -1}, "drift": {"max_ppm": 0},
                        "spread": {"step": {1: {"max_db": math.nan}}}}, "fail",
                 {"clipped_samples": every, "drift": ()}),
                (snr, {"snr": {"min_db": 20}, "gain": {"max_db": -9}}, "fail", {"snr": ()}),
                (snr, {"snr": {"min_db": 15, "max_db": 10**400}}, "pass", {})]:
            with self.subTest(limits=limits):
                j = audiomeasure.judge(report, limits)
                self.assertEqual((j.outcome, j.failed_checks, j.failed_steps),
                                 (outcome, tuple(steps), {c: k for c, k in steps.items() if k}))
        self.assertEqual(list(audiomeasure._LIMITS), [
            _native.library("audiomeasure").am_enum_name(_native.ENUM_CHECK, k).decode()
            for k in range(_native.CHECK_COUNT)])
        for limits, error, says in [
                ({"gian": {}}, ValueError, "limits: no 'gian' here; there are: gain, spread, "
                 "noise_distortion, clipped_samples, delay, drift, snr"),
                ({"delay": {"step": {}}}, ValueError,
                 "limits['delay']: no 'step' here; there are: max_samples"),
                ({"gain": {"step": {12: {}}}}, ValueError,
                 "limits['gain']['step']: steps are numbered 1 to 11, not 12"),
                ({"gain": {"step": {1: {"max": 1}}}}, ValueError,
                 "limits['gain']['step'][1]: no 'max' here; there are: min_db, max_db"),
                ({"gain": {"max_db": True}}, TypeError, "limits['gain']['max_db']: a number (or "
                 "None for no bound) is needed, not True"),
                ({"gain": 3}, TypeError, "limits['gain']: a mapping is needed, not 3"),
                ({"gain": {"min_db": 1, "step": {2: {"max_db": 0}}}}, ValueError,
                 "limits: a maximum below its minimum: an option is out of range")]:
            with self.subTest(says=says):
                with self.assertRaises(error) as caught:
                    audiomeasure.judge(gain, limits)
                self.assertEqual(str(caught.exception), says)

    def test_a_non_finite_sample_and_the_fixed_entry_point(self):
        recording = self.recording.copy()
        recording[2000000] = -np.inf
        r = audiomeasure.measure_gain(self.reference, recording)
        self.assertEqual((r.verdict, r.verdict_causes, r.non_finite_signal,
                          r.non_finite_position, r.non_finite_value),
                         ("non_finite_samples", ("non_finite_samples",), "recording", 2000000,
                          -np.inf))
        # The numbers of the report are lumetra_estimation's, bit for bit;
        # estimate_gain gives the same.
        lib = _native.library("lumetra")
        outputs = [np.empty(11), np.empty(11), ctypes.c_double(), ctypes.c_double()]
        with _native.Wrapped(lib, self.reference) as a, _native.Wrapped(lib, recording) as b:
            lib.lumetra_estimation(a, b, 0.0, 0.0, 0.0,
                                   *[o.ctypes.data_as(_native.DoublePointer) for o in outputs[:2]],
                                   *[ctypes.byref(o) for o in outputs[2:]])
        old = audiomeasure.estimate_gain(self.reference, recording)
        for got in ((r.step_level, r.step_range, r.peak_level, r.failed),
                    (old.step_levels, old.step_ranges, old.peak_level, float(old.failed))):
            self.assertEqual(got[0].tobytes() + got[1].tobytes(),
                             outputs[0].tobytes() + outputs[1].tobytes())
            self.assertEqual([bits(got[2]), bits(got[3])],
                             [bits(outputs[2].value), bits(outputs[3].value)])


class SnrReports(unittest.TestCase):
    def test_a_non_finite_gate_sample(self):
        gate, measured = gate_pair()
        gate = gate.copy()
        gate[95900] = np.inf  # in the last frame: the smoothing carries it no further
        r = audiomeasure.measure_snr(gate, measured, 48000)
        self.assertEqual((r.verdict, r.reason, r.non_finite_signal, r.non_finite_position,
                          r.non_finite_value), ("non_finite_samples", "finite", "gate", 95900,
                                                np.inf))
        # SNR_estimation's number, which the earlier interface calls finite.
        old = audiomeasure.estimate_snr(gate, measured, 48000)
        self.assertTrue(old.finite)
        self.assertEqual(bits(old.snr_db), bits(r.snr_db))

    def test_fields_and_the_fixed_entry_point(self):
        gate, measured = gate_pair()
        late = np.r_[np.zeros(480), measured]
        for align, lag, first in [(False, 480, 0), (True, 480, 480)]:
            with self.subTest(align=align):
                r = audiomeasure.measure_snr(gate, late, 48000, align=align)
                self.assertEqual((r.verdict, r.reason, r.aligned, r.lag, r.measured_first,
                                  r.gate_length, r.measured_length, r.fs, r.lag_reliable),
                                 ("finite", "finite", align, lag, first, 96000, 96480, 48000.0,
                                  True))
                self.assertGreater(r.lag_prominence, 100.0)
        r = audiomeasure.measure_snr(gate, measured, 48000)
        self.assertAlmostEqual(r.snr_db, 20.0, delta=0.3)
        self.assertEqual((r.frame_length, r.frame_count, r.active_frames, r.lag),
                         (240.0, 400.0, 200.0, 0))
        lib = _native.library("quenbar")
        snr, extra = ctypes.c_double(), ctypes.c_double()
        with _native.Wrapped(lib, gate) as a, _native.Wrapped(lib, measured) as b:
            lib.SNR_estimation(a, b, 48000.0, ctypes.byref(snr), ctypes.byref(extra))
        self.assertEqual(bits(r.snr_db), bits(snr.value))
        self.assertEqual(bits(audiomeasure.estimate_snr(gate, measured, 48000).snr_db),
                         bits(snr.value))


class Threads(unittest.TestCase):
    def test_parallel_measurements_give_the_reports_of_sequential_ones(self):
        reference, recording = stepped_pair()
        gate, measured = gate_pair()
        jobs = [lambda: audiomeasure.measure_gain(reference, recording),
                lambda: audiomeasure.measure_gain(reference, recording[:40 * RATE], 24.7),
                lambda: audiomeasure.measure_snr(gate, measured, 48000, align=True)]
        alone = [job() for job in jobs]
        together = [None] * len(jobs)
        start = threading.Barrier(len(jobs))

        def run(k):
            start.wait()
            together[k] = jobs[k]()
        threads = [threading.Thread(target=run, args=(k,)) for k in range(len(jobs))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for a, b in zip(alone, together):
            same_report(self, a, b)


class Files(unittest.TestCase):
    """Files written here with soundfile, read back on the 16-bit scale,
    measured in blocks as the arrays are measured whole."""

    @classmethod
    def setUpClass(cls):
        import soundfile
        cls.sf = soundfile
        cls.folder = tempfile.TemporaryDirectory()
        cls.reference, cls.recording = stepped_pair()
        cls.write("reference.wav", cls.reference.astype(np.int16), "PCM_16")
        cls.write("recording.wav", cls.recording.astype(np.int16), "PCM_16")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def write(cls, name, data, subtype, rate=RATE):
        cls.sf.write(cls.at(name), data, rate, subtype=subtype)
        return cls.at(name)

    @classmethod
    def at(cls, name):
        return os.path.join(cls.folder.name, name)

    def test_the_16_bit_scale(self):
        # soundfile's int32 samples are left-justified: n << 16 is stored
        # as 256 n in 24 bits and as 65536 n in 32, both read as n / 32768.
        n = np.array([-32768, -12345, -1, 0, 1, 256, 32767])
        wide = (n << 16).astype(np.int32)
        cases = [("PCM_16", n.astype(np.int16), n.astype(np.float64)),
                 ("PCM_24", wide, (n / 32768.0) * 32767.0),
                 ("PCM_32", wide, (n / 32768.0) * 32767.0),
                 ("FLOAT", (n / 32768.0).astype(np.float32), (n / 32768.0) * 32767.0),
                 ("DOUBLE", np.array([0.1, -1.5, np.inf]), np.array([0.1, -1.5, np.inf]) * 32767.0)]
        for subtype, stored, want in cases:
            with self.subTest(subtype=subtype):
                path = self.write(subtype + ".wav", stored, subtype)
                with audiomeasure._files._Input(path, None) as f:
                    got = f.whole()
                self.assertEqual(got.tobytes(), want.tobytes())
        stereo = self.write("stereo.wav", np.c_[n, n[::-1]].astype(np.int16), "PCM_16")
        with audiomeasure._files._Input(stereo, 2) as f:
            self.assertEqual(f.whole().tolist(), n[::-1].tolist())

    def test_blocks_measure_as_the_arrays_and_refusals_take_their_place(self):
        sf = self.sf
        short = self.write("short.wav", self.recording[:RATE].astype(np.int16), "PCM_16")
        slow = self.write("44100.wav", np.zeros(OPENING, np.int16), "PCM_16", rate=44100)
        two = self.write("two.wav", np.zeros((OPENING, 2), np.int16), "PCM_16")
        empty = self.write("empty.wav", np.zeros(0, np.int16), "PCM_16")
        text = self.at("text.wav")
        with open(text, "w") as f:
            f.write("not audio")
        cut = self.at("cut.wav")
        with open(self.at("recording.wav"), "rb") as f:
            data = f.read(44 + 2 * (OPENING + 1000))
        with open(cut, "wb") as f:
            f.write(data)
        results = audiomeasure.measure_files(self.at("reference.wav"), [
            self.at("recording.wav"), self.at("missing.wav"), short, slow, two, empty, text,
            self.folder.name])
        same_report(self, results[0], audiomeasure.measure_gain(self.reference, self.recording))
        wanted = [(FileNotFoundError, "missing.wav"),
                  (ValueError, "short.wav: 48000 samples; it needs at least 720000 (15 s): the "
                   "recording is shorter than the 15 s opening it is aligned by"),
                  (ValueError, "44100.wav: sample rate 44100 Hz; gain is measured at 48000 Hz "
                   "only"),
                  (ValueError, "two.wav: has 2 channels; choose one with channel=N (1 to 2)"),
                  (ValueError, "empty.wav: holds no samples"),
                  (OSError, "text.wav: cannot read it as audio: "),
                  (IsADirectoryError, ": is a folder, not an audio file")]
        for got, (error, says) in zip(results[1:], wanted):
            self.assertIsInstance(got, error)
            self.assertIn(says, str(got))
            self.assertIsNone(got.__traceback__)
        self.assertEqual(len(results), 8)
        # A data chunk shorter than its header: what is there is measured.
        self.assertEqual(sf.info(cut).frames, OPENING + 1000)
        self.assertEqual(audiomeasure.measure_files(self.at("reference.wav"), [cut])[0]
                         .recording_length, OPENING + 1000)

    def test_what_stops_a_batch(self):
        ref = self.at("reference.wav")
        short = self.write("short_ref.wav", self.reference[:REFERENCE_24_7 - 1].astype(np.int16),
                           "PCM_16")
        for call, error, says in [
                (lambda: audiomeasure.measure_files(ref, ref), TypeError,
                 "recording_paths: a list of paths is needed, not one path"),
                (lambda: audiomeasure.measure_files(ref, [1]), TypeError, "paths are needed"),
                (lambda: audiomeasure.measure_files(ref, [], channel=0), ValueError,
                 "channels count from 1"),
                (lambda: audiomeasure.measure_files(ref, [], step_period=30), ValueError,
                 "step_period is"),
                (lambda: audiomeasure.measure_files(ref, [], max_spread_excess_db=math.nan),
                 ValueError, "max_spread_excess_db nan"),
                (lambda: audiomeasure.measure_files(short, []), ValueError,
                 "short_ref.wav: 12575999 samples; with 24.7 s steps it needs at least 12576000"),
                (lambda: audiomeasure.measure_snr_files(self.at("nope.wav"), []),
                 FileNotFoundError, "nope.wav"),
                (lambda: audiomeasure.measure_snr_files(ref, [], align=None), TypeError,
                 "align: True or False")]:
            with self.subTest(says=says):
                with self.assertRaises(error) as caught:
                    call()
                self.assertIn(says, str(caught.exception))

    def test_snr_files(self):
        gate, measured = gate_pair()
        g = self.write("gate.wav", (gate / 32768).astype(np.float32), "FLOAT", rate=32000)
        m = self.write("measured.wav", np.round(measured).astype(np.int16), "PCM_16",
                       rate=32000)
        other = self.write("measured_48k.wav", np.round(measured).astype(np.int16), "PCM_16")
        results = audiomeasure.measure_snr_files(g, [m, other], align=True)
        same_report(self, results[0], audiomeasure.measure_snr(
            (gate / 32768).astype(np.float32).astype(np.float64) * 32767.0,
            np.round(measured), 32000, align=True))
        self.assertIsInstance(results[1], ValueError)
        self.assertIn("measured_48k.wav: sample rate 48000 Hz; the gate's is 32000 Hz",
                      str(results[1]))


class SnrAgainstTheFormula(unittest.TestCase):
    """At fs = 200 a frame is one sample: a gate of 1000 is active (about
    -30 dB), a gate of 0 inactive (-120 dB), and a frame's power is the
    square of its measured sample divided by 1. The estimate follows in the
    same double operations as the library's."""

    @staticmethod
    def expected(active, measured):
        A = 0.0
        active_sum = 0.0
        inactive_sum = 0.0
        for a, m in zip(active, measured):
            power = m * m / 1.0
            if a:
                A += 1.0
                active_sum += power
            else:
                inactive_sum += power
        F = float(len(active))
        noise = inactive_sum / (F - A)
        excess = active_sum - A * noise
        ratio = (excess / A) / noise
        if 1e-12 + ratio < 0:
            return float("nan")
        return 10.0 * math.log10(1e-12 + ratio)

    def test_bits_of_random_cases(self):
        rng = np.random.default_rng(3)
        nans = 0
        for case in range(40):
            n = int(rng.integers(2, 400))
            active = rng.integers(0, 2, n)
            active[0], active[-1] = 1, 0
            # From either level the smoothing cannot carry a frame across
            # -70 dB, so each frame is as its own gate sample says.
            gate = np.where(active == 1, 1000.0, 0.0)
            measured = rng.normal(0.0, 100.0, n)
            with self.subTest(case=case):
                got = audiomeasure.estimate_snr(gate, measured, 200).snr_db
                want = self.expected(active, measured)
                if math.isnan(want):  # the sign of log10's NaN is the C library's
                    nans += 1
                    self.assertTrue(math.isnan(got))
                else:
                    self.assertEqual(bits(got), bits(want))
        # Both kinds of case came up.
        self.assertGreater(nans, 0)
        self.assertLess(nans, 30)

    def test_non_finite_results(self):
        for gate, measured, fs, snr, reason in [
                ([1000.0, 1000.0], [1.0, 2.0], 200, math.nan, "no_inactive_frame"),
                ([1000.0, 0.0], [3.0, 0.0], 200.0, math.inf, "zero_noise")]:
            old = audiomeasure.estimate_snr(gate, measured, fs)
            self.assertEqual((math.isnan(old.snr_db), old.snr_db == snr, old.finite, old.fs),
                             (math.isnan(snr), snr == math.inf, False, 200.0))
            r = audiomeasure.measure_snr(gate, measured, fs)
            self.assertEqual((r.verdict, r.reason), ("not_finite", reason))


if __name__ == "__main__":
    unittest.main()
