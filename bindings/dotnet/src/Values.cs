// The library's enumerations. Each value prints as its stable name, the one
// the tools write in their JSON (am_enum_name); Text is the sentence for
// people (am_enum_text).
using System;
using System.Collections.Generic;

namespace AudioMeasure
{
    /// <summary>A value of one of the library's enumerations.</summary>
    public abstract class NamedValue : IEquatable<NamedValue>
    {
        private readonly int kind;

        internal NamedValue(int kind, int value)
        {
            this.kind = kind;
            Value = value;
        }

        /// <summary>The value in the C API.</summary>
        public int Value { get; private set; }

        /// <summary>The stable name, e.g. "trusted".</summary>
        public string Name { get { return Native.Name(kind, Value); } }

        /// <summary>One sentence about the value.</summary>
        public string Text { get { return Native.Text(kind, Value); } }

        public override string ToString() { return Name; }

        public bool Equals(NamedValue other)
        {
            return !ReferenceEquals(other, null) && other.kind == kind && other.Value == Value;
        }

        public override bool Equals(object other) { return Equals(other as NamedValue); }

        public override int GetHashCode() { return kind * 1000003 + Value; }

        public static bool operator ==(NamedValue a, NamedValue b)
        {
            return ReferenceEquals(a, null) ? ReferenceEquals(b, null) : a.Equals(b);
        }

        public static bool operator !=(NamedValue a, NamedValue b) { return !(a == b); }

        // The values of the bits set in a mask, in bit order.
        internal static T[] Bits<T>(uint mask, Func<int, T> of)
        {
            var values = new List<T>();
            for (int bit = 0; bit < 32; ++bit)
            {
                if (((mask >> bit) & 1u) != 0) values.Add(of(bit));
            }
            return values.ToArray();
        }
    }

    /// <summary>What a report's numbers may be used for.</summary>
    public sealed class Verdict : NamedValue
    {
        internal Verdict(int value) : base(Native.EnumVerdict, value) { }
        public static readonly Verdict Trusted = new Verdict(0);
        public static readonly Verdict NotTrusted = new Verdict(1);
        public static readonly Verdict Incomplete = new Verdict(2);
        public static readonly Verdict NonFiniteSamples = new Verdict(3);
        public static readonly Verdict Finite = new Verdict(4);
        public static readonly Verdict NotFinite = new Verdict(5);
        public static readonly Verdict Questionable = new Verdict(6);
    }

    /// <summary>A cause behind a gain verdict, a failed alignment or a questionable step.</summary>
    public sealed class Cause : NamedValue
    {
        internal Cause(int value) : base(Native.EnumCause, value) { }
        public static readonly Cause NonFiniteSamples = new Cause(0);
        public static readonly Cause UnreadableInput = new Cause(1);
        public static readonly Cause ShortInput = new Cause(2);
        public static readonly Cause CoarseDelayTooLarge = new Cause(3);
        public static readonly Cause DelayOutOfRange = new Cause(4);
        public static readonly Cause PeakNearEnd = new Cause(5);
        public static readonly Cause PeakNotProminent = new Cause(6);
        public static readonly Cause NotLagging = new Cause(7);
        public static readonly Cause NoUsableBlock = new Cause(8);
        public static readonly Cause StepsNotCovered = new Cause(9);
        public static readonly Cause SilentReference = new Cause(10);
        public static readonly Cause SilentRecording = new Cause(11);
        public static readonly Cause ClockDrift = new Cause(12);
        public static readonly Cause NoiseDistortion = new Cause(13);
        public static readonly Cause Clipping = new Cause(14);
        public static readonly Cause Unsteady = new Cause(15);

        internal static Cause[] Of(uint mask) { return Bits(mask, bit => new Cause(bit)); }
    }

