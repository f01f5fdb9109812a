"""lumetra-measure and quenbar-snr run as programs on the files that the test
fixture made (am_tool_files), against the Python binding, which calls the
shared libraries' exported functions: the tools' numbers, which they measure
through libaudiomeasure with its diagnostics, must be the exported outputs
bit for bit.

Environment: AM_TOOL_FILES (the fixture's folder), LUMETRA_MEASURE and
QUENBAR_SNR (the programs), AUDIOMEASURE_LIBRARY, LUMETRA_LIBRARY and
QUENBAR_LIBRARY (the shared libraries), and the binding on PYTHONPATH.
"""

import csv
import io
import json
import math
import os
import resource
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

import numpy as np

import audiomeasure

FILES = os.environ.get("AM_TOOL_FILES", "")
LUMETRA_MEASURE = os.environ.get("LUMETRA_MEASURE", "lumetra-measure")
QUENBAR_SNR = os.environ.get("QUENBAR_SNR", "quenbar-snr")

DEVICE_DELAY = 12345
DEVICE_GAINS = [0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0]


def path(name):
    return os.path.join(FILES, name)


def run(program, *args, memory=None, stdout=subprocess.PIPE, piped=None):
    """(status, stdout, stderr) of a program run; `memory` limits its address
    space (bytes), `stdout` may be another file, `piped` names a file whose
    bytes come on standard input through a pipe. A run that hangs fails."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
    data = None
    if piped:
        with open(piped, "rb") as f:
            data = f.read()
    done = subprocess.run([program, *args], input=data, stdout=stdout, stderr=subprocess.PIPE,
                          check=False, timeout=60, preexec_fn=limit if memory else None)
    return (done.returncode, (done.stdout or b"").decode(errors="surrogateescape"),
            done.stderr.decode(errors="surrogateescape"))


def sox(*args):
    """Runs SoX quietly, without dither, so that the files it makes are the
    same on every run."""
    subprocess.run(["sox", "-V1", "-D", *args], check=True, timeout=60)


def csv_rows(out):
    """The rows of a --csv batch, each a dict by the header's names."""
    return list(csv.DictReader(io.StringIO(out)))


def gains(row):
    return [float(row["gain_db_%d" % k]) for k in range(1, 12)]


def settled_second(step):
    """A time (s) inside the measured half of a step (from 1) of the demo
    recording: the half starts 12.6 s into the 25.2 s step, the recording
    lags by the device's delay."""
    return 15.0 + 25.2 * (step - 1) + 12.6 + DEVICE_DELAY / 48000.0


def write_wav_header(file_path, rate, samples, data_bytes=None):
    """A mono 16-bit WAV header announcing `samples` samples; the file is
    extended to that length without writing it (sparse), unless data_bytes
    gives what follows the header."""
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    with open(file_path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + 2 * samples) + b"WAVE" + b"fmt " +
                struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", 2 * samples))
        if data_bytes is None:
            f.truncate(44 + 2 * samples)
        else:
            f.write(data_bytes)


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def number(value):
    """A number of a --json document: non-finite values are strings."""
    if isinstance(value, str):
        return {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}[value]
    return float(value)


