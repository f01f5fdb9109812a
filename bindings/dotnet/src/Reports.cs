// Options, reports, limits and judgements: each report field of the C API
// as a property of the same meaning (audiomeasure.h describes each). Steps
// count from 0 in the arrays; masks of steps are 11 flags, one per step.
using System;

namespace AudioMeasure
{
    /// <summary>Options of a gain measurement; the library's defaults when made.</summary>
    public sealed class GainOptions
    {
        public unsafe GainOptions()
        {
            NativeGainOptions o;
            Native.am_gain_options_init_size(&o, (uint)sizeof(NativeGainOptions));
            StepPeriod = new StepPeriod(o.step_period);
            MaxNoiseDistortionDb = o.max_noise_distortion_db;
            MaxSpreadExcessDb = o.max_spread_excess_db;
            MaxClippedSamples = o.max_clipped_samples;
            DriftCorrect = o.drift_correct != 0;
        }

        /// <summary>StepPeriod.Auto (default) reads it from the reference.</summary>
        public StepPeriod StepPeriod { get; set; }
        /// <summary>A step is questionable above this noise and distortion, dB re its level (default -16).</summary>
        public double MaxNoiseDistortionDb { get; set; }
        /// <summary>... or with a spread this much above the reference's, dB (default 1).</summary>
        public double MaxSpreadExcessDb { get; set; }
        /// <summary>... or with more clipped samples than this (default 0).</summary>
        public long MaxClippedSamples { get; set; }
        /// <summary>Convert the recording by its clock drift and measure it again (default false).</summary>
        public bool DriftCorrect { get; set; }

        internal unsafe NativeGainOptions ToNative()
        {
            if (StepPeriod == null) throw new ArgumentNullException("StepPeriod");
            NativeGainOptions o;
            Native.am_gain_options_init_size(&o, (uint)sizeof(NativeGainOptions));
            o.step_period = StepPeriod.Value;
            o.max_noise_distortion_db = MaxNoiseDistortionDb;
            o.max_spread_excess_db = MaxSpreadExcessDb;
            o.max_clipped_samples = MaxClippedSamples;
            o.drift_correct = DriftCorrect ? 1 : 0;
            return o;
        }

        internal static NativeGainOptions ToNative(GainOptions options)
        {
            return (options ?? new GainOptions()).ToNative();
        }
    }

    /// <summary>Options of an SNR measurement.</summary>
    public sealed class SnrOptions
    {
        /// <summary>Measure the gate against the measured signal shifted by the lag between them,
        /// when the lag is reliable (else a refusal, unreliable_lag). Default false.</summary>
        public bool Align { get; set; }

        internal static unsafe NativeSnrOptions ToNative(SnrOptions options)
        {
            NativeSnrOptions o;
            Native.am_snr_options_init_size(&o, (uint)sizeof(NativeSnrOptions));
            o.align = options != null && options.Align ? 1 : 0;
            return o;
        }
    }

    /// <summary>A gain measurement's report.</summary>
    public sealed unsafe class GainReport
    {
        internal readonly NativeGainReport Native_;

        internal GainReport(NativeGainReport r)
        {
            Native_ = r;
            Verdict = new Verdict(r.verdict);
            VerdictCauses = Cause.Of(r.verdict_causes);
            Causes = Cause.Of(r.causes);
            StepLevel = Native.Copy(r.step_level, Native.Steps);
            StepRange = Native.Copy(r.step_range, Native.Steps);
            PeakLevel = r.peak_level;
            Failed = r.failed;
            ReferenceStepLevel = Native.Copy(r.reference_step_level, Native.Steps);
            ReferenceStepRange = Native.Copy(r.reference_step_range, Native.Steps);
            Gain = Native.Copy(r.gain, Native.Steps);
            Coverage = Native.Copy(r.coverage, Native.Steps);
            StepStart = Native.Copy(r.step_start, Native.Steps);
            StepSamples = Native.Copy(r.step_samples, Native.Steps);
            UncoveredSteps = StepFlags(r.uncovered_steps);
            StepPeriod = new StepPeriod(r.step_period);
            StepPeriodS = r.step_period_s;
            StepMode = r.step_mode;
            StepPeriodSource = new PeriodSource(r.step_period_source);
            StepPeriodWarning = new PeriodWarning(r.step_period_warning);
            FittingPeriodS = r.fitting_period_s;
            MedianStepSpreadDb = Native.Copy(r.median_step_spread_db, 2);
            LayoutHeld = new[] { r.layout_held[0] != 0, r.layout_held[1] != 0 };
            OnsetFrameReference = r.onset_frame_reference;
            OnsetFrameRecording = r.onset_frame_recording;
            CoarseDelay = r.coarse_delay;
            CoarseDelayFlag = r.coarse_delay_flag;
            PeakIndex = r.peak_index;
            Aligned = new AlignedFill(r.aligned);
            PeakValue = r.peak_value;
            TrustRatio = r.trust_ratio;
            TotalDelay = r.total_delay;
            TotalDelayMs = r.total_delay_ms;
            Delay = r.delay;
            AlignedSamples = r.aligned_samples;
            ReferenceLength = r.reference_length;
            RecordingLength = r.recording_length;
            NonFiniteSignal = new Signal(r.non_finite_signal);
            NonFinitePosition = r.non_finite_position;
            NonFiniteValue = r.non_finite_value;
            NoiseDistortionDb = Native.Copy(r.noise_distortion_db, Native.Steps);
            DcOffsetDb = Native.Copy(r.dc_offset_db, Native.Steps);
            SpreadExcessDb = Native.Copy(r.spread_excess_db, Native.Steps);
            ClippedSamples = Native.Copy(r.clipped_samples, Native.Steps);
            StepQuestionable = new Cause[Native.Steps][];
            for (int i = 0; i < Native.Steps; ++i) StepQuestionable[i] = Cause.Of(r.step_questionable[i]);
            QuestionableSteps = StepFlags(r.questionable_steps);
            DriftPpm = r.drift_ppm;
            DriftCorrected = r.drift_corrected != 0;
        }

