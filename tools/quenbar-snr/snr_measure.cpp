#include "quenbar-snr/snr_measure.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <span>

#include "audiomeasure_version.h"
#include "common/json.h"
#include "common/record.h"
#include "common/report_text.h"
#include "quenbar/stream.h"
#include "synth.h"

namespace cli {
namespace {

// The lag in milliseconds.
double lag_ms(const SnrReport& r) {
  return static_cast<double>(r.lag.samples) * 1000.0 / static_cast<double>(r.gate.rate);
}

}  // namespace

void check_snr_inputs(const AudioInfo& gate, const AudioInfo& measured, bool align) {
  if (gate.rate != measured.rate) {
    throw InputError(gate.path + " is at " + std::to_string(gate.rate) + " Hz but " +
                     measured.path + " at " + std::to_string(measured.rate) +
                     " Hz; both must have one rate (--resample converts MEASURED to GATE's)");
  }
  const double L = quenbar::frame_length(gate.rate);
  if (!quenbar::usable_frame_length(L)) {
    throw InputError(gate.path + ": sample rate " + std::to_string(gate.rate) +
                     " Hz; a 5 ms frame needs at least " +
                     std::to_string(static_cast<int>(quenbar::kMinRate)) + " Hz");
  }
  const double F = quenbar::frame_count(static_cast<double>(gate.frames), L);
  const auto len = static_cast<std::int64_t>(L);
  if (F < 1.0) {
    throw InputError(gate.path + ": " + std::to_string(gate.frames) +
                     " samples, fewer than one 5 ms frame (" + std::to_string(len) + " at " +
                     std::to_string(gate.rate) + " Hz)");
  }
  const std::int64_t need = quenbar::frames_span(F, L);
  // A gate of unknown length is checked again once it has been read.
  if (!align && gate.frames != kUnknownFrames && measured.frames < need) {
    throw InputError(measured.path + ": " + std::to_string(measured.frames) +
                     " samples; the gate's " + std::to_string(static_cast<std::int64_t>(F)) +
                     " whole frames need " + std::to_string(need));
  }
}

namespace {

// Samples in chunk-sized views: from a file as it is decoded, or from
// memory. The opening, read first for the lag, is kept and handed out again
// before the rest.
class Reader {
 public:
  explicit Reader(InputFile& file) : file_(&file), info_(file.info()) { buffer_.resize(kChunk); }
  explicit Reader(const Audio& audio) : audio_(&audio), info_(audio.info) {}

  // The first n samples, or all there are.
  std::span<const double> opening(std::size_t n) {
    opening_.resize(n);
    std::size_t got = 0;
    while (got < n) {
      const std::span<const double> s = raw(n - got);
      if (s.empty()) {
        break;
      }
      std::copy(s.begin(), s.end(), opening_.begin() + static_cast<std::ptrdiff_t>(got));
      got += s.size();
    }
    opening_.resize(got);
    return opening_;
  }

  // The next samples, at most `max` (at least one unless the end is
  // reached): a view valid until the next call.
  std::span<const double> next(std::size_t max) {
    if (opening_at_ < opening_.size()) {
      const std::size_t n = std::min(max, opening_.size() - opening_at_);
      const std::span<const double> s(opening_.data() + opening_at_, n);
      opening_at_ += n;
      return s;
    }
    return raw(max);
  }

  // Skips n samples; false when the signal ends first.
  bool skip(std::int64_t n) {
    while (n > 0) {
      const std::size_t got =
          next(static_cast<std::size_t>(std::min<std::int64_t>(n, kChunk))).size();
      if (got == 0) {
        return false;
      }
      n -= static_cast<std::int64_t>(got);
    }
    return true;
  }

  // Reads to the end (the checks of reading included).
  void drain() {
    while (!next(kChunk).empty()) {
    }
  }

