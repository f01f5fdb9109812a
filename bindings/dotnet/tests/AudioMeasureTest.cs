// The binding against the C API's bits on the demonstration files: every
// property of every report, whole-array and streaming, written in the form of
// tests/bindings/report_dump.c and compared line for line with what that
// program wrote through the C API; then refusals, each an exception.
//
// Usage: mono AudioMeasureTest.exe DIR EXPECTED
//   DIR holds reference.wav, recording.wav, gate.wav and measured.wav;
//   EXPECTED is report_dump's output on them.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text;
using AudioMeasure;

static class AudioMeasureTest
{
    static int failures;

    static void Expect(bool ok, string what)
    {
        if (!ok)
        {
            Console.WriteLine("FAILED: " + what);
            ++failures;
        }
    }

    // A mono 16-bit PCM WAV file's samples as their integer values.
    static double[] ReadWav(string path, out int rate)
    {
        byte[] b = File.ReadAllBytes(path);
        rate = 0;
        int channels = 0, bitsPerSample = 0;
        for (int at = 12; at + 8 <= b.Length;)
        {
            string id = Encoding.ASCII.GetString(b, at, 4);
            int size = BitConverter.ToInt32(b, at + 4);
            if (id == "fmt ")
            {
                channels = BitConverter.ToInt16(b, at + 10);
                rate = BitConverter.ToInt32(b, at + 12);
                bitsPerSample = BitConverter.ToInt16(b, at + 22);
            }
            else if (id == "data")
            {
                if (channels != 1 || bitsPerSample != 16) throw new InvalidDataException(path);
                var samples = new double[size / 2];
                for (int i = 0; i < samples.Length; ++i) samples[i] = BitConverter.ToInt16(b, at + 8 + 2 * i);
                return samples;
            }
            at += 8 + size + (size & 1);
        }
        throw new InvalidDataException(path);
    }

    // StepLevel -> step_level
    static string Snake(string name)
    {
        var s = new StringBuilder();
        for (int i = 0; i < name.Length; ++i)
        {
            if (i > 0 && char.IsUpper(name[i]) && !char.IsUpper(name[i - 1])) s.Append('_');
            s.Append(char.ToLowerInvariant(name[i]));
        }
        return s.ToString();
    }

    static string Line(object value)
    {
        var named = value as NamedValue;
        if (named != null) return "=" + named;
        var list = value as NamedValue[];
        if (list != null) return "=" + string.Join(",", list.Select(v => v.ToString()).ToArray());
        return BitConverter.DoubleToInt64Bits(Convert.ToDouble(value)).ToString("x16");
    }

    // Every public property of an object, as report_dump writes its fields.
    static void Dump(List<string> lines, string prefix, object report)
    {
        foreach (var p in report.GetType().GetProperties())
        {
            string key = prefix + Snake(p.Name);
            object value = p.GetValue(report, null);
            var array = value as Array;
            if (array != null && !(value is NamedValue[]))
            {
                for (int i = 0; i < array.Length; ++i) lines.Add(key + "[" + i + "] " + Line(array.GetValue(i)));
            }
            else
            {
                lines.Add(key + " " + Line(value));
            }
        }
    }

    // The lines of a case against those report_dump wrote for it, as sets.
    static void Compare(string[] expected, List<string> got, string prefix, string what)
    {
        var want = new HashSet<string>(expected.Where(l => l.StartsWith(prefix, StringComparison.Ordinal)));
        var have = new HashSet<string>(got);
        Expect(want.Count > 0, what + ": no expected lines " + prefix);
        foreach (var l in want.Where(l => !have.Contains(l))) Expect(false, what + ": want " + l);
        foreach (var l in have.Where(l => !want.Contains(l))) Expect(false, what + ": got " + l);
    }

    static void Refused(Action call, string status, string what)
    {
        try
        {
            call();
            Expect(false, what + ": not refused");
        }
        catch (AudioMeasureException e)
        {
            Expect(e.StatusName == status, what + ": " + e.StatusName + " instead of " + status);
            Expect(e.Message.Length > 0 && e.Message != "unknown value", what + ": message '" + e.Message + "'");
        }
    }

    static void Throws<T>(Action call, string what) where T : Exception
    {
        try
        {
            call();
            Expect(false, what + ": no " + typeof(T).Name);
        }
        catch (T)
        {
        }
    }

