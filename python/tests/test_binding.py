"""The Python binding on its own: input checks, zero-copy records, the lock
around lumetra, and SNR estimates against the closing formula worked out here
in the same double operations.

Run: python3 -m unittest discover -s python/tests (LUMETRA_LIBRARY and
QUENBAR_LIBRARY name the built libraries, or the release build is used).
"""

import math
import os
import struct
from fractions import Fraction
import subprocess
import sys
import threading
import unittest

import numpy as np

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, PACKAGE_DIR)

import audiomeasure  # noqa: E402
from audiomeasure import _native  # noqa: E402

REFERENCE_25_2 = 12816000
REFERENCE_24_7 = 12576000


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


class InputChecks(unittest.TestCase):
    """Refused before the library is called: nothing that reaches it is bad."""

    def setUp(self):
        self.long = np.zeros(REFERENCE_25_2)
        self.span = np.zeros(720000)

    def test_reference_length_by_step_period(self):
        self.assertEqual(audiomeasure.required_reference_length(25.2), REFERENCE_25_2)
        self.assertEqual(audiomeasure.required_reference_length(24.7), REFERENCE_24_7)

    def test_gain_inputs(self):
        cases = [
            (ValueError, "step_period is 25.2 or 24.7", (self.long, self.span, 25.0)),
            (ValueError, "step_period is 25.2 or 24.7", (self.long, self.span, "25.2")),
            (ValueError, "step_period is 25.2 or 24.7", (self.long, self.span, True)),
            (ValueError, "reference: 12815999 samples; with 25.2 s steps it needs at least "
             "12816000", (self.long[1:], self.span, 25.2)),
            (ValueError, "needs at least 12576000", (self.span, self.span, 24.7)),
            (ValueError, "recording: 719999 samples; it needs at least 720000",
             (self.long, self.span[1:], 25.2)),
            (ValueError, "reference: one-dimensional samples are needed (one channel), not "
             "shape (6408000, 2)", (self.long.reshape(-1, 2), self.span, 25.2)),
            (TypeError, "recording: real numbers are needed, not complex128",
             (self.long, self.span.astype(complex), 25.2)),
            (TypeError, "real numbers are needed, not <U1", (self.long, ["a"], 25.2)),
            (TypeError, "real numbers are needed, not bool", (self.long, [True], 25.2)),
            (ValueError, "not 1.000000e+400", (self.long, self.span, 10**400)),
            (ValueError, "not 25.0", (self.long, self.span, np.float32(25.0))),
            (TypeError, "recording: a masked array", (self.long, np.ma.masked_array(self.span),
                                                      25.2)),
        ]
        for error, says, args in cases:
            with self.subTest(says=says):
                with self.assertRaises(error) as caught:
                    audiomeasure.estimate_gain(*args)
                self.assertIn(says, str(caught.exception))

    def test_snr_inputs(self):
        g = np.zeros(480)
        cases = [
            (ValueError, "fs: 199.0 Hz; a 5 ms frame needs a finite rate of at least 200 Hz",
             (g, g, 199)),
            (ValueError, "at least 200 Hz", (g, g, float("nan"))),
            (ValueError, "at least 200 Hz", (g, g, float("inf"))),
            (ValueError, "at least 200 Hz", (g, g, -48000)),
            (TypeError, "fs: a number of samples per second is needed", (g, g, "48000")),
            (TypeError, "fs: a number", (g, g, True)),
            (ValueError, "gate: 239 samples, fewer than one 5 ms frame (240 at 48000.0 Hz)",
             (g[:239], g, 48000)),
            (ValueError, "measured: 479 samples; the gate's 2 whole frames need 480",
             (g, g[:479], 48000)),
            (ValueError, "gate: one-dimensional", (g.reshape(2, 240), g, 48000)),
            (ValueError, "fs: 1.000000e+400 Hz; a 5 ms frame needs", (g, g, 10**400)),
            (ValueError, "fewer than one 5 ms frame (5.000000e+305 at 1.000000e+308 Hz)",
             (g, g, 1e308)),
            (TypeError, "measured: a masked array", (g, np.ma.masked_array(g, mask=g > 0),
                                                     48000)),
        ]
        for error, says, args in cases:
            with self.subTest(says=says):
                with self.assertRaises(error) as caught:
                    audiomeasure.estimate_snr(*args)
                self.assertIn(says, str(caught.exception))