  // Once drained: the file's description with the lengths read, and its
  // first non-finite sample at its own rate (a resampled file).
  AudioInfo info() const {
    AudioInfo a = info_;
    if (file_ != nullptr && ended_) {
      a.frames = file_->chunk_samples();
      if (a.resampled_from_rate != 0) {
        a.resampled_from_frames = file_->chunk_file_frames();
      }
    }
    return a;
  }
  std::int64_t file_non_finite() const {
    return file_ != nullptr ? file_->file_non_finite() : audio_->file_non_finite;
  }

 private:
  static constexpr std::size_t kChunk = 65536;

  std::span<const double> raw(std::size_t max) {
    if (file_ == nullptr) {
      const std::size_t n = std::min(max, audio_->samples.size() - audio_at_);
      const std::span<const double> s(audio_->samples.data() + audio_at_, n);
      audio_at_ += n;
      return s;
    }
    const std::size_t n = file_->read_chunk(std::span(buffer_).first(std::min(max, kChunk)));
    ended_ = ended_ || (n == 0 && max > 0);
    return {buffer_.data(), n};
  }

  InputFile* file_ = nullptr;
  const Audio* audio_ = nullptr;
  AudioInfo info_;
  std::vector<double> buffer_;
  std::size_t audio_at_ = 0;
  std::vector<double> opening_;
  std::size_t opening_at_ = 0;
  bool ended_ = false;  // the file is read to its end
};

// The first non-finite sample of `s`, which starts at sample `at` of its
// file, unless one was found before.
void note_non_finite(std::optional<NonFiniteSample>& found, const char* role, const AudioInfo& file,
                     std::span<const double> s, std::int64_t at) {
  if (!found) {
    found = first_non_finite(role, file, s, at);
  }
}

SnrReport measure(Reader& gate, Reader& measured, bool align) {
  const AudioInfo gi = gate.info();
  check_snr_inputs(gi, measured.info(), align);
  SnrReport r;
  const int rate = gi.rate;
  const auto opening = static_cast<std::size_t>(lag_opening(rate));
  const std::span<const double> go = gate.opening(opening);
  std::span<const double> mo;
  std::exception_ptr measured_error;
  try {
    mo = measured.opening(opening);
  } catch (const InputError&) {
    measured_error = std::current_exception();
  }
  if (measured_error) {
    gate.drain();
    std::rethrow_exception(measured_error);
  }
  r.lag = estimate_lag(go, mo, rate);
  if (align) {
    r.aligned = true;
    r.gate_first = std::max<std::int64_t>(0, -r.lag.samples);
    r.measured_first = std::max<std::int64_t>(0, r.lag.samples);
  }

  // The pairs (gate[i], measured[i + d]) for i >= max(0, -d), fed to the
  // estimate as they are read, up to the end of the shorter signal; both
  // files are then read to their ends. An error reading the measured file
  // waits until the gate is read, whose own error comes first.
  quenbar::Stream stream(static_cast<double>(rate));
  std::optional<NonFiniteSample> gate_bad;
  std::optional<NonFiniteSample> measured_bad;
  const AudioInfo mi = measured.info();
  constexpr std::size_t kPairs = 65536;  // pairs fed at most at a time
  bool more = gate.skip(r.gate_first);
  try {
    more = measured.skip(r.measured_first) && more;
    std::span<const double> g;
    std::span<const double> m;
    while (more) {
      if (g.empty()) {
        g = gate.next(kPairs);
      }
      if (m.empty()) {
        m = measured.next(kPairs);
      }
      if (g.empty() || m.empty()) {
        break;
      }
      const std::size_t n = std::min(g.size(), m.size());
      note_non_finite(gate_bad, "gate", gi, g.first(n), r.gate_first + stream.samples());
      note_non_finite(measured_bad, "measured", mi, m.first(n),
                      r.measured_first + stream.samples());
      stream.feed(g.first(n), m.first(n));
      g = g.subspan(n);
      m = m.subspan(n);
    }
    measured.drain();
  } catch (const InputError&) {
    measured_error = std::current_exception();
  }
  gate.drain();
  if (measured_error) {
    std::rethrow_exception(measured_error);
  }
  r.gate = gate.info();
  r.measured = measured.info();
  check_snr_inputs(r.gate, r.measured, align);

  auto n_gate = r.gate.frames;
  if (align) {
    n_gate = std::min(n_gate - r.gate_first, r.measured.frames - r.measured_first);
  }
  r.gate_samples = n_gate;
  const double L = quenbar::frame_length(rate);
  const double F = quenbar::frame_count(static_cast<double>(n_gate), L);
  if (F < 1.0) {
    throw InputError(r.gate.path + ": shifted by the lag of " + std::to_string(r.lag.samples) +
                     " samples (--align), the files share fewer samples than one 5 ms frame (" +
                     std::to_string(static_cast<std::int64_t>(L)) + ")");
  }
  // Only the samples the frames cover count: gate's first, then measured's.
  const std::int64_t used = quenbar::frames_span(F, L);
  if (gate_bad && gate_bad->position < r.gate_first + used) {
    r.non_finite = gate_bad;
  } else if (measured_bad && measured_bad->position < r.measured_first + used) {
    r.non_finite = measured_bad;
    if (r.measured.resampled_from_rate != 0) {
      r.non_finite->position = measured.file_non_finite();
      r.non_finite->file_rate = r.measured.resampled_from_rate;
    }
  }
  r.estimate = stream.finish();
  return r;
}

}  // namespace

SnrReport measure_snr(InputFile& gate, InputFile& measured, bool align) {
  Reader g(gate);
  Reader m(measured);
  return measure(g, m, align);
}

SnrReport measure_snr(const Audio& gate, const Audio& measured, bool align) {
  Reader g(gate);
  Reader m(measured);
  return measure(g, m, align);
}

SnrReport measure_snr(const Audio& gate, InputFile& measured, bool align) {
  Reader g(gate);
  Reader m(measured);
  return measure(g, m, align);
}

const char* snr_verdict(const SnrReport& r) {
  if (r.non_finite) {
    return "non_finite_samples";
  }
  return r.estimate.diagnostics.reason == quenbar::Reason::kFinite ? "finite" : "not_finite";
}

std::string lag_warning(const SnrReport& r) {
  if (r.lag.samples == 0 || r.aligned) {
    return "";
  }
  char b[300];
  std::snprintf(b, sizeof(b),
                "warning: %s lags %s by %lld samples (%.3f ms): their frames are not aligned, "
                "which lowers the SNR; --align shifts it by the lag",
                r.measured.path.c_str(), r.gate.path.c_str(), static_cast<long long>(r.lag.samples),
                lag_ms(r));
  return b;
}

void print_snr_table(std::FILE* out, const SnrReport& r) {
  const quenbar::Diagnostics& d = r.estimate.diagnostics;
  std::fprintf(out, "gate      %s\n", describe_file(r.gate).c_str());
  std::fprintf(out, "measured  %s\n\n", describe_file(r.measured).c_str());
  std::fprintf(out, "SNR             %s dB\n", number_text(r.estimate.snr_db).c_str());
  const auto len = static_cast<std::int64_t>(d.frame_length);
  const auto frames = static_cast<std::int64_t>(d.frame_count);
  std::fprintf(out,
               "frames          %lld of %lld samples (5 ms at %d Hz); %lld gate samples after the "
               "last whole frame ignored\n",
               static_cast<long long>(frames), static_cast<long long>(len), r.gate.rate,
               static_cast<long long>(r.gate_samples - frames * len));
  std::fprintf(out,
               "active frames   %s of %lld (activity factor %s): smoothed gate level above "
               "-70 dB\n",
               number_text(d.active_frames, "%.0f").c_str(), static_cast<long long>(frames),
               number_text(d.activity_factor, "%.4f").c_str());
  std::fprintf(out,
               "noise power     %s dB re 32767^2: the measured signal's mean power in the "
               "inactive frames\n",
               number_text(d.noise_power_db).c_str());
  std::fprintf(out,
               "signal power    %s dB re 32767^2: its mean power in the active frames, less the "
               "noise power\n",
               number_text(d.signal_power_db).c_str());
  std::fprintf(out, "lag             %lld samples (%.3f ms) of measured behind gate",
               static_cast<long long>(r.lag.samples), lag_ms(r));
  if (r.aligned) {
    std::fprintf(out,
                 "; aligned by it (--align): gate from sample %lld, measured from sample %lld\n\n",
                 static_cast<long long>(r.gate_first), static_cast<long long>(r.measured_first));
  } else if (r.lag.samples != 0) {
    std::fprintf(out, "; NOT corrected (--align shifts it)\n\n");
  } else {
    std::fprintf(out, "\n\n");
  }
  if (r.non_finite) {
    std::fprintf(out, "result          NOT USABLE: %s\n", non_finite_text(*r.non_finite).c_str());
  } else if (d.reason == quenbar::Reason::kFinite) {
    std::fprintf(out, "result          finite\n");
  } else {
    std::fprintf(out, "result          %s: %s\n", number_text(r.estimate.snr_db).c_str(),
                 quenbar::reason_text(d.reason).text);
  }
}

std::string snr_json(const SnrReport& r) {
  const quenbar::Diagnostics& d = r.estimate.diagnostics;
  Json j;
  j.begin_object();
  j.key("schema").value("quenbar-snr/1");
  file_json(j, "gate", r.gate);
  file_json(j, "measured", r.measured);
  j.key("rate_hz").value(r.gate.rate);
  j.key("snr_db").value(r.estimate.snr_db);
  j.key("reason").value(quenbar::reason_text(d.reason).name);
  j.key("diagnostics").begin_object();
  j.key("frame_length").value(d.frame_length);
  j.key("frame_count").value(d.frame_count);
  j.key("active_frames").value(d.active_frames);
  j.key("activity_factor").value(d.activity_factor);
  j.key("active_power_sum").value(d.active_power_sum);
  j.key("inactive_power_sum").value(d.inactive_power_sum);
  j.key("noise_power").value(d.noise_power);
  j.key("signal_power").value(d.signal_power);
  j.key("noise_power_db").value(d.noise_power_db);
  j.key("signal_power_db").value(d.signal_power_db);
  j.end_object();
  j.key("verdict").value(snr_verdict(r));
  non_finite_json(j, "non_finite_sample", r.non_finite);
  j.key("lag").begin_object();
  j.key("samples").value(r.lag.samples);
  j.key("ms").value(lag_ms(r));
  j.key("window_samples").value(r.lag.window);
  j.key("max_lag_samples").value(r.lag.max_lag);
  j.key("aligned").value(r.aligned);
  j.key("gate_first_sample").value(r.gate_first);
  j.key("measured_first_sample").value(r.measured_first);
  j.end_object();
  j.key("version").value(AUDIOMEASURE_VERSION);
  j.end_object();
  return j.str();
}

std::vector<std::string> write_snr_demo(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    throw OutputError(dir + ": cannot make the folder: " + ec.message());
  }
  constexpr int kRate = 48000;
  constexpr double kSeconds = 20.0;
  constexpr double kSnrDb = 20.0;
  const synth::SnrScene scene = synth::speech_in_noise(kRate, kSeconds, kSnrDb, 1);
  const std::string gate_path = (std::filesystem::path(dir) / "gate.wav").string();
  const std::string measured_path = (std::filesystem::path(dir) / "measured.wav").string();
  write_wav16(gate_path, scene.gate, kRate);
  write_wav16(measured_path, scene.measured, kRate);
  return {
      gate_path + ": speech-like bursts with silent pauses, 20 s",
      measured_path + ": the same bursts in white noise, 16-bit PCM at 48000 Hz",
      "true SNR 20 dB: the bursts' mean power over the noise power",
  };
}

}  // namespace cli
