"""lumetra-measure.exe and quenbar-snr.exe under Wine against the Linux
programs of the same source (scripts/test-windows runs this).

The Windows programs write the demonstration files, and measure the Linux
programs' demonstration files alone (--json), as a --jobs 2 batch (--csv) and
from standard input; every figure must be the Linux one: bit for bit, except
where the C library's log10 or sin is on the way (levels in dB, and what
comes from the correlation, whose transforms take their twiddle factors from
sin), which may differ in the last bits between C libraries: within 1e-9 dB,
or a relative 64 * 21 * 2^-53 for the correlation's magnitudes (the
transforms' 21 stages). File names with spaces and non-ASCII characters are
used throughout. The programs must import only Windows system DLLs and
audiomeasure.dll.

The Linux test table's cases that have no Windows counterpart are left out:
FIFOs and other special files (Windows has no named pipes in its file
system), worker processes killed or dying (the Windows batch runs its
workers as threads, not forked processes), memory limited with ulimit
(RLIMIT_AS), writes to /dev/full, and symbolic links and permissions of
output files.

Environment: LINUX_TOOLS (the folder of the Linux programs), WINDOWS_BIN
(the folder of the .exe files and the DLLs), WINE_RUN (scripts/wine-run),
AM_WORK (an empty folder for the files).
"""

import csv
import io
import json
import math
import os
import re
import subprocess
import unittest

LINUX = os.environ.get("LINUX_TOOLS", "")
WINDOWS = os.environ.get("WINDOWS_BIN", "")
WINE_RUN = os.environ.get("WINE_RUN", "wine")
WORK = os.environ.get("AM_WORK", "")

# Folders of the demonstration files, named as a Windows user might.
LINUX_DEMO = "Messungen Linux"
WINDOWS_DEMO = "Messungen Windows — Prüfstand 2"
# The batch's folder of recordings: the demonstration recording twice.
RECORDINGS = "Aufnahmen ä"
BATCH = ["Aufnahme Nr. 2 (Gerät ä).wav", "recording.wav"]

DB_TOLERANCE = 1e-9
CORRELATION_TOLERANCE = 64 * 21 * 2.0**-53
# Figures that pass through the C library's log10 (levels in dB) or sin
# (the correlation's transforms).
DB_FIELD = re.compile(r"(_db|_db_\d+)$")
CORRELATION_FIELDS = {"peak_value", "trust_ratio", "prominence", "drift_ppm"}