def read_wav(file_path):
    """(rate, samples as they are stored, one column per channel, bits,
    float?) of a PCM or float WAV file, read here independently of the
    tools."""
    with open(file_path, "rb") as f:
        data = memoryview(f.read())
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", file_path
    pos, fmt, payload = 12, None, None
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if chunk == b"fmt ":
            tag, channels, rate, _, _, width = struct.unpack("<HHIIHH", body[:16])
            if tag == 0xFFFE:
                tag = struct.unpack("<H", body[24:26])[0]
            fmt = (tag, channels, rate, width)
        elif chunk == b"data":
            payload = body
        pos += 8 + size + (size & 1)
    tag, channels, rate, width = fmt
    if tag == 1 and width == 8:
        x = np.frombuffer(payload, np.uint8).astype(np.int64) - 128
    elif tag == 1 and width == 16:
        x = np.frombuffer(payload, "<i2").astype(np.int64)
    elif tag == 1 and width == 24:
        # Each 3-byte sample as the top of a 32-bit word, shifted back down
        # with its sign.
        words = np.zeros((len(payload) // 3, 4), np.uint8)
        words[:, 1:] = np.frombuffer(payload, np.uint8).reshape(-1, 3)
        x = words.view("<i4").reshape(-1) >> 8
    elif tag == 3 and width == 32:
        x = np.frombuffer(payload, "<f4")
    else:
        raise ValueError("%s: format %d, %d bits" % (file_path, tag, width))
    return rate, x.reshape(-1, channels), width, tag == 3


def samples(file_path, channel=1):
    """A channel on the 16-bit scale by the tools' rule: 16-bit PCM as its
    integers, B-bit PCM n as (n / 2^(B-1)) * 32767, float x as x * 32767."""
    _, x, width, is_float = read_wav(file_path)
    column = x[:, channel - 1]
    if is_float:
        return column.astype(np.float64) * 32767.0
    if width == 16:
        return column.astype(np.float64)
    return (column.astype(np.float64) * 2.0 ** -(width - 1)) * 32767.0


# The --json document of lumetra-measure: every key and the type of its value
# ("number": a JSON number, or "NaN", "Infinity", "-Infinity").
FILE_SHAPE = {"path": str, "container": str, "encoding": str, "sample_scale": str,
              "rate_hz": int, "channels": int, "channel": int, "samples": int, "truncated": bool,
              "resampled_from": (None, {"rate_hz": int, "samples": int})}
STEP_SHAPE = {"step": int, "start_sample": int, "samples": int, "level_db": "number",
              "spread_db": "number", "reference_level_db": "number",
              "reference_spread_db": "number", "gain_db": "number", "coverage": "number",
              "noise_distortion_db": "number", "dc_offset_db": "number",
              "spread_excess_db": "number", "clipped_samples": int, "questionable": [str]}
ALIGNMENT_SHAPE = {"onset_frame_reference": int, "onset_frame_recording": int,
                   "coarse_delay_samples": "number", "coarse_delay_flag": "number",
                   "peak_index": int, "peak_value": "number", "trust_ratio": "number",
                   "trust_limit": "number", "total_delay_samples": "number",
                   "total_delay_ms": "number", "aligned": str, "aligned_samples": int}
LIMITS_SHAPE = (None, {"verdict": str,
                       "checks": [{"check": str, "step": (None, int), "value": "number",
                                   "min": (None, "number"), "max": (None, "number"),
                                   "outcome": str}]})
NON_FINITE_SHAPE = (None, {"file": str, "path": str, "position": int, "value": "number"})
GAIN_SHAPE = {"schema": str, "reference": FILE_SHAPE, "recording": FILE_SHAPE,
              "step_mode": "number", "step_period_s": "number", "steps": [STEP_SHAPE],
              "peak_level_db": "number", "failed": "number", "causes": [str],
              "alignment": ALIGNMENT_SHAPE, "verdict": str, "verdict_causes": [str],
              "uncovered_steps": [int], "non_finite_sample": NON_FINITE_SHAPE, "version": str,
              "step_period_source": str,
              "step_period_check": {"fitting_period_s": (None, "number"),
                                    "layouts": [{"period_s": "number", "held": bool,
                                                 "median_step_spread_db": (None, "number")}],
                                    "steady_limit_db": "number", "unsteady_limit_db": "number",
                                    "guard_samples": int},
              "step_period_warning": (None, str), "questionable_steps": [int],
              "quality_limits": {"max_noise_distortion_db": "number",
                                 "max_spread_excess_db": "number", "max_clipped_samples": int},
              "drift_ppm": (None, "number"), "drift_corrected": bool, "limits": LIMITS_SHAPE}
SNR_DIAGNOSTICS_SHAPE = {k: "number" for k in (
    "frame_length", "frame_count", "active_frames", "activity_factor", "active_power_sum",
    "inactive_power_sum", "noise_power", "signal_power", "noise_power_db", "signal_power_db")}
LAG_SHAPE = {"samples": int, "ms": "number", "window_samples": int, "max_lag_samples": int,
             "aligned": bool, "gate_first_sample": int, "measured_first_sample": int,
             "prominence": "number", "reliable": bool}
SNR_SHAPE = {"schema": str, "gate": FILE_SHAPE, "measured": FILE_SHAPE, "rate_hz": int,
             "snr_db": "number", "reason": str, "diagnostics": SNR_DIAGNOSTICS_SHAPE,
             "verdict": str, "non_finite_sample": NON_FINITE_SHAPE, "lag": LAG_SHAPE,
             "version": str, "limits": LIMITS_SHAPE}


class Shape(unittest.TestCase):
    def assert_shape(self, value, shape, where="document"):
        if isinstance(shape, tuple):  # (None, shape): null or that shape
            if value is not None:
                self.assert_shape(value, shape[1], where)
        elif isinstance(shape, dict):
            self.assertIsInstance(value, dict, where)
            self.assertEqual(list(value), list(shape), where)
            for key, inner in shape.items():
                self.assert_shape(value[key], inner, where + "." + key)
        elif isinstance(shape, list):
            self.assertIsInstance(value, list, where)
            for k, item in enumerate(value):
                self.assert_shape(item, shape[0], "%s[%d]" % (where, k))
        elif shape == "number":
            self.assertTrue(isinstance(value, (int, float)) and not isinstance(value, bool) or
                            value in ("NaN", "Infinity", "-Infinity"), where + ": " + repr(value))
        else:
            self.assertIs(type(value), shape, where + ": " + repr(value))

    def assert_refused(self, done, status, says):
        code, out, err = done
        self.assertEqual(code, status, err)
        self.assertEqual(out, "")
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertIn(says, lines[0])


def assert_same_outputs(test, document, result):
    """The --json numbers of lumetra-measure against the exported function's."""
    for k, step in enumerate(document["steps"]):
        test.assertEqual(bits(number(step["level_db"])), bits(result.step_levels[k]), k)
        test.assertEqual(bits(number(step["spread_db"])), bits(result.step_ranges[k]), k)
    test.assertEqual(bits(number(document["peak_level_db"])), bits(result.peak_level))
    test.assertEqual(document["failed"], 1 if result.failed else 0)


class Startup(Shape):
    """--help and --version run in the address space ulimit -v 100000 leaves:
    they need no measurement's memory."""

    def test_help_and_version_in_little_memory(self):
        for program in (LUMETRA_MEASURE, QUENBAR_SNR):
            for option in ("--help", "--version"):
                code, out, err = run(program, option, memory=100000 * 1024)
                self.assertEqual((code, err, out != ""), (0, "", True), program + " " + option)


class GainOfTheDemoDevice(Shape):
    """The demonstration pair in 16-bit PCM: JSON, chart and table (the
    recording under a name that is not UTF-8, which the chart, an XML
    document, must still parse with); the recording also as channel 2 of a
    stereo file."""

    @classmethod
    def setUpClass(cls):
        cls.chart = path("steps.svg")
        latin1 = os.fsencode(path("recording_caf")) + b"\xe9.wav"
        if not os.path.lexists(latin1):
            os.symlink("recording.wav", latin1)
        cls.done = run(LUMETRA_MEASURE, path("reference.wav"), latin1, "--json", "--plot",
                       cls.chart)

    def test_json_has_its_documented_shape(self):
        code, out, err = self.done
        self.assertEqual(code, 0, err)
        self.assertEqual(err, "")
        document = json.loads(out)
        self.assert_shape(document, GAIN_SHAPE)
        self.assertEqual(document["schema"], "lumetra-measure/1")
        self.assertEqual(len(document["steps"]), 11)
        self.assertEqual([s["step"] for s in document["steps"]], list(range(1, 12)))
        self.assertEqual(document["recording"]["path"], path("recording_caf\ufffd.wav"))
        self.assertEqual(document["reference"]["encoding"], "16-bit PCM")
        self.assertEqual(document["reference"]["sample_scale"], "integer")
        self.assertEqual(document["step_period_s"], 25.2)
        self.assertEqual(document["step_period_source"], "auto")
        check = document["step_period_check"]
        self.assertEqual(check["fitting_period_s"], 25.2)
        self.assertEqual([f["period_s"] for f in check["layouts"]], [25.2, 24.7])
        self.assertIsNone(document["step_period_warning"])

    def test_a_period_the_reference_contradicts(self):
        # Measured as given, with the period that fits named on stderr.
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), path("recording.wav"),
                             "--json", "--step-period", "24.7")
        document = json.loads(out)
        self.assertEqual((document["step_period_s"], document["step_period_source"]),
                         (24.7, "option"))
        self.assertEqual(err, "lumetra-measure: warning: " + document["step_period_warning"] +
                         "\n")
        self.assertIn("fit 25.2 s steps, not the 24.7 s given", err)

    def test_outputs_are_the_exported_functions_bits(self):
        document = json.loads(self.done[1])
        result = audiomeasure.estimate_gain(samples(path("reference.wav")),
                                            samples(path("recording.wav")))
        assert_same_outputs(self, document, result)
        self.assertFalse(result.failed)

    def test_diagnostics_tell_the_device(self):
        document = json.loads(self.done[1])
        a = document["alignment"]
        self.assertEqual(document["causes"], [])
        self.assertEqual(a["total_delay_samples"], DEVICE_DELAY)
        self.assertEqual(a["total_delay_ms"], DEVICE_DELAY / 48.0)
        self.assertEqual(a["coarse_delay_samples"] % 240, 0)
        self.assertEqual(a["peak_index"], 720000 - a["coarse_delay_samples"] - DEVICE_DELAY)
        self.assertLess(number(a["trust_ratio"]), a["trust_limit"])
        self.assertEqual(a["trust_limit"], 0.04)
        self.assertEqual(a["aligned"], "whole")
        self.assertEqual(a["aligned_samples"], document["reference"]["samples"])
        for k, step in enumerate(document["steps"]):
            self.assertEqual(step["gain_db"], step["level_db"] - step["reference_level_db"])
            self.assertAlmostEqual(step["gain_db"], DEVICE_GAINS[k], delta=0.01)

    def test_chart_shows_eleven_steps(self):
        root = ElementTree.parse(self.chart).getroot()
        svg = "{http://www.w3.org/2000/svg}"
        self.assertEqual(root.tag, svg + "svg")
        texts = [t.text for t in root.iter(svg + "text")]
        for k in range(1, 12):
            self.assertIn(str(k), texts)
        self.assertIn("trusted (failed = 0)", texts)
        self.assertIn("recording: " + path("recording_caf\ufffd.wav"), texts)
        self.assertEqual(len(root.findall(svg + "circle")), 12)

    def test_table(self):
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), path("recording.wav"))
        self.assertEqual(code, 0, err)
        lines = out.splitlines()
        rows = [line.split() for line in lines if line[:4].strip().isdigit()][:11]
        self.assertEqual([int(r[0]) for r in rows], list(range(1, 12)))
        for k, row in enumerate(rows):
            self.assertAlmostEqual(float(row[6]), DEVICE_GAINS[k], delta=0.01)
        self.assertIn("  total delay        12345 samples = 257.1875 ms", lines)
        self.assertEqual(lines[-1], "result     trusted (failed = 0)")

    def test_a_channel_of_a_stereo_file(self):
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"),
                             path("recording_stereo.wav"), "--json", "--channel", "2")
        self.assertEqual(code, 0, err)
        document = json.loads(out)
        mono = json.loads(self.done[1])
        self.assertEqual(document["recording"]["channels"], 2)
        self.assertEqual(document["recording"]["channel"], 2)
        self.assertEqual(document["steps"], mono["steps"])
        self.assertEqual(document["alignment"], mono["alignment"])
        self.assert_refused(run(LUMETRA_MEASURE, path("reference.wav"),
                                path("recording_stereo.wav")),
                            3, "has 2 channels; choose one with --channel N (1 to 2)")