    static int Main(string[] args)
    {
        string dir = args[0];
        string[] expected = File.ReadAllLines(args[1]);
        int rate, fs;
        double[] reference = ReadWav(Path.Combine(dir, "reference.wav"), out rate);
        double[] recording = ReadWav(Path.Combine(dir, "recording.wav"), out rate);
        double[] gate = ReadWav(Path.Combine(dir, "gate.wav"), out fs);
        double[] measured = ReadWav(Path.Combine(dir, "measured.wav"), out fs);

        // Whole arrays.
        var lines = new List<string>();
        GainReport gain = Measure.Gain(reference, recording);
        Dump(lines, "gain.", gain);
        Compare(expected, lines, "gain.", "Measure.Gain");
        Expect(gain.Verdict.ToString() == "trusted" && gain.Verdict == Verdict.Trusted, "the verdict prints as trusted");

        var limits = new GainLimits { DelayMaxSamples = 12000.0 };
        for (int i = 0; i < 11; ++i)
        {
            limits.GainMinDb[i] = -2.0;
            limits.GainMaxDb[i] = 2.0;
            limits.SpreadMaxDb[i] = 3.0;
        }
        lines.Clear();
        Dump(lines, "judgement.", Measure.Judge(gain, limits));
        Compare(expected, lines, "judgement.", "Measure.Judge");

        var options = new GainOptions
        {
            StepPeriod = StepPeriod.Seconds25_2,
            MaxNoiseDistortionDb = -40.0,
            MaxSpreadExcessDb = 0.001,
            DriftCorrect = true
        };
        lines.Clear();
        Dump(lines, "gain_options.", Measure.Gain(reference, recording, options));
        Compare(expected, lines, "gain_options.", "Measure.Gain with options");

        lines.Clear();
        Dump(lines, "snr.", Measure.Snr(gate, measured, fs));
        Compare(expected, lines, "snr.", "Measure.Snr");

        // Streaming, in chunks of odd sizes; the reference let go of first.
        GainMeasurement streamed;
        using (var prepared = new GainReference(reference.Length))
        {
            for (int at = 0; at < reference.Length; at += 1000003)
                prepared.Feed(reference, at, Math.Min(1000003, reference.Length - at));
            prepared.Finish();
            streamed = new GainMeasurement(prepared);
        }
        using (streamed)
        {
            for (int at = 0; at < recording.Length; at += 777777)
                streamed.FeedRecording(recording, at, Math.Min(777777, recording.Length - at));
            lines.Clear();
            Dump(lines, "gain.", streamed.Finish());
            Compare(expected, lines, "gain.", "GainMeasurement");
            Refused(() => streamed.FeedRecording(recording, 0, 1), "bad_state", "a feed after the report");
        }
        Throws<ObjectDisposedException>(() => streamed.Finish(), "a disposed measurement");

        using (var snr = new SnrMeasurement(fs))
        {
            int g = 0, m = 0;
            while (g < gate.Length || m < measured.Length)
            {
                int n = Math.Min(4801, gate.Length - g);
                snr.FeedGate(gate, g, n);
                g += n;
                n = Math.Min(3333, measured.Length - m);
                snr.FeedMeasured(measured, m, n);
                m += n;
            }
            lines.Clear();
            Dump(lines, "snr.", snr.Finish());
            Compare(expected, lines, "snr.", "SnrMeasurement");
        }

        // Refusals.
        var shortReference = new double[1000];
        Refused(() => Measure.Gain(shortReference, recording), "short_reference", "a short reference");
        Refused(() => Measure.Gain(reference, new double[10]), "short_recording", "a short recording");
        Refused(() => Measure.Snr(gate, measured, double.NaN), "bad_rate", "fs NaN");
        Refused(() => Measure.Snr(new double[100], measured, fs), "short_gate", "a short gate");
        Refused(() => Measure.Gain(reference, recording, new GainOptions { MaxClippedSamples = -1 }),
                "bad_option", "max_clipped_samples -1");
        Refused(() => Measure.Gain(reference, recording, new GainOptions { MaxNoiseDistortionDb = double.NaN }),
                "bad_option", "max_noise_distortion_db NaN");
        Refused(() => new GainReference(1000), "short_reference", "a short streaming reference");
        Refused(() => new SnrMeasurement(-1.0), "bad_rate", "a streaming fs of -1");
        using (var unfinished = new GainReference(reference.Length))
        {
            Refused(() => new GainMeasurement(unfinished), "bad_state", "a measurement on an unfinished reference");
            Refused(() => unfinished.Finish(), "reference_length", "a reference finished early");
        }
        var wrongLimits = new GainLimits();
        wrongLimits.GainMinDb[0] = 1.0;
        wrongLimits.GainMaxDb[0] = -1.0;
        Refused(() => Measure.Judge(gain, wrongLimits), "bad_option", "a maximum below its minimum");
        Throws<ArgumentNullException>(() => Measure.Gain(null, recording), "a null reference");
        Throws<ArgumentNullException>(() => Measure.Snr(gate, null, fs), "a null measured signal");
        Throws<ArgumentException>(() => Measure.Judge(gain, new GainLimits { GainMinDb = new double[3] }),
                                  "limits of 3 steps");
        using (var snr = new SnrMeasurement(fs))
        {
            Throws<ArgumentOutOfRangeException>(() => snr.FeedGate(gate, gate.Length - 1, 2), "a chunk past the end");
        }

        Console.WriteLine(failures == 0 ? "AudioMeasure binding: every field as the C API gives it"
                                        : "AudioMeasure binding: " + failures + " failures");
        return failures == 0 ? 0 : 1;
    }
}
