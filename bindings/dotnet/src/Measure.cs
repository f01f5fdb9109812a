// The whole-array measurements and the judgements of limits.
using System;
using System.Runtime.InteropServices;

namespace AudioMeasure
{
    /// <summary>
    /// Gain and SNR measurements. Samples are on the 16-bit scale (a 16-bit PCM
    /// sample's integer value; full scale 32767). The library is reentrant:
    /// any number of threads may measure at once.
    /// </summary>
    public static unsafe class Measure
    {
        /// <summary>The native library's version, "MAJOR.MINOR.PATCH".</summary>
        public static string LibraryVersion
        {
            get { return Marshal.PtrToStringAnsi(Native.am_version()); }
        }

        /// <summary>
        /// The gain of a device under the stepped test signal: aligns the recording (what the
        /// device captured) to the reference (the stimulus as played), both at 48000 Hz, and
        /// measures the 11 steps of both. Throws AudioMeasureException on a refusal.
        /// </summary>
        public static GainReport Gain(double[] reference, double[] recording, GainOptions options = null)
        {
            if (reference == null) throw new ArgumentNullException("reference");
            if (recording == null) throw new ArgumentNullException("recording");
            NativeGainOptions o = GainOptions.ToNative(options);
            NativeGainReport r;
            Native.am_gain_report_init_size(&r, (uint)sizeof(NativeGainReport));
            fixed (double* a = reference)
            fixed (double* b = recording)
            {
                Native.Check(Native.am_gain_measure(a, reference.LongLength, b, recording.LongLength, &o, &r));
            }
            return new GainReport(r);
        }

        /// <summary>
        /// The SNR of `measured` in dB, `gate` deciding which 5 ms frames hold signal, at fs Hz
        /// for both. Throws AudioMeasureException on a refusal.
        /// </summary>
        public static SnrReport Snr(double[] gate, double[] measured, double fs, SnrOptions options = null)
        {
            if (gate == null) throw new ArgumentNullException("gate");
            if (measured == null) throw new ArgumentNullException("measured");
            NativeSnrOptions o = SnrOptions.ToNative(options);
            NativeSnrReport r;
            Native.am_snr_report_init_size(&r, (uint)sizeof(NativeSnrReport));
            fixed (double* a = gate)
            fixed (double* b = measured)
            {
                Native.Check(Native.am_snr_measure(a, gate.LongLength, b, measured.LongLength, fs, &o, &r));
            }
            return new SnrReport(r);
        }

        /// <summary>A gain report's figures against a device's limits.</summary>
        public static Judgement Judge(GainReport report, GainLimits limits)
        {
            if (report == null) throw new ArgumentNullException("report");
            if (limits == null) throw new ArgumentNullException("limits");
            NativeGainReport r = report.Native_;
            NativeGainLimits l = limits.ToNative();
            NativeJudgement j;
            Native.am_judgement_init_size(&j, (uint)sizeof(NativeJudgement));
            Native.Check(Native.am_gain_judge(&r, &l, &j));
            return new Judgement(j);
        }

        /// <summary>An SNR report's figure against a device's limits.</summary>
        public static Judgement Judge(SnrReport report, SnrLimits limits)
        {
            if (report == null) throw new ArgumentNullException("report");
            if (limits == null) throw new ArgumentNullException("limits");
            NativeSnrReport r = report.Native_;
            NativeSnrLimits l;
            Native.am_snr_limits_init_size(&l, (uint)sizeof(NativeSnrLimits));
            l.snr_min_db = limits.SnrMinDb;
            l.snr_max_db = limits.SnrMaxDb;
            NativeJudgement j;
            Native.am_judgement_init_size(&j, (uint)sizeof(NativeJudgement));
            Native.Check(Native.am_snr_judge(&r, &l, &j));
            return new Judgement(j);
        }

        // The samples[offset .. offset + count) of an array, checked.
        internal static void Span(double[] samples, int offset, int count)
        {
            if (samples == null) throw new ArgumentNullException("samples");
            if (offset < 0 || offset > samples.Length) throw new ArgumentOutOfRangeException("offset");
            if (count < 0 || count > samples.Length - offset) throw new ArgumentOutOfRangeException("count");
        }
    }