        private static bool[] StepFlags(uint mask)
        {
            var flags = new bool[Native.Steps];
            for (int i = 0; i < Native.Steps; ++i) flags[i] = ((mask >> i) & 1u) != 0;
            return flags;
        }

        public Verdict Verdict { get; private set; }
        /// <summary>Everything behind the verdict; empty when trusted.</summary>
        public Cause[] VerdictCauses { get; private set; }
        /// <summary>The reasons for Failed = 1.</summary>
        public Cause[] Causes { get; private set; }
        public double[] StepLevel { get; private set; }
        public double[] StepRange { get; private set; }
        public double PeakLevel { get; private set; }
        public double Failed { get; private set; }
        public double[] ReferenceStepLevel { get; private set; }
        public double[] ReferenceStepRange { get; private set; }
        public double[] Gain { get; private set; }
        public double[] Coverage { get; private set; }
        public long[] StepStart { get; private set; }
        public long[] StepSamples { get; private set; }
        public bool[] UncoveredSteps { get; private set; }
        public StepPeriod StepPeriod { get; private set; }
        public double StepPeriodS { get; private set; }
        public double StepMode { get; private set; }
        public PeriodSource StepPeriodSource { get; private set; }
        public PeriodWarning StepPeriodWarning { get; private set; }
        public double FittingPeriodS { get; private set; }
        public double[] MedianStepSpreadDb { get; private set; }
        public bool[] LayoutHeld { get; private set; }
        public int OnsetFrameReference { get; private set; }
        public int OnsetFrameRecording { get; private set; }
        public double CoarseDelay { get; private set; }
        public double CoarseDelayFlag { get; private set; }
        public int PeakIndex { get; private set; }
        public AlignedFill Aligned { get; private set; }
        public double PeakValue { get; private set; }
        public double TrustRatio { get; private set; }
        public double TotalDelay { get; private set; }
        public double TotalDelayMs { get; private set; }
        /// <summary>How many samples the recording lags the reference.</summary>
        public long Delay { get; private set; }
        public long AlignedSamples { get; private set; }
        public long ReferenceLength { get; private set; }
        public long RecordingLength { get; private set; }
        public Signal NonFiniteSignal { get; private set; }
        public long NonFinitePosition { get; private set; }
        public double NonFiniteValue { get; private set; }
        public double[] NoiseDistortionDb { get; private set; }
        public double[] DcOffsetDb { get; private set; }
        public double[] SpreadExcessDb { get; private set; }
        public long[] ClippedSamples { get; private set; }
        public Cause[][] StepQuestionable { get; private set; }
        public bool[] QuestionableSteps { get; private set; }
        public double DriftPpm { get; private set; }
        public bool DriftCorrected { get; private set; }
    }

    /// <summary>An SNR measurement's report.</summary>
    public sealed class SnrReport
    {
        internal readonly NativeSnrReport Native_;

        internal SnrReport(NativeSnrReport r)
        {
            Native_ = r;
            Verdict = new Verdict(r.verdict);
            Reason = new SnrReason(r.reason);
            Aligned = r.aligned != 0;
            SnrDb = r.snr_db;
            Fs = r.fs;
            FrameLength = r.frame_length;
            FrameCount = r.frame_count;
            ActiveFrames = r.active_frames;
            ActivityFactor = r.activity_factor;
            ActivePowerSum = r.active_power_sum;
            InactivePowerSum = r.inactive_power_sum;
            NoisePower = r.noise_power;
            SignalPower = r.signal_power;
            NoisePowerDb = r.noise_power_db;
            SignalPowerDb = r.signal_power_db;
            Lag = r.lag;
            LagWindow = r.lag_window;
            LagMax = r.lag_max;
            GateFirst = r.gate_first;
            MeasuredFirst = r.measured_first;
            GateSamples = r.gate_samples;
            GateLength = r.gate_length;
            MeasuredLength = r.measured_length;
            NonFiniteSignal = new Signal(r.non_finite_signal);
            NonFinitePosition = r.non_finite_position;
            NonFiniteValue = r.non_finite_value;
            LagProminence = r.lag_prominence;
            LagReliable = r.lag_reliable != 0;
        }