class GainOfOtherEncodings(Shape):
    """The recording in 24-bit PCM (256 n) and in 32-bit float (n / 32768):
    by the scale rule both read as n / 32768 * 32767, the same doubles, which
    the tool measures as the exported function does."""

    def test_24_bit_and_float(self):
        wide = samples(path("recording_24bit.wav"))
        np.testing.assert_array_equal(wide, samples(path("recording_float.wav")))
        result = audiomeasure.estimate_gain(samples(path("reference.wav")), wide)
        for name, encoding in [("recording_24bit.wav", "24-bit PCM"),
                               ("recording_float.wav", "32-bit float")]:
            with self.subTest(name=name):
                code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), path(name),
                                     "--json")
                self.assertEqual(code, 0, err)
                document = json.loads(out)
                self.assertEqual(document["recording"]["encoding"], encoding)
                self.assertEqual(document["recording"]["sample_scale"], "normalised*32767")
                assert_same_outputs(self, document, result)
                self.assertEqual(document["alignment"]["total_delay_samples"], DEVICE_DELAY)
                for k, step in enumerate(document["steps"]):
                    self.assertAlmostEqual(step["gain_db"], DEVICE_GAINS[k], delta=0.01)


class GainOfAReferenceCutShort(Shape):
    """A FLAC reference that ends before its header's length, which shows
    only at its end: the library, told the header's length, is given the
    reference again with the length it holds, and the gains are those of
    its samples, on disk and through a pipe on standard input."""

    def test_measured_as_far_as_it_goes(self):
        code, out, err = run(LUMETRA_MEASURE, path("reference_cut.flac"), path("recording.wav"),
                             "--json")
        self.assertEqual(code, 0, err)
        document = json.loads(out)
        held = document["reference"]["samples"]
        self.assertTrue(document["reference"]["truncated"])
        self.assertIn("lumetra-measure: warning: %s is shorter than its header announces (cut "
                      "short?); measuring the %d samples it holds\n"
                      % (path("reference_cut.flac"), held), err)
        assert_gain_document(self, document, audiomeasure.measure_gain(
            samples(path("reference.wav"))[:held], samples(path("recording.wav"))))
        code, out, err = run(LUMETRA_MEASURE, "-", path("recording.wav"), "--json",
                             piped=path("reference_cut.flac"))
        self.assertEqual(code, 0, err)
        document["reference"]["path"] = "-"
        self.assertEqual(json.loads(out), document)


class GainOfOtherRates(Shape):
    """The demonstration recording converted to 44100 Hz (by libsoxr in one
    call), converted back by --resample as it is read: the same gains."""

    def test_resampled_recording(self):
        self.assert_refused(run(LUMETRA_MEASURE, path("reference.wav"),
                                path("recording_44100.wav")),
                            3, "sample rate 44100 Hz; lumetra measures 48000 Hz only (--resample "
                            "converts it)")
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), path("recording_44100.wav"),
                             "--json", "--resample")
        self.assertEqual((code, err), (0, ""))
        document = json.loads(out)
        self.assert_shape(document, GAIN_SHAPE)
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), path("recording.wav"),
                             "--json", "--resample")
        native = json.loads(out)
        self.assertIsNone(native["recording"]["resampled_from"])
        self.assertEqual(document["recording"]["rate_hz"], 48000)
        self.assertEqual(document["recording"]["samples"], native["recording"]["samples"])
        self.assertEqual(document["recording"]["resampled_from"],
                         {"rate_hz": 44100, "samples": round(12876345 * 44100 / 48000)})
        self.assertEqual(document["alignment"]["total_delay_samples"], DEVICE_DELAY)
        for ours, theirs in zip(document["steps"], native["steps"]):
            # Within 0.01 dB is what a user needs; 2.4e-5 dB is what it gives.
            self.assertAlmostEqual(ours["gain_db"], theirs["gain_db"], delta=0.001)


class GainThatFails(Shape):
    """The reference as its own recording: no delay, so the alignment fails
    by design and the steps are measured on silence."""

    def test_json_and_the_exported_function(self):
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), path("reference.wav"),
                             "--json")
        self.assertEqual(code, 1, err)
        document = json.loads(out)
        self.assert_shape(document, GAIN_SHAPE)
        self.assertEqual(document["failed"], 1)
        self.assertEqual(document["causes"], ["not_lagging"])
        self.assertEqual(document["alignment"]["total_delay_samples"], 0)
        self.assertEqual(document["alignment"]["aligned"], "none")
        for step in document["steps"]:
            self.assertEqual(step["level_db"], "-Infinity")
            self.assertEqual(step["spread_db"], "Infinity")
            self.assertEqual(step["gain_db"], "-Infinity")
        reference = samples(path("reference.wav"))
        result = audiomeasure.estimate_gain(reference, reference)
        self.assertTrue(result.failed)
        assert_same_outputs(self, document, result)


class GainRefusals(Shape):
    """Refusals that need the fixture's files or a real stdout (the command
    line's mistakes and the files it cannot read are the in-process tests')."""

    def test_a_cut_short_recording_is_named(self):
        # Refused: only the refusal's line, no warning that it will be measured.
        self.assert_refused(run(LUMETRA_MEASURE, path("reference.wav"), path("truncated_data.wav")),
                            3, "lumetra-measure: %s: 500 samples (0.010 s); a recording needs at "
                            "least 720000 (15 s) to be aligned" % path("truncated_data.wav"))

    def test_a_full_stdout_after_a_measurement(self):
        with open(os.devnull if os.name == "nt" else "/dev/full", "w") as full:
            self.assert_refused(run(LUMETRA_MEASURE, path("reference.wav"),
                                    path("recording.wav"), "--json", stdout=full), 4,
                                "cannot write the output to stdout: No space left on device")


