"""The Python binding's file functions on the demonstration files: every
field of their reports and a judgement, bit for bit, as report_dump writes
the C API's; and the same measurements on executors (threads, processes, a
Dask cluster of two worker processes), which must give the serial run's
reports in the order given, each file's error in its place.

Environment: as for tools_test, and AM_REPORT_DUMP (the report_dump
program of tests/bindings).
"""

import concurrent.futures
import multiprocessing
import os
import subprocess
import unittest

import numpy as np

import audiomeasure
from tools_test import bits, path

try:
    import distributed
except ImportError:
    distributed = None

REPORT_DUMP = os.environ.get("AM_REPORT_DUMP", "am_report_dump")
STEP_SETS = ("uncovered_steps", "questionable_steps")


def dump(prefix, report):
    """A report's lines in report_dump's form: one per field (per element
    of an array, per step of a step set), in the C order."""
    lines = []
    for name in report.__dataclass_fields__:
        value = getattr(report, name)
        if name in STEP_SETS:
            value = np.array([k in value for k in range(1, 12)])
        if isinstance(value, np.ndarray) or name == "step_questionable":
            lines += dump_values(prefix, ["%s[%d]" % (name, k) for k in range(len(value))], value)
        else:
            lines += dump_values(prefix, [name], [value])
    return lines


def dump_values(prefix, names, values):
    lines = []
    for name, value in zip(names, values):
        if value is None or isinstance(value, (str, tuple)):
            text = "none" if value is None else value if isinstance(value, str) else ",".join(value)
            lines.append("%s%s =%s" % (prefix, name, text))
        else:
            lines.append("%s%s %016x" % (prefix, name, bits(float(value))))
    return lines


def outcomes(results):
    """Reports as their lines, errors as their kind, text and status."""
    return [(type(r).__name__, str(r), getattr(r, "status", None))
            if isinstance(r, Exception) else dump("", r) for r in results]


class ReportDump(unittest.TestCase):
    def test_every_field_is_the_c_apis(self):
        done = subprocess.run([REPORT_DUMP, path("")], capture_output=True, text=True,
                              check=True, timeout=120)
        reference, recording = path("reference.wav"), [path("recording.wav")]
        gain = audiomeasure.measure_files(reference, recording)[0]
        # report_dump's limits and options.
        judgement = audiomeasure.judge(gain, {"gain": {"min_db": -2.0, "max_db": 2.0},
                                              "spread": {"max_db": 3.0},
                                              "delay": {"max_samples": 12000.0}})
        masks = [sum(1 << (k - 1) for k in judgement.failed_steps[check])
                 if check in judgement.failed_steps else int(check in judgement.failed_checks)
                 for check in audiomeasure._LIMITS]
        options = audiomeasure.measure_files(reference, recording, step_period=25.2,
                                             max_noise_distortion_db=-40.0,
                                             max_spread_excess_db=0.001, drift_correct=True)[0]
        snr = audiomeasure.measure_snr_files(path("gate.wav"), [path("measured.wav")])[0]
        self.assertEqual(
            dump("gain.", gain) +
            dump_values("judgement.", ["outcome", "failed_checks"],
                        [judgement.outcome, judgement.failed_checks]) +
            dump_values("judgement.", ["failed_steps[%d]" % k for k in range(7)], masks) +
            dump("gain_options.", options) + dump("snr.", snr),
            done.stdout.splitlines())


class Executors(unittest.TestCase):
    """Two recordings a task: the reports of the serial run, in order, and
    each file's error in its place; a first file that cannot be read is
    raised, as the serial run raises it."""

    GAIN = ["recording.wav", "reference.wav", "no_such_file.wav", "recording_30s.wav"]
    SNR = ["measured.wav", "not_audio.wav", "gate_silent.wav"]

    @classmethod
    def measure(cls, executor, gain=("reference.wav", GAIN), snr=("gate.wav", SNR)):
        return (audiomeasure.measure_files(path(gain[0]), [path(f) for f in gain[1]],
                                           executor=executor, chunk_size=2) +
                audiomeasure.measure_snr_files(path(snr[0]), [path(f) for f in snr[1]],
                                               align=True, executor=executor, chunk_size=2))

    @classmethod
    def setUpClass(cls):
        cls.serial = outcomes(cls.measure(None))

    def test_what_the_serial_run_gives(self):
        self.assertEqual(
            [o[0] for o in self.serial],
            ["verdict =trusted", "verdict =not_trusted", "FileNotFoundError",
             "verdict =incomplete", "verdict =finite", "OSError", "ValueError"])
        self.assertEqual(self.serial[-1][2], "unreliable_lag")

    def check(self, executor):
        self.assertEqual(outcomes(self.measure(executor)), self.serial)
        with self.assertRaises(FileNotFoundError) as caught:
            self.measure(executor, gain=("no_such_file.wav", self.GAIN))
        self.assertIn("no_such_file.wav", str(caught.exception))

    def test_thread_pool(self):
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            self.check(pool)

    def test_process_pool(self):
        # Started afresh: a child forked from this process, whose other
        # tests leave threads behind (Dask's), could inherit a held lock.
        with concurrent.futures.ProcessPoolExecutor(
                2, mp_context=multiprocessing.get_context("spawn")) as pool:
            self.check(pool)

    @unittest.skipIf(distributed is None, "python3-distributed is not installed (scripts/deps "
                     "python): no Dask cluster tried")
    def test_dask_cluster(self):
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      dashboard_address=None) as cluster:
            with distributed.Client(cluster) as client:
                self.check(client.get_executor())

    def test_a_task_that_does_not_come_back(self):
        class LosesTheSecondTask(concurrent.futures.Executor):
            tasks = 0

            def submit(self, task, *args):
                self.tasks += 1
                future = concurrent.futures.Future()
                if self.tasks == 2:
                    future.set_exception(concurrent.futures.BrokenExecutor("the worker died"))
                else:
                    future.set_result(task(*args))
                return future

        lost = ("BrokenExecutor", "the worker died", None)
        self.assertEqual(outcomes(self.measure(LosesTheSecondTask())),
                         self.serial[:2] + [lost, lost] + self.serial[4:])


if __name__ == "__main__":
    unittest.main()