class StepPeriods(unittest.TestCase):
    def test_any_real_type_of_the_two_periods(self):
        lib = _native.library("lumetra")
        modes = []

        def stand_in(ref, rec, a, b, mode, levels, ranges, peak, failed):
            modes.append(mode)

        real = lib.lumetra_estimation
        lib.lumetra_estimation = stand_in
        try:
            ref, rec = np.zeros(REFERENCE_25_2), np.zeros(720000)
            cases = [(25.2, 0.0), (np.float32(25.2), 0.0), (np.float64(24.7), 1.0),
                     (np.float32(24.7), 1.0), (Fraction(126, 5), 0.0), (Fraction(247, 10), 1.0)]
            for given, mode in cases:
                with self.subTest(given=repr(given)):
                    result = audiomeasure.estimate_gain(ref, rec, step_period=given)
                    self.assertEqual(modes[-1], mode)
                    self.assertEqual(result.step_period, [25.2, 24.7][int(mode)])
        finally:
            lib.lumetra_estimation = real


class Records(unittest.TestCase):
    def test_float64_arrays_are_wrapped_in_place(self):
        lib = audiomeasure._native.library("quenbar")
        x = np.arange(10.0)
        a = audiomeasure._samples(x, "x")
        self.assertIs(a, x)
        with _native.Wrapped(lib, a) as record:
            self.assertEqual(ctypes_address(record.contents.data), x.ctypes.data)
            self.assertEqual(record.contents.size[0], 10)
            self.assertEqual(record.contents.size[1], 1)
            self.assertEqual(record.contents.numDims, 2)
            self.assertEqual(record.contents.ownsData, 0)

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


def ctypes_address(pointer):
    return _native.ctypes.cast(pointer, _native.ctypes.c_void_p).value


class Loading(unittest.TestCase):
    def test_a_library_that_is_not_there_is_named(self):
        code = ("import audiomeasure\n"
                "try:\n"
                "    audiomeasure.estimate_snr([0.0] * 240, [0.0] * 240, 48000)\n"
                "except OSError as e:\n"
                "    print(e)\n")
        env = dict(os.environ, QUENBAR_LIBRARY=os.path.join(os.sep, "no", "such", "libq.so"),
                   PYTHONPATH=os.pathsep.join([PACKAGE_DIR, os.environ.get("PYTHONPATH", "")]))
        done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                              text=True, check=True)
        self.assertIn("cannot load the quenbar library; set QUENBAR_LIBRARY to its file. "
                      "Tried: %s" % env["QUENBAR_LIBRARY"], done.stdout)


class LumetraLock(unittest.TestCase):
    """estimate_gain holds the lock across the library call; a stand-in for
    the library records what it sees."""

    def test_calls_hold_the_lock_and_take_turns(self):
        lib = _native.library("lumetra")
        seen = []
        inside = threading.Semaphore(0)
        active = [0]
        real = lib.lumetra_estimation

        def stand_in(ref, rec, a, b, mode, levels, ranges, peak, failed):
            active[0] += 1
            seen.append((audiomeasure._lumetra_lock.locked(), active[0]))
            inside.release()
            threading.Event().wait(0.05)
            active[0] -= 1
            for k in range(11):
                levels[k] = -1.0
                ranges[k] = 2.0
            peak._obj.value = -3.0
            failed._obj.value = 0.0

        lib.lumetra_estimation = stand_in
        try:
            ref = np.zeros(REFERENCE_25_2)
            rec = np.zeros(720000)
            results = []
            threads = [threading.Thread(target=lambda: results.append(
                audiomeasure.estimate_gain(ref, rec))) for _ in range(3)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        finally:
            lib.lumetra_estimation = real
        self.assertEqual(seen, [(True, 1)] * 3)
        self.assertEqual(len(results), 3)
        for r in results:
            self.assertFalse(r.failed)
            self.assertEqual(r.peak_level, -3.0)
            np.testing.assert_array_equal(r.step_levels, np.full(11, -1.0))
            self.assertFalse(r.step_levels.flags.writeable)


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
        nan = audiomeasure.estimate_snr([1000.0, 1000.0], [1.0, 2.0], 200)
        self.assertTrue(math.isnan(nan.snr_db))
        self.assertFalse(nan.finite)
        inf = audiomeasure.estimate_snr([1000.0, 0.0], [3.0, 0.0], 200.0)
        self.assertEqual(inf.snr_db, math.inf)
        self.assertEqual(inf.fs, 200.0)


if __name__ == "__main__":
    unittest.main()
