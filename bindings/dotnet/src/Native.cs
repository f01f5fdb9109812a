// The C API as it is exported: the structs laid out field for field as
// audiomeasure.h declares them (fixed-width fields, no implicit padding, so
// Sequential layout gives the same offsets), and the functions with
// blittable parameters only. Strings the library returns are static: they
// are read, never freed.
using System;
using System.Runtime.InteropServices;

namespace AudioMeasure
{
    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeGainOptions
    {
        public uint struct_size;
        public int step_period;
        public double max_noise_distortion_db;
        public double max_spread_excess_db;
        public long max_clipped_samples;
        public int drift_correct;
        public int reserved0;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal unsafe struct NativeGainReport
    {
        public uint struct_size;
        public int verdict;
        public uint verdict_causes;
        public uint causes;
        public fixed double step_level[Native.Steps];
        public fixed double step_range[Native.Steps];
        public double peak_level;
        public double failed;
        public fixed double reference_step_level[Native.Steps];
        public fixed double reference_step_range[Native.Steps];
        public fixed double gain[Native.Steps];
        public fixed double coverage[Native.Steps];
        public fixed long step_start[Native.Steps];
        public fixed long step_samples[Native.Steps];
        public uint uncovered_steps;
        public int step_period;
        public double step_period_s;
        public double step_mode;
        public int step_period_source;
        public int step_period_warning;
        public double fitting_period_s;
        public fixed double median_step_spread_db[2];
        public fixed int layout_held[2];
        public int onset_frame_reference;
        public int onset_frame_recording;
        public double coarse_delay;
        public double coarse_delay_flag;
        public int peak_index;
        public int aligned;
        public double peak_value;
        public double trust_ratio;
        public double total_delay;
        public double total_delay_ms;
        public long delay;
        public long aligned_samples;
        public long reference_length;
        public long recording_length;
        public int non_finite_signal;
        public int reserved0;
        public long non_finite_position;
        public double non_finite_value;
        public fixed double noise_distortion_db[Native.Steps];
        public fixed double dc_offset_db[Native.Steps];
        public fixed double spread_excess_db[Native.Steps];
        public fixed long clipped_samples[Native.Steps];
        public fixed uint step_questionable[Native.Steps];
        public uint questionable_steps;
        public double drift_ppm;
        public int drift_corrected;
        public int reserved1;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeSnrOptions
    {
        public uint struct_size;
        public int align;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeSnrReport
    {
        public uint struct_size;
        public int verdict;
        public int reason;
        public int aligned;
        public double snr_db;
        public double fs;
        public double frame_length;
        public double frame_count;
        public double active_frames;
        public double activity_factor;
        public double active_power_sum;
        public double inactive_power_sum;
        public double noise_power;
        public double signal_power;
        public double noise_power_db;
        public double signal_power_db;
        public long lag;
        public long lag_window;
        public long lag_max;
        public long gate_first;
        public long measured_first;
        public long gate_samples;
        public long gate_length;
        public long measured_length;
        public int non_finite_signal;
        public int reserved0;
        public long non_finite_position;
        public double non_finite_value;
        public double lag_prominence;
        public int lag_reliable;
        public int reserved1;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal unsafe struct NativeGainLimits
    {
        public uint struct_size;
        public int reserved0;
        public fixed double gain_min_db[Native.Steps];
        public fixed double gain_max_db[Native.Steps];
        public fixed double spread_max_db[Native.Steps];
        public fixed double noise_distortion_max_db[Native.Steps];
        public fixed double clipped_max[Native.Steps];
        public double delay_max_samples;
        public double drift_max_ppm;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeSnrLimits
    {
        public uint struct_size;
        public int reserved0;
        public double snr_min_db;
        public double snr_max_db;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal unsafe struct NativeJudgement
    {
        public uint struct_size;
        public int outcome;
        public uint failed_checks;
        public fixed uint failed_steps[Native.Checks];
    }

    // The native objects behind GainReference, GainMeasurement and SnrMeasurement:
    // each destroyed once, when its last user lets go of it.
    internal sealed class GainReferenceHandle : SafeHandle
    {
        private GainReferenceHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle()
        {
            Native.am_gain_reference_destroy(handle);
            return true;
        }
    }

    internal sealed class GainMeasurementHandle : SafeHandle
    {
        private GainMeasurementHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle()
        {
            Native.am_gain_destroy(handle);
            return true;
        }
    }

    internal sealed class SnrMeasurementHandle : SafeHandle
    {
        private SnrMeasurementHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle()
        {
            Native.am_snr_destroy(handle);
            return true;
        }
    }

    internal static unsafe class Native
    {
        // libaudiomeasure.so on Linux, audiomeasure.dll on Windows.
        private const string Library = "audiomeasure";

        public const int Steps = 11;
        public const int Checks = 7;

        // The kinds of am_enum_name.
        public const int EnumStatus = 0;
        public const int EnumVerdict = 1;
        public const int EnumCause = 2;
        public const int EnumSnrReason = 3;
        public const int EnumPeriod = 4;
        public const int EnumPeriodSource = 5;
        public const int EnumPeriodWarning = 6;
        public const int EnumAligned = 7;
        public const int EnumSignal = 8;
        public const int EnumCheck = 9;
        public const int EnumLimits = 10;

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr am_enum_name(int kind, int value);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr am_enum_text(int kind, int value);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr am_version();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_gain_options_init_size(NativeGainOptions* options, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_gain_report_init_size(NativeGainReport* report, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_measure(double* reference, long referenceLength,
            double* recording, long recordingLength, NativeGainOptions* options,
            NativeGainReport* report);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_reference_create(NativeGainOptions* options, long length,
            out GainReferenceHandle reference);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_reference_feed(GainReferenceHandle reference,
            double* samples, long count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_reference_finish(GainReferenceHandle reference);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_gain_reference_destroy(IntPtr reference);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_create(GainReferenceHandle reference,
            out GainMeasurementHandle measurement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_feed_recording(GainMeasurementHandle measurement,
            double* samples, long count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_finish(GainMeasurementHandle measurement,
            NativeGainReport* report);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_gain_destroy(IntPtr measurement);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_snr_options_init_size(NativeSnrOptions* options, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_snr_report_init_size(NativeSnrReport* report, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_snr_measure(double* gate, long gateLength, double* measured,
            long measuredLength, double fs, NativeSnrOptions* options, NativeSnrReport* report);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_snr_create(NativeSnrOptions* options, double fs,
            out SnrMeasurementHandle measurement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_snr_feed_gate(SnrMeasurementHandle measurement,
            double* samples, long count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_snr_feed_measured(SnrMeasurementHandle measurement,
            double* samples, long count);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_snr_finish(SnrMeasurementHandle measurement,
            NativeSnrReport* report);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_snr_destroy(IntPtr measurement);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_gain_limits_init_size(NativeGainLimits* limits, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_snr_limits_init_size(NativeSnrLimits* limits, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void am_judgement_init_size(NativeJudgement* judgement, uint size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_gain_judge(NativeGainReport* report, NativeGainLimits* limits,
            NativeJudgement* judgement);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int am_snr_judge(NativeSnrReport* report, NativeSnrLimits* limits,
            NativeJudgement* judgement);

        public static string Name(int kind, int value)
        {
            return Marshal.PtrToStringAnsi(am_enum_name(kind, value));
        }

        public static string Text(int kind, int value)
        {
            return Marshal.PtrToStringAnsi(am_enum_text(kind, value));
        }

        /// <summary>Throws the refusal a status other than 0 stands for.</summary>
        public static void Check(int status)
        {
            if (status != 0)
            {
                throw new AudioMeasureException(status);
            }
        }

        public static double[] Copy(double* values, int count)
        {
            var copy = new double[count];
            for (int i = 0; i < count; ++i) copy[i] = values[i];
            return copy;
        }

        public static long[] Copy(long* values, int count)
        {
            var copy = new long[count];
            for (int i = 0; i < count; ++i) copy[i] = values[i];
            return copy;
        }

        public static void Fill(double* into, double[] values, string name)
        {
            if (values == null) throw new ArgumentNullException(name);
            if (values.Length != Steps)
            {
                throw new ArgumentException(name + " must hold " + Steps + " values, one per step", name);
            }
            for (int i = 0; i < Steps; ++i) into[i] = values[i];
        }
    }
}