def run(command, data=None):
    """(status, stdout, stderr) of a program run in WORK; `data` is its
    standard input."""
    done = subprocess.run(command, input=data, capture_output=True, cwd=WORK, timeout=300,
                          check=False, env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"))
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def linux(program, *args, data=None):
    return run([os.path.join(LINUX, program), *args], data)


def windows(program, *args, data=None):
    return run([WINE_RUN, os.path.join(WINDOWS, program + ".exe"), *args], data)


def same_figure(key, linux_value, windows_value):
    """Whether a field's value on Windows stands for the Linux one."""
    if linux_value == windows_value and type(linux_value) is type(windows_value):
        return math.copysign(1, linux_value) == math.copysign(1, windows_value) \
            if isinstance(linux_value, float) else True
    if not (isinstance(linux_value, float) and isinstance(windows_value, float)):
        return False
    if DB_FIELD.search(key):
        return abs(linux_value - windows_value) <= DB_TOLERANCE
    if key in CORRELATION_FIELDS:
        return abs(linux_value - windows_value) <= CORRELATION_TOLERANCE * abs(linux_value)
    return False


def differences(linux_doc, windows_doc, key=""):
    """The fields (as paths) where the documents differ beyond the rule."""
    if isinstance(linux_doc, dict) and isinstance(windows_doc, dict):
        if list(linux_doc) != list(windows_doc):
            return [key + ": other fields"]
        return [d for k in linux_doc for d in differences(linux_doc[k], windows_doc[k], k)]
    if isinstance(linux_doc, list) and isinstance(windows_doc, list):
        if len(linux_doc) != len(windows_doc):
            return [key + ": other length"]
        return [d for a, b in zip(linux_doc, windows_doc) for d in differences(a, b, key)]
    return [] if same_figure(key, linux_doc, windows_doc) else [
        "%s: Linux %r, Windows %r" % (key, linux_doc, windows_doc)]


def csv_cells(out):
    """A --csv batch's rows as {column: number or text}."""
    def value(text):
        try:
            return float(text)
        except ValueError:
            return text
    return [{k: value(v) for k, v in row.items()} for row in csv.DictReader(io.StringIO(out))]


class WindowsTools(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for program in ("lumetra-measure", "quenbar-snr"):
            status, _, err = linux(program, "--make-demo", LINUX_DEMO)
            assert status == 0, err
        with open(os.path.join(WORK, LINUX_DEMO, "recording.wav"), "rb") as f:
            cls.recording = f.read()
        os.mkdir(os.path.join(WORK, RECORDINGS))
        for name in BATCH:
            with open(os.path.join(WORK, RECORDINGS, name), "wb") as f:
                f.write(cls.recording)

    def assertSameDocument(self, linux_out, windows_out):
        self.assertEqual(differences(json.loads(linux_out), json.loads(windows_out)), [])

    def test_imports_only_system_dlls_and_audiomeasure(self):
        system = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "shlwapi.dll", "advapi32.dll",
                  "user32.dll", "ws2_32.dll", "bcrypt.dll"}
        for program in ("lumetra-measure", "quenbar-snr"):
            dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p",
                                   os.path.join(WINDOWS, program + ".exe")],
                                  capture_output=True, text=True, check=True).stdout
            dlls = {line.split()[-1].lower() for line in dump.splitlines() if "DLL Name:" in line}
            self.assertIn("audiomeasure.dll", dlls, program)
            self.assertEqual(dlls - system - {"audiomeasure.dll"}, set(), program)

    def test_make_demo_writes_the_linux_files(self):
        # The demonstration signals pass through the C library's sin, and
        # each sample is rounded to 16 bits: a sample may differ by one step
        # where the two libraries round to either side of a half.
        for program in ("lumetra-measure", "quenbar-snr"):
            status, out, err = windows(program, "--make-demo", WINDOWS_DEMO)
            self.assertEqual((status, err), (0, ""), program)
            self.assertIn(WINDOWS_DEMO + "\\", out)
        for name in ("reference.wav", "recording.wav", "gate.wav", "measured.wav"):
            with open(os.path.join(WORK, LINUX_DEMO, name), "rb") as f:
                a = f.read()
            with open(os.path.join(WORK, WINDOWS_DEMO, name), "rb") as f:
                b = f.read()
            self.assertEqual(len(a), len(b), name)
            self.assertEqual(a[:44], b[:44], name)
            steps = [abs(x - y) for x, y in zip(memoryview(a[44:]).cast("h"),
                                                memoryview(b[44:]).cast("h")) if x != y]
            self.assertLessEqual(max(steps, default=0), 1, name)

    def test_gain_of_the_demonstration_pair(self):
        args = (LINUX_DEMO + "/reference.wav", LINUX_DEMO + "/recording.wav", "--json")
        expected = linux("lumetra-measure", *args)
        self.assertEqual(expected[0], 0, expected[2])
        got = windows("lumetra-measure", *args)
        self.assertEqual((got[0], got[2]), (0, ""))
        self.assertSameDocument(expected[1], got[1])

    def test_gain_of_standard_input(self):
        # Through a pipe, in binary mode: text mode would end the WAV data at
        # its first 0x1A byte, or drop its CR bytes.
        args = (LINUX_DEMO + "/reference.wav", "-", "--json")
        expected = linux("lumetra-measure", *args, data=self.recording)
        got = windows("lumetra-measure", *args, data=self.recording)
        self.assertEqual((got[0], got[2]), (0, ""))
        self.assertSameDocument(expected[1], got[1])

    def test_batch_of_two_jobs(self):
        # The folder's files in the order of their names (the program
        # expands the wildcard, which a Linux shell would), results in that
        # order, a file's error in its row, the batch going on, the worst
        # status its own.
        reference = LINUX_DEMO + "/reference.wav"
        files = [RECORDINGS + "/" + name for name in BATCH] + ["missing.wav"]
        expected = linux("lumetra-measure", reference, *files, "--csv", "--jobs", "2")
        got = windows("lumetra-measure", reference, RECORDINGS + "/*.wav", "missing.wav", "--csv",
                      "--jobs", "2")
        self.assertEqual((expected[0], got[0]), (3, 3))
        linux_rows, windows_rows = csv_cells(expected[1]), csv_cells(got[1])
        self.assertEqual([r["path"] for r in windows_rows], files)
        self.assertEqual([r["verdict"] for r in windows_rows], ["trusted", "trusted", "error"])
        self.assertTrue(windows_rows[2]["error"].startswith("missing.wav: cannot read it"))
        for a, b in zip(linux_rows, windows_rows):
            a["error"] = b["error"] = ""  # the systems' own words for a missing file
            self.assertEqual(list(a), list(b))
            self.assertEqual([k for k in a if not same_figure(k, a[k], b[k])], [])

    def test_snr_of_the_demonstration_pair(self):
        args = (LINUX_DEMO + "/gate.wav", LINUX_DEMO + "/measured.wav", "--json")
        expected = linux("quenbar-snr", *args)
        self.assertEqual(expected[0], 0, expected[2])
        got = windows("quenbar-snr", *args)
        self.assertEqual((got[0], got[2]), (0, ""))
        self.assertSameDocument(expected[1], got[1])

    def test_exit_statuses(self):
        self.assertEqual(windows("quenbar-snr", "--no-such-option")[0], 2)
        self.assertEqual(windows("quenbar-snr", "missing.wav", "missing.wav")[0], 3)


if __name__ == "__main__":
    unittest.main()
