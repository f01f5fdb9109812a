"""Measurements of audio files, read with libsndfile through soundfile
(Debian: python3-soundfile), on the 16-bit scale the command-line tools
read them on:

  - 16-bit PCM: the integer sample values, -32768 .. 32767;
  - every other encoding: libsndfile's normalised double (full scale 1.0)
    times 32767, that one product rounded to the nearest double.

A gain reference is read once, in blocks, into a prepared reference of the
library; each recording is then read in blocks into a measurement against
it, so memory stays bounded whatever the files' lengths (the library's
working memory, about 86 MB, and a block). An SNR gate is read once, whole,
and each measured file whole.

With an executor, the recordings are measured in chunks, each chunk by one
task (_gain_task, _snr_task: module-level functions of paths and plain
options, so a process pool or a Dask cluster can run them). A task reads
the reference (gate) itself, once for its chunk: reading and preparing the
demonstration reference (25 MB) takes about 0.4 of the time its recording
takes to measure, which a task per recording would add to every recording
(more where the files come over a network), and a prepared reference cannot
be sent to another process. The serial run is the same task over all
recordings, so both give the same bits.
"""

import ctypes
import math
import os
import stat
import uuid

import numpy as np

from . import _native
from . import (_align, _data, _gain_options, _gain_refused, _gain_report, _gain_settings, _lib,
               _refused, _snr)

_BLOCK = 65536  # frames read at a time
_FULL_SCALE = 32767.0
_GAIN_RATE = 48000


def _soundfile():
    try:
        import soundfile
    except ImportError as error:
        raise ImportError("reading audio files needs the soundfile module (Debian: "
                          "python3-soundfile): %s" % error) from None
    return soundfile


class _Input:
    """An audio file with its header read and checked; its samples are read
    by blocks() or whole(). Closed on leaving a `with` block."""

    def __init__(self, path, channel):
        soundfile = _soundfile()
        self.path = os.fsdecode(path)
        mode = os.stat(path).st_mode  # a missing file: FileNotFoundError
        if stat.S_ISDIR(mode):
            raise IsADirectoryError("%s: is a folder, not an audio file" % self.path)
        if not stat.S_ISREG(mode):
            raise OSError("%s: is not a regular file (a pipe, device or socket)" % self.path)
        try:
            self._file = soundfile.SoundFile(path)
        except soundfile.SoundFileError as error:
            raise OSError("%s: cannot read it as audio: %s" % (self.path, _why(error))) from None
        try:
            self._check_header(channel)
        except BaseException:
            self._file.close()
            raise

    def _check_header(self, channel):
        f = self._file
        self.rate = f.samplerate
        self.frames = f.frames
        self.channels = f.channels
        self.integer = f.subtype == "PCM_16"
        if self.channels == 1:
            self.channel = 1
        elif channel is None:
            raise ValueError("%s: has %d channels; choose one with channel=N (1 to %d)"
                             % (self.path, self.channels, self.channels))
        elif channel > self.channels:
            raise ValueError("%s: has %d channels; there is no channel %d"
                             % (self.path, self.channels, channel))
        else:
            self.channel = channel
        if self.frames == 0:
            raise ValueError("%s: holds no samples (the file is empty)" % self.path)
        if self.frames > _native.MAX_SAMPLES:
            raise ValueError("%s: %d frames, more than the %d the library takes"
                             % (self.path, self.frames, _native.MAX_SAMPLES))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._file.close()
        return False

    def require_rate(self, rate, why):
        if self.rate != rate:
            raise ValueError("%s: sample rate %d Hz; %s" % (self.path, self.rate, why))

    def blocks(self):
        """The chosen channel, on the 16-bit scale, in C-contiguous float64
        blocks; OSError when the data cannot be decoded or ends before the
        header's length."""
        soundfile = _soundfile()
        buffer = np.empty((_BLOCK, self.channels), np.int16 if self.integer else np.float64)
        read = 0
        while True:
            try:
                got = self._file.read(_BLOCK, always_2d=True, out=buffer)
            except soundfile.SoundFileError as error:
                raise OSError("%s: cannot decode it: %s" % (self.path, _why(error))) from None
            if len(got) == 0:
                break
            column = got[:, self.channel - 1]
            read += len(got)
            yield column.astype(np.float64) if self.integer else column * _FULL_SCALE
        if read < self.frames:
            raise OSError("%s: truncated: it holds %d of the %d frames its header announces"
                          % (self.path, read, self.frames))

    def whole(self):
        x = np.empty(self.frames)
        at = 0
        for block in self.blocks():
            x[at:at + len(block)] = block
            at += len(block)
        return x


def _why(error):
    return getattr(error, "error_string", None) or str(error)


def _path(path, name):
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError("%s: a path is needed, not %r" % (name, path))
    return path