class GainVerdicts(Shape):
    """Measured, but not good: exit 1, the library's failed flag as it is,
    and the verdict with its causes."""

    def test_verdicts(self):
        cases = [
            # recording, reference, verdict, causes, uncovered steps, non-finite (file, position)
            ("recording_30s.wav", "reference.wav", "incomplete", ["steps_not_covered"],
             list(range(1, 12)), None),
            ("recording_nan.wav", "reference.wav", "non_finite_samples", ["non_finite_samples"],
             [], ("recording", 5000000)),
            ("recording.wav", "reference_inf.wav", "non_finite_samples",
             ["non_finite_samples"], [], ("reference", 2000000)),
        ]
        for recording, reference, verdict, causes, uncovered, non_finite in cases:
            with self.subTest(recording=recording, reference=reference):
                code, out, err = run(LUMETRA_MEASURE, path(reference), path(recording), "--json")
                self.assertEqual(code, 1, err)
                self.assertEqual(err, "")
                document = json.loads(out)
                self.assert_shape(document, GAIN_SHAPE)
                self.assertEqual(document["failed"], 0)
                self.assertEqual(document["verdict"], verdict)
                self.assertEqual(document["verdict_causes"], causes)
                self.assertEqual(document["uncovered_steps"], uncovered)
                found = document["non_finite_sample"]
                self.assertEqual(found and (found["file"], found["position"]), non_finite)
                table = run(LUMETRA_MEASURE, path(reference), path(recording))
                self.assertEqual(table[0], 1)
                self.assertIn("result     %s (failed = 0):" % (
                    "INCOMPLETE" if verdict == "incomplete" else "NOT USABLE"), table[1])


class Snr(Shape):
    def measure(self, gate, measured, *options):
        return run(QUENBAR_SNR, path(gate), path(measured), *options)

    def test_json_agrees_with_the_exported_function(self):
        code, out, err = self.measure("gate.wav", "measured.wav", "--json")
        self.assertEqual(code, 0, err)
        document = json.loads(out)
        self.assert_shape(document, SNR_SHAPE)
        self.assertEqual(document["schema"], "quenbar-snr/1")
        self.assertEqual(document["reason"], "finite")
        result = audiomeasure.estimate_snr(samples(path("gate.wav")),
                                           samples(path("measured.wav")), 48000)
        self.assertEqual(bits(document["snr_db"]), bits(result.snr_db))
        self.assertAlmostEqual(result.snr_db, 20.0, delta=0.2)
        d = document["diagnostics"]
        self.assertEqual(d["frame_length"], 240)
        self.assertEqual(d["frame_count"], 4000)
        self.assertEqual(d["activity_factor"], d["active_frames"] / d["frame_count"])
        self.assertAlmostEqual(d["signal_power_db"] - d["noise_power_db"], result.snr_db,
                               delta=1e-9)

    def test_8_bit_gate(self):
        code, out, err = self.measure("gate_8bit.wav", "measured.wav", "--json")
        self.assertEqual(code, 0, err)
        document = json.loads(out)
        self.assertEqual(document["gate"]["encoding"], "8-bit PCM (unsigned)")
        result = audiomeasure.estimate_snr(samples(path("gate_8bit.wav")),
                                           samples(path("measured.wav")), 48000)
        self.assertEqual(bits(document["snr_db"]), bits(result.snr_db))

    def test_a_silent_gate_leaves_no_signal(self):
        code, out, err = self.measure("gate_silent.wav", "measured.wav", "--json")
        self.assertEqual(code, 1, err)
        document = json.loads(out)
        self.assertEqual(document["snr_db"], "NaN")
        self.assertEqual(document["reason"], "no_active_frame")
        result = audiomeasure.estimate_snr(samples(path("gate_silent.wav")),
                                           samples(path("measured.wav")), 48000)
        self.assertTrue(math.isnan(result.snr_db))

    def test_a_late_file_and_a_lag_beyond_the_search(self):
        # 2 s late: found (96000 samples, reliable); aligned, the demo's SNR.
        # 7 s late: beyond the 5 s search, not reliable, and --align refuses it.
        demo = json.loads(self.measure("gate.wav", "measured.wav", "--json")[1])
        with tempfile.TemporaryDirectory() as folder:
            for seconds, lag, reliable in [(2, 96000, True), (7, None, False)]:
                late = os.path.join(folder, "late_%d.wav" % seconds)
                sox("-n", "-r", "48000", "-b", "16", "-c", "1", late + ".silence.wav", "trim",
                    "0", str(seconds))
                sox(late + ".silence.wav", path("measured.wav"), late)
                code, out, err = run(QUENBAR_SNR, path("gate.wav"), late, "--json")
                document = json.loads(out)
                self.assertEqual(document["lag"]["reliable"], reliable)
                self.assertIn("lags %s by %d samples" % (path("gate.wav"),
                                                         document["lag"]["samples"]), err)
                if reliable:
                    self.assertEqual(document["lag"]["samples"], lag)
                    self.assertGreaterEqual(document["lag"]["prominence"], 3)
                    code, out, err = run(QUENBAR_SNR, path("gate.wav"), late, "--json", "--align")
                    self.assertAlmostEqual(json.loads(out)["snr_db"], demo["snr_db"], delta=0.1)
                else:
                    self.assertLess(number(document["lag"]["prominence"]), 3)
                    self.assert_refused(
                        run(QUENBAR_SNR, path("gate.wav"), late, "--align"), 3,
                        "late_7.wav: the lag between the signals does not stand out")

    def test_resampled_measured(self):
        # Converted to the gate's rate as it is read: no lag, the same SNR
        # but for the white noise above the converter's passband (95 % of
        # 24 kHz), which both conversions take away: 10 log10(1 / 0.95) dB
        # more; and a NaN named at the file's own rate.
        code, out, err = self.measure("gate.wav", "measured_96000.wav", "--json", "--resample")
        self.assertEqual(code, 0, err)
        document = json.loads(out)
        native = json.loads(self.measure("gate.wav", "measured.wav", "--json")[1])
        self.assertAlmostEqual(document["snr_db"] - native["snr_db"], -10 * math.log10(0.95),
                               delta=0.05)
        self.assertEqual(document["lag"]["samples"], 0)
        self.assertEqual(document["measured"]["resampled_from"]["rate_hz"], 96000)
        self.assertEqual(document["measured"]["samples"], native["measured"]["samples"])
        code, out, err = self.measure("gate.wav", "measured_96000_nan.wav", "--json",
                                      "--resample")
        self.assertEqual(code, 1, err)
        self.assertEqual(json.loads(out)["non_finite_sample"]["position"], 100000)

    def test_gates_cut_short_and_on_standard_input(self):
        # A gate whose file ends before its header's length is measured as
        # far as it goes, whatever its container, with a warning; through a
        # pipe on standard input a file reads as it does on disk (FLAC's
        # decoder seeks in it).
        gate, measured = samples(path("gate.wav")), samples(path("measured.wav"))
        warning = ("quenbar-snr: warning: %s is shorter than its header announces (cut short?); "
                   "measuring the %d samples it holds\n")
        for name, cut in [("truncated_data.wav", True), ("gate_cut.caf", True),
                          ("gate_cut.flac", True), ("gate.flac", False)]:
            with self.subTest(name=name):
                code, out, err = self.measure(name, "measured.wav", "--json")
                document = json.loads(out)
                held = document["gate"]["samples"]
                self.assertEqual(document["gate"]["truncated"], cut)
                self.assertEqual(err, warning % (path(name), held) if cut else "")
                result = audiomeasure.estimate_snr(gate[:held], measured, 48000)
                same_number(self, document["snr_db"], result.snr_db, name)
                self.assertEqual(code, 0 if math.isfinite(result.snr_db) else 1)
                piped = run(QUENBAR_SNR, "-", path("measured.wav"), "--json", piped=path(name))
                self.assertEqual(piped[0], code)
                self.assertEqual(piped[2], warning % ("standard input (-)", held) if cut else "")
                document["gate"]["path"] = "-"
                self.assertEqual(json.loads(piped[1]), document)

    def test_refusals(self):
        self.assert_refused(self.measure("gate.wav", "measured_44100.wav"), 3,
                            "both must have one rate (--resample converts MEASURED to GATE's)")
        with tempfile.TemporaryDirectory() as folder:
            at = lambda name: os.path.join(folder, name)  # noqa: E731
            hours = 2 * 3600 * 48000
            write_wav_header(at("two_hours.wav"), 48000, hours)
            write_wav_header(at("zero_hz.wav"), 0, 100, bytes(200))
            os.mkfifo(at("pipe.wav"))
            cases = [
                # Refused from the headers: the 2.6 GiB of doubles are never asked for.
                ((at("two_hours.wav"), path("measured.wav")), 1 << 30, 3,
                 "measured.wav: 960000 samples; the gate's 1440000 whole frames need 345600000"),
                ((at("zero_hz.wav"), path("measured.wav")), None, 3,
                 "zero_hz.wav: the header gives a sample rate of 0 Hz"),
                ((folder, path("measured.wav")), None, 3, folder + ": is a folder"),
                ((path("gate.wav"), at("pipe.wav")), None, 3,
                 "pipe.wav: is not a regular file (a pipe, device or socket)"),
            ]
            for args, memory, status, says in cases:
                with self.subTest(says=says):
                    self.assert_refused(run(QUENBAR_SNR, *args, memory=memory), status, says)
            # Measured while read: two hours (2.6 GiB as doubles) in 256 MiB
            # of address space; the silent gate has no active frame.
            code, out, err = run(QUENBAR_SNR, at("two_hours.wav"), at("two_hours.wav"),
                                 memory=1 << 28)
            self.assertEqual(code, 1, err)
            self.assertIn("active frames   0 of 1440000", out)
            self.assertIn("no frame of the gate is active", out)
        self.assert_refused(self.measure("empty.wav", "measured.wav"), 3, "holds no samples")
        self.assert_refused(run(QUENBAR_SNR, "-", path("measured.wav"), piped=os.devnull), 3,
                            "quenbar-snr: -: holds no samples (standard input is empty)")
        self.assert_refused(self.measure("truncated_header.wav", "measured.wav"), 3,
                            "cannot read it as audio")
        self.assert_refused(self.measure("gate.wav", "not_audio.wav"), 3,
                            "cannot read it as audio")
        self.assert_refused(run(QUENBAR_SNR, "--channel"), 2, "--channel needs a value")