    /// <summary>Why an SNR is what it is.</summary>
    public sealed class SnrReason : NamedValue
    {
        internal SnrReason(int value) : base(Native.EnumSnrReason, value) { }
        public static readonly SnrReason Finite = new SnrReason(0);
        public static readonly SnrReason NoInactiveFrame = new SnrReason(4);
        public static readonly SnrReason NoActiveFrame = new SnrReason(5);
        public static readonly SnrReason NonFiniteSamples = new SnrReason(6);
        public static readonly SnrReason SilentMeasured = new SnrReason(7);
        public static readonly SnrReason SignalBelowNoise = new SnrReason(8);
        public static readonly SnrReason ZeroNoise = new SnrReason(9);
    }

    /// <summary>The step period: an option (Auto reads it from the reference) and the one measured.</summary>
    public sealed class StepPeriod : NamedValue
    {
        internal StepPeriod(int value) : base(Native.EnumPeriod, value) { }
        public static readonly StepPeriod Auto = new StepPeriod(0);
        public static readonly StepPeriod Seconds25_2 = new StepPeriod(1);
        public static readonly StepPeriod Seconds24_7 = new StepPeriod(2);
    }

    /// <summary>How the step period measured was chosen.</summary>
    public sealed class PeriodSource : NamedValue
    {
        internal PeriodSource(int value) : base(Native.EnumPeriodSource, value) { }
        public static readonly PeriodSource Option = new PeriodSource(0);
        public static readonly PeriodSource Auto = new PeriodSource(1);
    }

    /// <summary>Why the step period measured may be wrong.</summary>
    public sealed class PeriodWarning : NamedValue
    {
        internal PeriodWarning(int value) : base(Native.EnumPeriodWarning, value) { }
        public static readonly PeriodWarning None = new PeriodWarning(0);
        public static readonly PeriodWarning NoClearFit = new PeriodWarning(1);
        public static readonly PeriodWarning Contradicted = new PeriodWarning(2);
    }

    /// <summary>How the aligned recording was filled.</summary>
    public sealed class AlignedFill : NamedValue
    {
        internal AlignedFill(int value) : base(Native.EnumAligned, value) { }
        public static readonly AlignedFill None = new AlignedFill(0);
        public static readonly AlignedFill Whole = new AlignedFill(1);
        public static readonly AlignedFill Head = new AlignedFill(2);
    }

    /// <summary>The signals of a measurement.</summary>
    public sealed class Signal : NamedValue
    {
        internal Signal(int value) : base(Native.EnumSignal, value) { }
        public static readonly Signal None = new Signal(0);
        public static readonly Signal Reference = new Signal(1);
        public static readonly Signal Recording = new Signal(2);
        public static readonly Signal Gate = new Signal(3);
        public static readonly Signal Measured = new Signal(4);
    }

    /// <summary>The checks of a device's limits.</summary>
    public sealed class Check : NamedValue
    {
        internal Check(int value) : base(Native.EnumCheck, value) { }
        public static readonly Check Gain = new Check(0);
        public static readonly Check Spread = new Check(1);
        public static readonly Check NoiseDistortion = new Check(2);
        public static readonly Check Clipped = new Check(3);
        public static readonly Check Delay = new Check(4);
        public static readonly Check Drift = new Check(5);
        public static readonly Check Snr = new Check(6);

        internal static Check[] Of(uint mask) { return Bits(mask, bit => new Check(bit)); }
    }

    /// <summary>A judgement's outcome.</summary>
    public sealed class LimitsOutcome : NamedValue
    {
        internal LimitsOutcome(int value) : base(Native.EnumLimits, value) { }
        public static readonly LimitsOutcome Pass = new LimitsOutcome(0);
        public static readonly LimitsOutcome Fail = new LimitsOutcome(1);
    }

    /// <summary>
    /// A refusal of the library: a length, rate or option out of range, an input
    /// too short for the measurement, a call out of order, no memory. Message is
    /// the library's text for the status (am_status_text).
    /// </summary>
    public class AudioMeasureException : Exception
    {
        public AudioMeasureException(int status)
            : base(Native.Text(Native.EnumStatus, status))
        {
            Status = status;
            StatusName = Native.Name(Native.EnumStatus, status);
        }

        /// <summary>The negative AM_ERR_* status.</summary>
        public int Status { get; private set; }

        /// <summary>Its stable name, e.g. "short_reference".</summary>
        public string StatusName { get; private set; }
    }
}