def _paths(paths, name):
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("%s: a list of paths is needed, not one path (pass [path])" % name)
    paths = list(paths)
    for p in paths:
        if not isinstance(p, (str, bytes, os.PathLike)):
            raise TypeError("%s: paths are needed, not %r" % (name, p))
    return paths


def _channel(channel):
    if channel is None:
        return None
    if isinstance(channel, bool) or not isinstance(channel, (int, np.integer)):
        raise TypeError("channel: a channel number from 1, or None, not %r" % (channel,))
    if channel < 1:
        raise ValueError("channel: channels count from 1, not %d" % channel)
    return int(channel)


def _each(paths, measure):
    """measure(path) for each path, in order: its report, or the exception
    that stopped it (without its traceback, which would keep the samples
    alive)."""
    results = []
    for path in paths:
        try:
            results.append(measure(path))
        except (OSError, ValueError, MemoryError) as error:
            results.append(error.with_traceback(None))
    return results


def _check(status, detail=None):
    if status != 0:
        raise _refused(status, detail)


_GAIN_RATE_TEXT = "gain is measured at 48000 Hz only (convert the file first)"
# What stops a task before its first file: the reference (gate) cannot be
# read or prepared, soundfile or the library is missing where it runs.
_FIRST_FILE_ERRORS = (OSError, ValueError, MemoryError, ImportError)


def _prepared_reference(path, options, channel):
    """A finished am_gain_reference fed from the file; the caller destroys it."""
    lib = _lib()
    with _Input(path, channel) as f:
        f.require_rate(_GAIN_RATE, _GAIN_RATE_TEXT)
        handle = ctypes.c_void_p()
        status = lib.am_gain_reference_create(ctypes.byref(options), f.frames,
                                              ctypes.byref(handle))
        if status != 0:
            raise _gain_refused(status, options, (f.frames, 0), (f.path, "recording"))
        try:
            for block in f.blocks():
                _check(lib.am_gain_reference_feed(handle, _data(block), len(block)), f.path)
            _check(lib.am_gain_reference_finish(handle), f.path)
        except BaseException:
            lib.am_gain_reference_destroy(handle)
            raise
        return handle, f.frames


def _gain_task(reference_path, recording_paths, settings, channel, call=None):
    """The reports of recording_paths against the reference, each file's
    exception in its place: (None, results); or (the exception, None) when
    the reference cannot be prepared. Runs wherever an executor sends it.
    call tells one call's tasks from another's (see _run)."""
    try:
        lib = _lib()
        options = _gain_options(settings)
        reference, reference_length = _prepared_reference(reference_path, options, channel)
    except _FIRST_FILE_ERRORS as error:
        return error, None

    def measure(path):
        with _Input(path, channel) as f:
            f.require_rate(_GAIN_RATE, _GAIN_RATE_TEXT)
            handle = ctypes.c_void_p()
            _check(lib.am_gain_create(reference, ctypes.byref(handle)), f.path)
            try:
                fed = 0
                for block in f.blocks():
                    _check(lib.am_gain_feed_recording(handle, _data(block), len(block)), f.path)
                    fed += len(block)
                report = _native.initialized(lib, _native.GainReport)
                status = lib.am_gain_finish(handle, ctypes.byref(report))
                if status != 0:
                    raise _gain_refused(status, options, (reference_length, fed),
                                        (os.fsdecode(reference_path), f.path))
                return _gain_report(report)
            finally:
                lib.am_gain_destroy(handle)

    try:
        return None, _each(recording_paths, measure)
    finally:
        lib.am_gain_reference_destroy(reference)


def _snr_task(gate_path, measured_paths, align, channel, call=None):
    """As _gain_task, for the SNR of measured_paths against the gate."""
    try:
        with _Input(gate_path, channel) as f:
            gate, rate, gate_name = f.whole(), f.rate, f.path
    except _FIRST_FILE_ERRORS as error:
        return error, None

    def measure(path):
        with _Input(path, channel) as f:
            f.require_rate(rate, "the gate's is %d Hz: both must have one rate (convert the "
                                 "file first)" % rate)
            measured = f.whole()
            return _snr(gate, measured, float(rate), align, (gate_name, f.path))

    return None, _each(measured_paths, measure)


def _chunk_size(chunk_size, count):
    if chunk_size is None:
        # About sqrt(n) recordings a task for n: sqrt(n) references read,
        # sqrt(n) tasks to spread over the workers.
        return max(1, math.isqrt(max(count - 1, 0)) + 1)
    if isinstance(chunk_size, bool) or not isinstance(chunk_size, (int, np.integer)):
        raise TypeError("chunk_size: a number of recordings, or None, not %r" % (chunk_size,))
    if chunk_size < 1:
        raise ValueError("chunk_size: at least 1 recording a task, not %d" % chunk_size)
    return int(chunk_size)


