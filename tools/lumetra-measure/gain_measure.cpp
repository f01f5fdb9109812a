#include "lumetra-measure/gain_measure.h"

#include <cmath>
#include <limits>
#include <span>

#include "common/command_line.h"

namespace cli {

void check_gain_inputs(const AudioInfo& reference, const AudioInfo& recording, int step_period) {
  constexpr int kRate = AM_GAIN_RATE;
  for (const AudioInfo* a : {&reference, &recording}) {
    if (a->rate != kRate) {
      throw InputError(a->path + ": sample rate " + std::to_string(a->rate) +
                       " Hz; lumetra measures " + std::to_string(kRate) +
                       " Hz only (--resample converts it)");
    }
  }
  // Without a period given, the reference must hold the shorter layout.
  const std::int64_t need = am_gain_reference_minimum(step_period);
  const int layout = step_period == AM_PERIOD_AUTO ? AM_PERIOD_24_7 : step_period;
  if (reference.frames < need) {
    throw InputError(reference.path + ": " + std::to_string(reference.frames) + " samples (" +
                     duration_text(reference.frames, kRate) + "); a reference with " +
                     am_enum_name(AM_ENUM_PERIOD, layout) + " s steps needs at least " +
                     std::to_string(need) + " (" + duration_text(need, kRate) + "): the " +
                     seconds_text(AM_GAIN_SPAN, kRate) + " opening and " +
                     std::to_string(AM_STEPS - 1) + " whole steps");
  }
  if (recording.frames < AM_GAIN_SPAN) {
    throw InputError(recording.path + ": " + std::to_string(recording.frames) + " samples (" +
                     duration_text(recording.frames, kRate) + "); a recording needs at least " +
                     std::to_string(AM_GAIN_SPAN) + " (" + seconds_text(AM_GAIN_SPAN, kRate) +
                     ") to be aligned");
  }
}

namespace {

// A reference of `length` samples, created and fed `source` to its end.
std::unique_ptr<am_gain_reference, GainReference::Release> fed_reference(
    SampleSource& source, std::int64_t length, const am_gain_options& options) {
  const std::string& path = source.info().path;
  am_gain_reference* created = nullptr;
  check_status(am_gain_reference_create(&options, length, &created), path);
  std::unique_ptr<am_gain_reference, GainReference::Release> reference(created);
  for (std::span<const double> c = source.next(); !c.empty(); c = source.next()) {
    check_status(am_gain_reference_feed(created, c.data(), static_cast<std::int64_t>(c.size())),
                 path);
  }
  return reference;
}

}  // namespace

GainReference prepare_reference(SampleSource& file, const am_gain_options& options) {
  const int step_period = options.step_period;
  const std::string path = file.info().path;
  // The library is told the reference's length before its samples: one
  // whose header gives none is read whole first.
  Audio whole;
  std::optional<SampleSource> held;
  SampleSource* source = &file;
  if (file.info().frames == kUnknownFrames) {
    whole = file.read_all();
    check_gain_inputs(whole.info, whole.info, step_period);
    source = &held.emplace(whole);
  }
  GainReference r;
  r.options = options;
  const std::int64_t announced = source->info().frames;
  r.prepared = fed_reference(*source, announced, options);
  if (source->info().frames < announced) {
    // The file ended before its header's length, which the library was
    // told (a FLAC or CAF file cut short shows it only at its end): it is
    // checked and read again into a reference of the length it holds.
    check_gain_inputs(source->info(), source->info(), step_period);
    const std::int64_t length = source->info().frames;
    r.prepared.reset();
    source = &held.emplace(source->again());
    r.prepared = fed_reference(*source, length, options);
  }
  check_status(am_gain_reference_finish(r.prepared.get()), path);
  r.info = source->info();
  r.file_non_finite = source->file_non_finite();
  return r;
}

GainModel measure_gain(const GainReference& reference, SampleSource& recording) {
  const std::string path = recording.info().path;
  struct Release {
    void operator()(am_gain_measurement* m) const { am_gain_destroy(m); }
  };
  am_gain_measurement* created = nullptr;
  check_status(am_gain_create(reference.prepared.get(), &created), path);
  const std::unique_ptr<am_gain_measurement, Release> measurement(created);
  for (std::span<const double> c = recording.next(); !c.empty(); c = recording.next()) {
    check_status(am_gain_feed_recording(created, c.data(), static_cast<std::int64_t>(c.size())),
                 path);
  }
  GainModel m;
  m.reference = reference.info;
  m.recording = recording.info();
  m.options = reference.options;
  // A recording whose header gave no length meets its checks now.
  check_gain_inputs(m.reference, m.recording, reference.options.step_period);
  am_gain_report_init(&m.report);
  check_status(am_gain_finish(created, &m.report), path);
  const bool in_reference = m.report.non_finite_signal == AM_SIGNAL_REFERENCE;
  m.non_finite =
      non_finite_sample(m.report.non_finite_signal, m.report.non_finite_position,
                        m.report.non_finite_value, in_reference ? m.reference : m.recording,
                        in_reference ? reference.file_non_finite : recording.file_non_finite());
  return m;
}

Judgement judge_gain(const am_gain_report& report, const am_gain_limits& limits,
                     const std::string& file) {
  am_judgement judged;
  am_judgement_init(&judged);
  check_status(am_gain_judge(&report, &limits, &judged), file);
  const am_gain_report& r = report;
  const am_gain_limits& l = limits;
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  std::vector<CheckFigure> figures;
  for (int check : {AM_CHECK_GAIN, AM_CHECK_SPREAD, AM_CHECK_NOISE_DISTORTION, AM_CHECK_CLIPPED}) {
    for (int k = 0; k < AM_STEPS; ++k) {
      // The library judges a step only where it has a settled half.
      if (r.step_samples[k] == 0 || std::isnan(r.coverage[k])) {
        continue;
      }
      switch (check) {
        case AM_CHECK_GAIN:
          figures.push_back({check, k + 1, r.gain[k], l.gain_min_db[k], l.gain_max_db[k]});
          break;
        case AM_CHECK_SPREAD:
          figures.push_back({check, k + 1, r.step_range[k], kNone, l.spread_max_db[k]});
          break;
        case AM_CHECK_NOISE_DISTORTION:
          figures.push_back(
              {check, k + 1, r.noise_distortion_db[k], kNone, l.noise_distortion_max_db[k]});
          break;
        default:
          figures.push_back(
              {check, k + 1, static_cast<double>(r.clipped_samples[k]), kNone, l.clipped_max[k]});
          break;
      }
    }
  }
  figures.push_back({AM_CHECK_DELAY, 0, std::fabs(r.total_delay), kNone, l.delay_max_samples});
  figures.push_back({AM_CHECK_DRIFT, 0, std::fabs(r.drift_ppm), kNone, l.drift_max_ppm});
  return judgement(file, judged, figures);
}

int exit_status(const GainModel& m) {
  if (m.report.verdict != AM_VERDICT_TRUSTED) {
    return kExitNotTrusted;
  }
  return m.limits && m.limits->outcome == AM_LIMITS_FAIL ? kExitReject : kExitTrusted;
}

}  // namespace cli