    /// <summary>
    /// A gain reference prepared once for any number of streaming measurements: made with
    /// its length, fed its samples in order in chunks of any size, then finished. A
    /// measurement keeps what it needs of it, so it may be disposed before them.
    /// </summary>
    public sealed unsafe class GainReference : IDisposable
    {
        internal readonly GainReferenceHandle Handle;

        public GainReference(long length, GainOptions options = null)
        {
            NativeGainOptions o = GainOptions.ToNative(options);
            GainReferenceHandle handle;
            int status = Native.am_gain_reference_create(&o, length, out handle);
            Handle = handle;
            Native.Check(status);
        }

        public void Feed(double[] samples) { Feed(samples, 0, samples == null ? 0 : samples.Length); }

        public void Feed(double[] samples, int offset, int count)
        {
            Measure.Span(samples, offset, count);
            fixed (double* p = samples)
            {
                Native.Check(Native.am_gain_reference_feed(Handle, p + offset, count));
            }
        }

        /// <summary>Ends the reference once all its samples are fed.</summary>
        public void Finish() { Native.Check(Native.am_gain_reference_finish(Handle)); }

        public void Dispose() { Handle.Dispose(); }
    }

    /// <summary>A streaming gain measurement against a finished reference.</summary>
    public sealed unsafe class GainMeasurement : IDisposable
    {
        private readonly GainMeasurementHandle handle;

        public GainMeasurement(GainReference reference)
        {
            if (reference == null) throw new ArgumentNullException("reference");
            int status = Native.am_gain_create(reference.Handle, out handle);
            Native.Check(status);
        }

        public void FeedRecording(double[] samples) { FeedRecording(samples, 0, samples == null ? 0 : samples.Length); }

        public void FeedRecording(double[] samples, int offset, int count)
        {
            Measure.Span(samples, offset, count);
            fixed (double* p = samples)
            {
                Native.Check(Native.am_gain_feed_recording(handle, p + offset, count));
            }
        }

        /// <summary>The report of the recording fed (which ends there): that of
        /// Measure.Gain on the whole arrays, bit for bit.</summary>
        public GainReport Finish()
        {
            NativeGainReport r;
            Native.am_gain_report_init_size(&r, (uint)sizeof(NativeGainReport));
            Native.Check(Native.am_gain_finish(handle, &r));
            return new GainReport(r);
        }

        public void Dispose() { handle.Dispose(); }
    }

    /// <summary>A streaming SNR measurement: the gate and the measured signal fed side by
    /// side in chunks of any size.</summary>
    public sealed unsafe class SnrMeasurement : IDisposable
    {
        private readonly SnrMeasurementHandle handle;

        public SnrMeasurement(double fs, SnrOptions options = null)
        {
            NativeSnrOptions o = SnrOptions.ToNative(options);
            int status = Native.am_snr_create(&o, fs, out handle);
            Native.Check(status);
        }

        public void FeedGate(double[] samples) { FeedGate(samples, 0, samples == null ? 0 : samples.Length); }

        public void FeedGate(double[] samples, int offset, int count)
        {
            Measure.Span(samples, offset, count);
            fixed (double* p = samples)
            {
                Native.Check(Native.am_snr_feed_gate(handle, p + offset, count));
            }
        }

        public void FeedMeasured(double[] samples) { FeedMeasured(samples, 0, samples == null ? 0 : samples.Length); }

        public void FeedMeasured(double[] samples, int offset, int count)
        {
            Measure.Span(samples, offset, count);
            fixed (double* p = samples)
            {
                Native.Check(Native.am_snr_feed_measured(handle, p + offset, count));
            }
        }

        /// <summary>The report of what was fed: that of Measure.Snr on the whole arrays.</summary>
        public SnrReport Finish()
        {
            NativeSnrReport r;
            Native.am_snr_report_init_size(&r, (uint)sizeof(NativeSnrReport));
            Native.Check(Native.am_snr_finish(handle, &r));
            return new SnrReport(r);
        }

        public void Dispose() { handle.Dispose(); }
    }
}