def _run(task, first, paths, settings, channel, executor, chunk_size):
    """task over the paths: at once, or in chunks on the executor; the
    results in the order of the paths. A task's error before its first file
    (the first file cannot be read, say) is raised, the first in their
    order. A task that does not come back (its worker died, the pool broke)
    gives the exception that says so in the place of each of its files."""
    size = _chunk_size(chunk_size, len(paths))
    if executor is None:
        error, results = task(first, paths, settings, channel)
        if error is not None:
            raise error
        return results
    if not callable(getattr(executor, "submit", None)):
        raise TypeError("executor: a concurrent.futures.Executor, or None, not %r" % (executor,))
    # No paths: one task all the same, which reads the first file as the
    # serial run does.
    chunks = [paths[k:k + size] for k in range(0, len(paths), size)] or [[]]
    # An executor that keeps results by their task's arguments (Dask's pure
    # tasks) would give an earlier call's reports of files that may have
    # changed since: each call's tasks differ by a token of their own.
    call = uuid.uuid4().hex
    futures = [executor.submit(task, first, chunk, settings, channel, call) for chunk in chunks]
    results, error = [], None
    try:
        for future, chunk in zip(futures, chunks):
            try:
                error, got = future.result()
            except Exception as lost:  # the task's own errors come back as values
                error, got = None, [lost.with_traceback(None)] * len(chunk)
            if error is not None:
                break
            results.extend(got)
    except BaseException:
        # Interrupted: the tasks not started need not run.
        for future in futures:
            future.cancel()
        raise
    if error is not None:
        raise error
    return results


def measure_files(reference_path, recording_paths, step_period="auto", channel=None,
                  drift_correct=None, max_noise_distortion_db=None, max_spread_excess_db=None,
                  max_clipped_samples=None, executor=None, chunk_size=None):
    """The gain of each recording file against the reference file: a list
    of GainReports (see measure_gain), one per recording in the order given.

    Files are read with python3-soundfile on the 16-bit scale of the
    command-line tools (16-bit PCM: the integer values; any other encoding:
    the normalised sample times 32767), and must be at 48000 Hz (no rate
    conversion here). channel: None for mono files, else the channel
    (from 1) read from every file that has several; a mono file is read
    whatever it says. step_period, drift_correct, max_noise_distortion_db,
    max_spread_excess_db, max_clipped_samples: as for measure_gain.

    A recording that cannot be read or measured gives, in its place, the
    exception that says why (OSError: missing, unreadable, cut short;
    ValueError: another rate, no such channel, shorter than 15 s;
    MemoryError), and the others are measured. Raised at once: a bad
    step_period, option or channel, a reference that cannot be read or
    measured (too short for the step period: ValueError), TypeError for
    paths that are not a list of paths, ImportError without soundfile.

    executor: None measures here, one recording after another; or any
    concurrent.futures.Executor (a ThreadPoolExecutor, a
    ProcessPoolExecutor, a Dask client's get_executor()), which measures
    chunks of chunk_size recordings (default: about the square root of
    their number), each task reading and preparing the reference itself.
    The reports are those of the serial run, bit for bit, in the order
    given. Where the tasks run, the paths must name the same files and the
    package and its library must be installed. A chunk whose task does not
    come back (a worker process that died, a broken pool) gives the
    exception that says so in the place of each of its recordings.

    The reference is read and prepared once (per task); each recording is
    read in blocks while it is measured, so memory stays bounded whatever
    the files' lengths. Separate threads may measure separate lists at
    once."""
    settings = _gain_settings(step_period, drift_correct=drift_correct,
                              max_noise_distortion_db=max_noise_distortion_db,
                              max_spread_excess_db=max_spread_excess_db,
                              max_clipped_samples=max_clipped_samples)
    return _run(_gain_task, _path(reference_path, "reference_path"),
                _paths(recording_paths, "recording_paths"), settings, _channel(channel),
                executor, chunk_size)


def measure_snr_files(gate_path, measured_paths, align=False, channel=None, executor=None,
                      chunk_size=None):
    """The SNR of each measured file against the gate file: a list of
    SnrReports (see measure_snr), one per measured file in the order given.

    Files are read as measure_files reads them; fs is the gate's rate, and
    each measured file must have the same (no rate conversion here). align
    and the SnrReport: as for measure_snr (an unreliable lag is that file's
    ValueError). channel, executor and chunk_size: as for measure_files.

    A measured file that cannot be read or measured gives, in its place,
    the exception that says why (OSError, ValueError, MemoryError), and the
    others are measured. Raised at once: a bad align or channel, a gate that
    cannot be read, TypeError for paths that are not a list of paths,
    ImportError without soundfile.

    The gate is read once (per task), whole, and each measured file whole
    in turn (8 bytes a sample each)."""
    return _run(_snr_task, _path(gate_path, "gate_path"), _paths(measured_paths, "measured_paths"),
                _align(align), _channel(channel), executor, chunk_size)