        public Verdict Verdict { get; private set; }
        public SnrReason Reason { get; private set; }
        public bool Aligned { get; private set; }
        public double SnrDb { get; private set; }
        public double Fs { get; private set; }
        public double FrameLength { get; private set; }
        public double FrameCount { get; private set; }
        public double ActiveFrames { get; private set; }
        public double ActivityFactor { get; private set; }
        public double ActivePowerSum { get; private set; }
        public double InactivePowerSum { get; private set; }
        public double NoisePower { get; private set; }
        public double SignalPower { get; private set; }
        public double NoisePowerDb { get; private set; }
        public double SignalPowerDb { get; private set; }
        /// <summary>Samples the measured signal is late behind the gate.</summary>
        public long Lag { get; private set; }
        public long LagWindow { get; private set; }
        public long LagMax { get; private set; }
        public long GateFirst { get; private set; }
        public long MeasuredFirst { get; private set; }
        public long GateSamples { get; private set; }
        public long GateLength { get; private set; }
        public long MeasuredLength { get; private set; }
        public Signal NonFiniteSignal { get; private set; }
        public long NonFinitePosition { get; private set; }
        public double NonFiniteValue { get; private set; }
        public double LagProminence { get; private set; }
        public bool LagReliable { get; private set; }
    }

    /// <summary>A device's gain limits: inclusive bounds, NaN (the default) for none.</summary>
    public sealed class GainLimits
    {
        public GainLimits()
        {
            GainMinDb = NoBounds();
            GainMaxDb = NoBounds();
            SpreadMaxDb = NoBounds();
            NoiseDistortionMaxDb = NoBounds();
            ClippedMax = NoBounds();
            DelayMaxSamples = double.NaN;
            DriftMaxPpm = double.NaN;
        }

        private static double[] NoBounds()
        {
            var bounds = new double[Native.Steps];
            for (int i = 0; i < bounds.Length; ++i) bounds[i] = double.NaN;
            return bounds;
        }

        /// <summary>Per step: the gain (the recording's level less the reference's), dB.</summary>
        public double[] GainMinDb { get; set; }
        public double[] GainMaxDb { get; set; }
        /// <summary>Per step: its spread (StepRange), dB.</summary>
        public double[] SpreadMaxDb { get; set; }
        public double[] NoiseDistortionMaxDb { get; set; }
        public double[] ClippedMax { get; set; }
        /// <summary>|Delay|, samples.</summary>
        public double DelayMaxSamples { get; set; }
        /// <summary>|DriftPpm|.</summary>
        public double DriftMaxPpm { get; set; }

        internal unsafe NativeGainLimits ToNative()
        {
            NativeGainLimits l;
            Native.am_gain_limits_init_size(&l, (uint)sizeof(NativeGainLimits));
            Native.Fill(l.gain_min_db, GainMinDb, "GainMinDb");
            Native.Fill(l.gain_max_db, GainMaxDb, "GainMaxDb");
            Native.Fill(l.spread_max_db, SpreadMaxDb, "SpreadMaxDb");
            Native.Fill(l.noise_distortion_max_db, NoiseDistortionMaxDb, "NoiseDistortionMaxDb");
            Native.Fill(l.clipped_max, ClippedMax, "ClippedMax");
            l.delay_max_samples = DelayMaxSamples;
            l.drift_max_ppm = DriftMaxPpm;
            return l;
        }
    }

    /// <summary>A device's SNR limits: inclusive bounds, NaN (the default) for none.</summary>
    public sealed class SnrLimits
    {
        public SnrLimits()
        {
            SnrMinDb = double.NaN;
            SnrMaxDb = double.NaN;
        }

        public double SnrMinDb { get; set; }
        public double SnrMaxDb { get; set; }
    }

    /// <summary>A report's figures judged against a device's limits.</summary>
    public sealed unsafe class Judgement
    {
        internal Judgement(NativeJudgement j)
        {
            Outcome = new LimitsOutcome(j.outcome);
            FailedChecks = Check.Of(j.failed_checks);
            FailedSteps = new uint[Native.Checks];
            for (int i = 0; i < Native.Checks; ++i) FailedSteps[i] = j.failed_steps[i];
        }

        /// <summary>LimitsOutcome.Pass, or Fail when any check fails.</summary>
        public LimitsOutcome Outcome { get; private set; }
        public Check[] FailedChecks { get; private set; }
        /// <summary>Per check (by Check.Value): the steps that failed it, bit k - 1 for
        /// step k, or bit 0 for a check that is not per step.</summary>
        public uint[] FailedSteps { get; private set; }
    }
}