class GainQuality(Shape):
    """Whether a reading is a reading of the device: the demonstration
    recording spoilt the ways a production line spoils it is questionable
    or worse, with its cause; changed the ways a healthy chain changes it,
    it stays trusted. The material is made with SoX and LAME from the
    recording padded with a second of silence, so that a filter's delay or
    a converted rate, which move it by a sample, leave every step inside it;
    all of it is measured in one batch."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        at = lambda name: os.path.join(cls.folder.name, name)  # noqa: E731
        padded = at("clean.wav")
        sox(path("recording.wav"), padded, "pad", "0", "1")
        sox("-n", "-r", "48000", "-b", "16", "-c", "1", at("silence.wav"), "trim", "0", "2")
        sox("-n", "-r", "48000", "-b", "16", "-c", "1", at("noise.wav"), "synth", "270",
            "whitenoise", "vol", str(0.1 * math.sqrt(3.0)))  # RMS 0.1: -20 dB re full scale

        def pieces(out, *parts):
            """out: the padded recording's stretches (start s, length s or
            None for the rest, sox effects...) and "silence" between them."""
            files = []
            for k, part in enumerate(parts):
                if part == "silence":
                    files.append(at("silence.wav"))
                    continue
                start, length, *effects = part
                files.append(at("%s.%d.wav" % (out, k)))
                sox(padded, files[-1], "trim", str(start), *([str(length)] if length else []),
                    *effects)
            sox(*files, at(out))

        pieces("restart.wav", "silence", (0, 20), (0, None))
        dropout = settled_second(3) + 2.0
        pieces("dropout.wav", (0, dropout), "silence", (dropout + 2.0, None))
        jump = settled_second(5) + 4.0
        pieces("jump.wav", (0, jump), (jump, 5.0, "vol", "2"), (jump + 5.0, None))
        sox(padded, at("clipping.wav"), "vol", "2")
        sox(padded, at("dc.wav"), "dcshift", str(300 / 32768))
        sox("-m", "-v", "1", padded, "-v", "1", at("noise.wav"), at("noisy.wav"))
        sox(padded, at("band_pass.wav"), "highpass", "20", "lowpass", "12000")
        sox(padded, "-r", "44100", at("44100.wav"), "rate")
        sox(at("44100.wav"), "-r", "48000", at("rates.wav"), "rate")
        subprocess.run(["lame", "--silent", "-b", "128", padded, at("mp3.mp3")], check=True,
                       timeout=60)
        sox(padded, at("inverted.wav"), "vol", "-1")
        sox(padded, "-b", "24", at("24bit.wav"))
        sox(padded, "-e", "floating-point", "-b", "32", at("float.wav"))
        cls.at = staticmethod(at)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_spoilt_and_healthy_recordings(self):
        cases = [
            # file, verdict, a cause among verdict_causes, the clean recording's gains kept
            ("restart.wav", "questionable", "noise_distortion", False),
            ("dropout.wav", "questionable", "unsteady", False),
            ("clipping.wav", "questionable", "clipping", False),
            ("dc.wav", "questionable", "noise_distortion", False),
            ("jump.wav", "questionable", "unsteady", False),
            ("noisy.wav", "questionable", "noise_distortion", False),
            ("clean.wav", "trusted", None, True),
            ("band_pass.wav", "trusted", None, False),
            ("rates.wav", "trusted", None, True),
            ("mp3.mp3", "trusted", None, False),
            ("inverted.wav", "trusted", None, True),
            ("24bit.wav", "trusted", None, True),
            ("float.wav", "trusted", None, True),
        ]
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"),
                             *[self.at(c[0]) for c in cases], "--csv", "--jobs", "2")
        self.assertEqual(code, 1, err)
        rows = csv_rows(out)
        clean = gains(rows[6])
        for (name, verdict, cause, same_gains), row in zip(cases, rows):
            with self.subTest(name=name):
                self.assertEqual(row["path"], self.at(name))
                self.assertEqual((row["verdict"], row["exit_status"]),
                                 (verdict, "0" if verdict == "trusted" else "1"), row["causes"])
                if cause:
                    self.assertIn(cause, row["causes"].split(";"))
                    marked = [row["questionable_%d" % k] for k in range(1, 12)]
                    self.assertTrue(any(cause in m.split(";") for m in marked), marked)
                else:
                    self.assertEqual(row["causes"], "")
                if same_gains:
                    for got, want in zip(gains(row), clean):
                        self.assertAlmostEqual(got, want, delta=0.01)

    def test_the_table_names_each_cause_with_its_figures(self):
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), self.at("dropout.wav"))
        self.assertEqual(code, 1, err)
        self.assertIn("result     QUESTIONABLE (failed = 0):\n  - the step's level moves: its "
                      "50 ms block levels spread more than the reference's own (step 3: spread "
                      "Inf dB", out)
        # The silence's 50 ms blocks have no level: the spread is infinite.
        self.assertRegex(out, r"\n   3 ! +-[0-9.]+ +-[0-9.]+ +Inf +0  unsteady\n")


class GainDrift(Shape):
    """A recording whose clock drifts (SoX's speed: its content comes 1 +
    ppm / 1e6 times faster): the drift is estimated within 10 %, and with
    --drift-correct every one is trusted with the undrifted gains."""

    def test_drift_is_estimated_and_corrected(self):
        with tempfile.TemporaryDirectory() as folder:
            clean = os.path.join(folder, "clean.wav")
            sox(path("recording.wav"), clean, "pad", "0", "1")
            ppms = [100.0, -100.0, 200.0]
            files = []
            for ppm in ppms:
                files.append(os.path.join(folder, "drift_%+d.wav" % ppm))
                sox(clean, files[-1], "speed", repr(1.0 + ppm * 1e-6))
            code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), clean, *files, "--csv",
                                 "--jobs", "2")
            rows = csv_rows(out)
            for ppm, row in zip(ppms, rows[1:]):
                self.assertAlmostEqual(float(row["drift_ppm"]), ppm, delta=0.1 * abs(ppm))
                self.assertEqual(row["drift_corrected"], "0")
                if row["verdict"] == "not_trusted":
                    self.assertIn("clock_drift", row["causes"].split(";"))
            code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), *files, "--csv",
                                 "--jobs", "2", "--drift-correct")
            self.assertEqual(code, 0, err)
            for row in csv_rows(out):
                self.assertEqual((row["verdict"], row["drift_corrected"]), ("trusted", "1"))
                for got, want in zip(gains(row), gains(rows[0])):
                    self.assertAlmostEqual(got, want, delta=0.02)


class LimitsAndReports(Shape):
    """A device's limits from a TOML file, judged on usable measurements
    (exit 6 outside them), and the report files: JUnit XML and the HTML
    page, which headless Chromium opens."""

    LIMITS = ("[gain]  # recording level minus reference level, every step, dB\n"
              "min_db = -4.0\nmax_db = 4.0\nmax_delay_samples = 24000\n"
              "[gain.step.9]  # the demo device's step 9 is +3.5 dB\nmax_db = %s\n"
              "[snr]\nmin_db = %s\n")

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def at(self, name):
        return os.path.join(self.folder.name, name)

    def limits(self, step9_max, snr_min, name="limits.toml"):
        with open(self.at(name), "w") as f:
            f.write(self.LIMITS % (step9_max, snr_min))
        return self.at(name)

    def test_pass_fail_and_mistakes(self):
        passing, failing = self.limits(4.0, 15.0, "pass.toml"), self.limits(3.0, 25.0)
        cases = [
            # program, files, limits, status, limits verdict, failed checks
            (LUMETRA_MEASURE, ("reference.wav", "recording.wav"), passing, 0, "pass", ""),
            (LUMETRA_MEASURE, ("reference.wav", "recording.wav"), failing, 6, "fail", "gain@9"),
            (QUENBAR_SNR, ("gate.wav", "measured.wav"), passing, 0, "pass", ""),
            (QUENBAR_SNR, ("gate.wav", "measured.wav"), failing, 6, "fail", "snr"),
        ]
        for program, files, limits, status, verdict, failed in cases:
            with self.subTest(program=program, limits=limits):
                code, out, err = run(program, *map(path, files), "--limits", limits, "--json")
                self.assertEqual(code, status, err)
                document = json.loads(out)
                self.assert_shape(document, GAIN_SHAPE if program == LUMETRA_MEASURE else
                                  SNR_SHAPE)
                judged = document["limits"]
                self.assertEqual(judged["verdict"], verdict)
                self.assertEqual(";".join("%s@%d" % (c["check"], c["step"]) if c["step"] else
                                          c["check"] for c in judged["checks"]
                                          if c["outcome"] == "fail"), failed)
        checks = json.loads(run(LUMETRA_MEASURE, path("reference.wav"), path("recording.wav"),
                                "--limits", failing, "--json")[1])["limits"]["checks"]
        self.assertEqual(len(checks), 11 + 1)  # every step's gain, the delay
        self.assertEqual(checks[8], {"check": "gain", "step": 9, "value": checks[8]["value"],
                                     "min": -4, "max": 3, "outcome": "fail"})
        with open(self.at("bad.toml"), "w") as f:
            f.write("[gain]\nmin_db = -4.0\nmax_gain_db = 4.0\n")
        self.assert_refused(run(LUMETRA_MEASURE, path("reference.wav"), path("recording.wav"),
                                "--limits", self.at("bad.toml")),
                            2, self.at("bad.toml") + ":3: unknown key 'max_gain_db' in [gain]")

    def test_a_batch_in_junit_and_html(self):
        files = ["recording.wav", "recording_30s.wav", "no_such_file.wav", "recording_float.wav"]
        odd = self.at("unit \xe9 & <7>.wav".encode("latin-1").decode("utf-8", "surrogateescape"))
        os.symlink(path("recording.wav"), odd)
        junit, page = self.at("results.xml"), self.at("report.html")
        code, out, err = run(LUMETRA_MEASURE, path("reference.wav"), *map(path, files), odd,
                             "--limits", self.limits(3.0, 15.0), "--junit", junit,
                             "--report", page, "--jobs", "2")
        # Errors weigh most, then retest, then reject: 3 beats 1 beats 6.
        self.assertEqual(code, 3, err)
        statuses = [line.split()[0] for line in out.splitlines() if line[:6].strip().isdigit()]
        self.assertEqual(statuses, ["6", "1", "3", "6", "6"])
        suite = ElementTree.parse(junit).getroot()
        self.assertEqual(
            (suite.tag, suite.get("tests"), suite.get("failures"), suite.get("errors")),
            ("testsuites", "5", "3", "2"))
        cases = list(suite.iter("testcase"))
        self.assertEqual([c.get("name") for c in cases],
                         [path(f) for f in files] + [odd.encode("utf-8", "surrogateescape")
                                                     .decode("utf-8", "replace")])
        self.assertEqual([[e.tag for e in c] for c in cases],
                         [["failure"], ["error"], ["error"], ["failure"], ["failure"]])
        self.assertIn("gain of step 9", cases[0][0].text)

        with open(page, "rb") as f:
            html = f.read().decode("utf-8")  # valid UTF-8 whatever the paths
        self.assertNotIn("<script", html)
        self.assertEqual(html.count("http"), html.count("http://www.w3.org/2000/svg"))
        self.assertEqual(html.count("<svg"), 4)  # each measured recording's chart
        dom, screenshot = self.chromium(page)
        for k, name in enumerate(files, 1):
            row = dom[dom.index('<tr id="row-%d">' % k):]
            self.assertIn(path(name), row[:row.index("</tr>")])
        self.assertIn('<tr id="row-5">', dom)
        self.assertIn('<b>3</b>fail', dom)
        with open(screenshot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

    def chromium(self, page):
        """The page's DOM as headless Chromium builds it, and its screenshot
        (a fresh profile, nothing fetched from the network)."""
        screenshot = self.at("report.png")
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync"]
        url = "file://" + os.path.abspath(page)
        dom = subprocess.run(["chromium", *flags, "--user-data-dir=" + self.at("profile-1"),
                              "--dump-dom", url], capture_output=True, text=True, check=True,
                             timeout=60).stdout
        subprocess.run(["chromium", *flags, "--user-data-dir=" + self.at("profile-2"),
                        "--screenshot=" + screenshot, "--window-size=1280,2000", url],
                       capture_output=True, check=True, timeout=60)
        return dom, screenshot


class Batch(Shape):
    """Several files against one reference or gate, two workers at once: each
    format's rows in the order given (a quick error after a slow file
    included), every file's status, and the highest as the batch's."""

    def check_batch(self, program, reference, files, statuses, single, csv_columns):
        """Runs the batch in each format and returns the CSV rows, each a dict
        by the header's names."""
        name = os.path.basename(program)
        wanted_err = [path(f) for f, s in zip(files, statuses) if s >= 3]
        done = {}
        for form in ("--csv", "--jsonl", "table"):
            with self.subTest(form=form):
                args = [path(reference)] + [path(f) for f in files] + ["--jobs", "2"]
                code, out, err = run(program, *(args + ([form] if form != "table" else [])))
                self.assertEqual(code, max(statuses), err)
                errors = [line for line in err.splitlines() if "warning" not in line]
                self.assertEqual(len(errors), len(wanted_err), err)
                for line, start in zip(errors, wanted_err):
                    self.assertTrue(line.startswith(name + ": ") and start in line, line)
                done[form] = out
        rows = list(csv.reader(io.StringIO(done["--csv"])))
        self.assertEqual(len(rows[0]), csv_columns)
        self.assertEqual(rows[0][:3], ["path", "exit_status", "verdict"])
        self.assertEqual([r[0] for r in rows[1:]], [path(f) for f in files])
        self.assertEqual([int(r[1]) for r in rows[1:]], statuses)
        rows = [dict(zip(rows[0], row)) for row in rows[1:] if len(row) == csv_columns]
        self.assertEqual(len(rows), len(files))
        for row, status in zip(rows, statuses):
            self.assertEqual(row["verdict"] == "error", status >= 3, row)
            self.assertEqual(row["error"] != "", status >= 3, row)
        lines = done["--jsonl"].splitlines()
        self.assertEqual(len(lines), len(files))
        for line, f, status in zip(lines, files, statuses):
            document = json.loads(line)
            if status >= 3:
                self.assertEqual(list(document), ["path", "error", "exit_status"])
                self.assertEqual((document["path"], document["exit_status"]), (path(f), status))
                self.assertIn(path(f), document["error"])
            else:
                self.assertEqual(document["schema"], single["schema"])
        # The first file's line is its --json document.
        self.assertEqual(json.loads(lines[0]), single)
        table = [line for line in done["table"].splitlines() if line[:6].strip().isdigit()]
        self.assertEqual([int(line.split()[0]) for line in table], statuses)
        for line, f in zip(table, files):
            self.assertIn(path(f), line)
        return rows

    def test_gain(self):
        single = json.loads(run(LUMETRA_MEASURE, path("reference.wav"), path("recording.wav"),
                                "--json")[1])
        rows = self.check_batch(LUMETRA_MEASURE, "reference.wav",
                                ["recording.wav", "no_such_file.wav", "recording_float.wav",
                                 "reference_44100.wav"], [0, 3, 0, 3], single, 111)
        gains = [[row["gain_db_%d" % k] for k in range(1, 12)] for row in rows]
        for row, gain in ((rows[0], gains[0]), (rows[2], gains[2])):
            self.assertEqual((row["verdict"], row["causes"], row["delay_samples"]),
                             ("trusted", "", str(DEVICE_DELAY)))
            for k, g in enumerate(gain):
                self.assertAlmostEqual(float(g), DEVICE_GAINS[k], delta=0.01)
        self.assertEqual(gains[0], [repr(s["gain_db"]) for s in single["steps"]])
        # Every column added after "error" holds the document's figure.
        for k, step in enumerate(single["steps"], 1):
            for column, key in [("spread_db_%d", "spread_db"), ("coverage_%d", "coverage"),
                                ("noise_distortion_db_%d", "noise_distortion_db"),
                                ("spread_excess_db_%d", "spread_excess_db"),
                                ("clipped_samples_%d", "clipped_samples")]:
                self.assertEqual(float(rows[0][column % k]), number(step[key]), column % k)
        self.assertEqual(float(rows[0]["drift_ppm"]), single["drift_ppm"])
        self.assertIn("sample rate 44100 Hz", rows[3]["error"])

    def test_snr(self):
        single = json.loads(run(QUENBAR_SNR, path("gate.wav"), path("measured.wav"), "--json")[1])
        rows = self.check_batch(QUENBAR_SNR, "gate.wav",
                                ["measured.wav", "not_audio.wav", "gate_silent.wav",
                                 "measured_44100.wav"], [0, 3, 1, 3], single, 14)
        fields = ["verdict", "snr_db", "reason", "lag_samples", "lag_reliable"]
        self.assertEqual([rows[0][f] for f in fields],
                         ["finite", repr(single["snr_db"]), "finite", "0", "1"])
        self.assertEqual([rows[2][f] for f in fields[:3]], ["not_finite", "NaN", "silent_measured"])

    def test_warnings_about_the_reference_come_once(self):
        # A reference cut short, whose steps then fit neither period: each
        # warning once, naming the reference, whatever the recordings.
        reference = path("reference_cut.flac")
        code, out, err = run(LUMETRA_MEASURE, reference, path("recording.wav"),
                             path("recording_float.wav"), "--csv", "--jobs", "2")
        self.assertEqual(code, 0, err)
        lines = err.splitlines()
        self.assertEqual(len(lines), 2, err)
        self.assertTrue(lines[0].startswith("lumetra-measure: warning: %s is shorter than its "
                                            "header announces" % reference), err)
        self.assertTrue(lines[1].startswith("lumetra-measure: warning: %s: the reference's "
                                            "steps fit neither step period clearly" % reference),
                        err)

    def test_what_stops_a_batch(self):
        for program, reference, says in [
                (LUMETRA_MEASURE, "no_such_file.wav", "no_such_file.wav: cannot read it"),
                (LUMETRA_MEASURE, "reference_short.wav", "reference with 24.7 s steps needs"),
                (QUENBAR_SNR, "empty.wav", "holds no samples")]:
            with self.subTest(says=says):
                self.assert_refused(run(program, path(reference), path("recording.wav"),
                                        path("measured.wav"), "--csv"), 3, says)
        for jobs in ("0", "-1", "two"):
            self.assert_refused(run(QUENBAR_SNR, path("gate.wav"), path("measured.wav"),
                                    path("measured.wav"), "--jobs", jobs), 2,
                                "--jobs takes a number of worker processes from 1 up")

    def test_a_killed_worker_is_its_files_error(self):
        batch = subprocess.Popen([LUMETRA_MEASURE, path("reference.wav"),
                                  *[path("recording.wav")] * 3, "--csv", "--jobs", "1"],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        children = "/proc/%d/task/%d/children" % (batch.pid, batch.pid)
        deadline = time.monotonic() + 30
        worker = []
        while not worker and time.monotonic() < deadline:
            with open(children) as f:
                worker = f.read().split()[:1]
        self.assertTrue(worker, "no worker seen")
        os.kill(int(worker[0]), signal.SIGKILL)
        out, err = batch.communicate(timeout=60)
        self.assertEqual(batch.returncode, 5, err)
        rows = list(csv.DictReader(io.StringIO(out)))
        self.assertEqual(sorted(r["exit_status"] for r in rows), ["0", "0", "5"], out)
        killed = [r for r in rows if r["exit_status"] == "5"][0]
        self.assertIn("the worker process measuring it killed by signal 9", killed["error"])
        self.assertIn("killed by signal 9", err)


def same_number(test, value, got, where):
    """A --json number and a report's, bit for bit; "NaN" and null, which
    carry no sign, are any NaN."""
    value = math.nan if value is None else number(value)
    if math.isnan(value):
        test.assertTrue(math.isnan(got), where + ": " + repr(got))
    else:
        test.assertEqual(bits(value), bits(float(got)), where)


def assert_non_finite(test, document, report):
    found = document["non_finite_sample"]
    test.assertEqual(found["file"] if found else "none", report.non_finite_signal)
    if found:
        test.assertEqual(found["position"], report.non_finite_position)
        same_number(test, found["value"], report.non_finite_value, "non_finite_value")


def same_value(test, value, got, where):
    """A --json value against a report field's: names, flags and lists as
    they are, numbers bit for bit."""
    if isinstance(got, (bool, str, tuple)) or got is None:
        test.assertEqual(tuple(value) if isinstance(value, list) else value, got, where)
    else:
        same_number(test, value, got, where)


def same_named(test, part, r, keys, where, k=None, skip=(), optional=None):
    """Every key of a document's object that names a field of the report,
    by `keys` or `optional` (the tools' names for fields) or by the field's
    own name, against that field (its element k for a per-step object);
    every key of `keys` but those skipped must be there."""
    names = {**(optional or {}), **keys}
    for key, value in part.items():
        field = names.get(key, key)
        if field in r.__dataclass_fields__ and key not in skip and not isinstance(value, dict):
            got = getattr(r, field)
            same_value(test, value, got if k is None else got[k], "%s.%s" % (where, key))
    test.assertLessEqual(set(keys) - set(skip), set(part), where)


# The tools' names of report fields; a key named as a field is compared
# with that field as well, so the fields the tools add (quality, drift) are
# compared as they come.
GAIN_KEYS = {"peak_level_db": "peak_level", "step_mode": "step_mode",
             "step_period_s": "step_period_s", "failed": "failed", "causes": "causes",
             "uncovered_steps": "uncovered_steps", "step_period_source": "step_period_source",
             "verdict": "verdict", "verdict_causes": "verdict_causes"}
GAIN_STEP_KEYS = {"start_sample": "step_start", "samples": "step_samples",
                  "level_db": "step_level", "spread_db": "step_range",
                  "reference_level_db": "reference_step_level",
                  "reference_spread_db": "reference_step_range", "gain_db": "gain",
                  "coverage": "coverage"}
GAIN_ALIGNMENT_KEYS = {"coarse_delay_samples": "coarse_delay",
                       "total_delay_samples": "total_delay",
                       **{key: key for key in (
                           "onset_frame_reference", "onset_frame_recording", "coarse_delay_flag",
                           "peak_index", "peak_value", "trust_ratio", "total_delay_ms",
                           "aligned", "aligned_samples")}}
SNR_KEYS = {"snr_db": "snr_db", "reason": "reason", "verdict": "verdict"}
SNR_LAG_KEYS = {"samples": "lag", "window_samples": "lag_window", "max_lag_samples": "lag_max",
                "aligned": "aligned", "gate_first_sample": "gate_first",
                "measured_first_sample": "measured_first"}
SNR_LAG_OPTIONAL = {"prominence": "lag_prominence", "reliable": "lag_reliable"}


def assert_gain_document(test, d, r):
    """Every number and name of lumetra-measure's --json document against
    the binding's GainReport."""
    for k, step in enumerate(d["steps"]):
        test.assertEqual(step["step"], k + 1)
        same_named(test, step, r, GAIN_STEP_KEYS, "steps[%d]" % k, k)
    same_named(test, d["alignment"], r, GAIN_ALIGNMENT_KEYS, "alignment")
    test.assertEqual(r.delay, int(number(d["alignment"]["total_delay_samples"])))
    check = d["step_period_check"]
    same_number(test, check["fitting_period_s"], r.fitting_period_s, "fitting_period_s")
    for k, layout in enumerate(check["layouts"]):
        test.assertEqual(layout["held"], bool(r.layout_held[k]))
        same_number(test, layout["median_step_spread_db"], r.median_step_spread_db[k],
                    "median_step_spread_db[%d]" % k)
    # The document's step_period_warning is its text, the report's its name.
    same_named(test, d, r, GAIN_KEYS, "document", skip=("step_period_warning",))
    test.assertEqual(
        (repr(d["step_period_s"]), d["step_period_warning"] is None, d["reference"]["samples"],
         d["recording"]["samples"]),
        (r.step_period, r.step_period_warning is None, r.reference_length, r.recording_length))
    assert_non_finite(test, d, r)


def assert_snr_document(test, d, r):
    """Every number and name of quenbar-snr's --json document against the
    binding's SnrReport."""
    same_named(test, d, r, SNR_KEYS, "document")
    for key, value in d["diagnostics"].items():
        same_number(test, value, getattr(r, key), key)
    lag = d["lag"]
    same_number(test, lag["ms"], r.lag * 1000.0 / r.fs, "lag ms")
    same_named(test, lag, r, SNR_LAG_KEYS, "lag", optional=SNR_LAG_OPTIONAL)
    test.assertEqual((d["rate_hz"], d["gate"]["samples"], d["measured"]["samples"]),
                     (r.fs, r.gate_length, r.measured_length))
    assert_non_finite(test, d, r)


class Binding(Shape):
    """The binding's file functions read the tools' files as the tools do
    and report what the tools report: every number of each --jsonl line, bit
    for bit; a file the tool refuses is an exception in its place."""

    def compare(self, program, first, files, options, measure, assert_document):
        code, out, err = run(program, path(first), *[path(f) for f in files], "--jsonl",
                             *options)
        lines = [json.loads(line) for line in out.splitlines()]
        self.assertEqual(len(lines), len(files), err)
        reports = measure(path(first), [path(f) for f in files])
        for name, document, report in zip(files, lines, reports):
            with self.subTest(program=os.path.basename(program), file=name, options=options):
                if "error" in document:
                    self.assertIsInstance(report, (OSError, ValueError), document["error"])
                else:
                    self.assertNotIsInstance(report, Exception)
                    assert_document(self, document, report)

    def test_gain(self):
        measure = audiomeasure.measure_files
        for first, files, options, kwargs in [
                ("reference.wav", ["recording.wav", "recording_24bit.wav", "recording_30s.wav",
                                   "recording_nan.wav", "no_such_file.wav",
                                   "reference_44100.wav", "truncated_data.wav"], [], {}),
                ("reference.wav", ["recording.wav"], ["--step-period", "24.7"],
                 {"step_period": 24.7}),
                ("reference_inf.wav", ["recording.wav"], [], {}),
                ("reference.wav", ["recording_stereo.wav"], ["--channel", "2"], {"channel": 2})]:
            self.compare(LUMETRA_MEASURE, first, files, options,
                         lambda a, b: measure(a, b, **kwargs), assert_gain_document)

    def test_snr(self):
        measure = audiomeasure.measure_snr_files
        for first, files, options, kwargs in [
                ("gate.wav", ["measured.wav", "gate_silent.wav", "measured_44100.wav",
                              "not_audio.wav"], [], {}),
                ("gate.wav", ["measured.wav", "gate_8bit.wav"], ["--align"], {"align": True}),
                ("gate_8bit.wav", ["measured.wav"], [], {})]:
            self.compare(QUENBAR_SNR, first, files, options,
                         lambda a, b: measure(a, b, **kwargs), assert_snr_document)


if __name__ == "__main__":
    unittest.main()
