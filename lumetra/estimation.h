// Internal core of lumetra_estimation: the estimate together with the
// quantities behind it, for the tests, a fuzz harness and host diagnostics.
// The exported function is a thin wrapper over estimate() in the static
// workspace. The core keeps no state: estimations on separate workspaces
// may run at the same time.
//
// Sample positions count from 0; onset frames and the correlation peak index
// count from 1, as the outputs of the procedure have always named them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>

#include "emx_runtime.h"
#include "lumetra/constants.h"
#include "lumetra/kernels.h"
#include "spectral/engine.h"

namespace lumetra {

// Onset frames of the coarse alignment, 1-based; 0 when none was found.
struct Onsets {
  std::int32_t reference;
  std::int32_t recording;
};

// Coarse alignment on the 240-sample grid. Finds where sustained activity
// begins in the reference (frame level above -50 dB re 1.0) and in sig_tmp
// (above its own overall level less 12 dB), writes
//   *delay = 240 (reference onset - recording onset), samples,
//   *delay_too_large = 1.0 when *delay > 360000, else 0.0,
// and fills b_sig_tmp with sig_tmp moved later by *delay samples (earlier
// when it is negative), 0.0 where no sample lands. Returns the onsets.
// Frames read reference positions up to 720000; positions the reference does
// not hold (a reference of 720000 samples or fewer) count as 0.0, exactly as
// sig_tmp's position 720000 does. sig_tmp and b_sig_tmp must not overlap.
Onsets crude_align(std::span<const double> reference, double* delay, double* delay_too_large,
                   std::span<const double, kSpan> sig_tmp, std::span<double, kSpan> b_sig_tmp,
                   const kernels::Table& kernels = kernels::best()) noexcept;

// The first largest correlation magnitude: index 1-based.
struct Peak {
  std::int32_t index;
  double value;
};

// NaN-aware first maximum: the first non-NaN value, then only strictly
// greater ones. All NaN gives index 1 and that NaN.
Peak find_peak(std::span<const double, kLags> magnitudes,
               const kernels::Table& kernels = kernels::best()) noexcept;

// True when the trust window, kTrustHalfWidth values each side of the peak,
// lies inside the correlation.
constexpr bool trust_window_fits(std::int32_t peak_index) noexcept {
  return peak_index >= kFirstTrustedPeak && peak_index <= kLastTrustedPeak;
}

// (sum of the window - peak) / (peak * 480000), the window summed in index
// order. The window must fit (trust_window_fits).
double trust_ratio(std::span<const double, kLags> magnitudes, Peak peak) noexcept;

// stepMode 0.0 selects 25.2 s steps; any other value, NaN included, 24.7 s.
double step_period(double stepMode) noexcept;

// Start of step k in samples after the span: floor((k * period) * 48000),
// each product rounded.
std::int64_t step_boundary(double period, int k) noexcept;

// Shortest reference the procedure can read: position 720000 for the coarse
// alignment and all of steps 1 to 10.
std::int64_t required_reference_length(double period) noexcept;

// Positions [first, first + count) of the aligned recording.
struct Stretch {
  std::int64_t first;
  std::int64_t count;
};

struct StepLayout {
  Stretch step[kSteps];
  Stretch settled[kSteps];      // the last ceil(count / 2) samples of the step
  std::int64_t blocks[kSteps];  // whole 2400-sample blocks of the settled half
};

// The 11 steps over an aligned recording of `length` samples (at least
// required_reference_length(period)). Step 11 runs to the end and is empty
// when the recording ends with step 10.
StepLayout step_layout(double period, std::int64_t length) noexcept;

// The aligned recording as a view: position p holds data[p] for p < valid
// and 0.0 for valid <= p < length.
struct Aligned {
  const double* data;
  std::int64_t length;
  std::int64_t valid;
};

struct Levels {
  double step_level[kSteps];  // dB re 32767 of each settled half; NaN when empty
  double step_range[kSteps];  // highest minus lowest block level; -120 without a block
  double peak_level;          // dB re 32767 of the largest sample (+1e-6), signed
};

// Step levels, block spreads and the peak level of an aligned recording.
Levels measure(const Aligned& aligned, const StepLayout& layout,
               const kernels::Table& kernels = kernels::best()) noexcept;

// Lowest and highest 50 ms block level of one settled half, blocks added in
// order. A NaN level changes neither; without any block the spread is the
// floor.
struct BlockSpread {
  double lo = kRangeLowStart;
  double hi = kFloorDb;
  // Adds the block whose sum of squares is block_sum.
  void add(double block_sum) noexcept;
  double range(std::int64_t blocks) const noexcept { return blocks < 1 ? kFloorDb : hi - lo; }
};

// measure() in a streaming form: fed the aligned recording in order, in
// chunks of any size, finish() gives measure()'s Levels bit for bit on the
// whole array. Positions from the last one fed up to `length` count as 0.0,
// as the whole-array form's tail past the recording does; samples fed past
// `length` are ignored. Each sum is still one accumulator, first to last.
// Memory is fixed, whatever the length.
class StepMeter {
 public:
  StepMeter(const StepLayout& layout, std::int64_t length,
            const kernels::Table& kernels = kernels::best()) noexcept;
  void feed(std::span<const double> chunk) noexcept;
  std::int64_t position() const noexcept { return position_; }  // samples fed so far
  Levels finish() const noexcept;

 private:
  struct Step {
    double sum = 0.0;    // squares of the settled half fed so far
    double block = 0.0;  // squares of the current block fed so far
    BlockSpread spread;  // of the blocks completed so far
  };
  StepLayout layout_;
  std::int64_t length_;
  const kernels::Table* kernels_;
  Step steps_[kSteps];
  std::int64_t position_ = 0;
  double high_;              // largest non-NaN sample fed so far; -Inf when none
  bool any_number_ = false;  // some sample fed is not NaN (looked at only while high_ is -Inf)
  double first_;             // the first sample fed (NaN before)
};

// Why `failed` is set; several may hold at once.
enum Cause : std::uint32_t {
  kUnreadableInput = 1u << 0,   // null record, null data, unreadable extents
  kShortInput = 1u << 1,        // shorter than the procedure reads
  kCoarseTooLarge = 1u << 2,    // coarse delay above 360000 samples
  kDelayOutOfRange = 1u << 3,   // |totalDelay| above 240000 samples
  kPeakNearEnd = 1u << 4,       // the trust window would leave the correlation
  kPeakNotProminent = 1u << 5,  // trust ratio above kTrustLimit
  kNotLagging = 1u << 6,        // totalDelay <= 0: the recording does not lag
  kNoUsableBlock = 1u << 7,     // every stepRange below 0: no block level at all
};

// Each cause with its stable name (hosts and the tools' JSON match on it)
// and one sentence for people. The sentences hold no figure of one call:
// a host that shows the delay or the ratio adds it.
struct CauseText {
  Cause bit;
  const char* name;
  const char* text;
};

// Every cause, in bit order.
inline constexpr CauseText kCauseTexts[] = {
    {kUnreadableInput, "unreadable_input", "an input cannot be read as a record of samples"},
    {kShortInput, "short_input", "an input is shorter than the procedure reads"},
    {kCoarseTooLarge, "coarse_delay_too_large",
     "the coarse delay is above half the alignment span: activity starts far later in the "
     "reference than in the recording"},
    {kDelayOutOfRange, "delay_out_of_range",
     "the total delay is beyond the largest accepted delay"},
    {kPeakNearEnd, "peak_near_end",
     "the correlation peak lies so near an end of the correlation that its surroundings cannot "
     "be judged"},
    {kPeakNotProminent, "peak_not_prominent",
     "the correlation peak does not stand out: the trust ratio is above its limit"},
    {kNotLagging, "not_lagging",
     "the recording does not lag the reference (it must be at least 1 sample late)"},
    {kNoUsableBlock, "no_usable_block", "no step has a usable 50 ms block level"},
};
static_assert(std::size(kCauseTexts) == 8);
static_assert([] {
  for (std::size_t i = 0; i < std::size(kCauseTexts); ++i) {
    if (kCauseTexts[i].bit != (1u << i)) {
      return false;
    }
  }
  return true;
}());

// How the aligned recording was filled from the recording. A recording that
// ends before the aligned start cannot occur: it holds at least 720000
// samples and a trusted totalDelay is at most 240000.
enum class Copy : std::uint8_t {
  kFailed,  // all 0.0: the alignment failed (or the input was refused)
  kWhole,   // every position from the recording
  kHead,    // the recording ends inside: the tail is 0.0
};

struct Diagnostics {
  Onsets onsets;            // 0 when not found or not reached
  double coarse_delay;      // samples, a multiple of 240; NaN when not reached
  double coarse_too_large;  // 1.0 or 0.0; NaN when not reached
  Peak peak;                // 1-based index; {0, NaN} when not reached
  double trust_ratio;       // NaN when the test was not reached (or is NaN)
  double total_delay;       // samples the recording lags the reference; NaN when not reached
  Copy copy;
  std::int64_t aligned_samples;  // aligned positions that hold recording samples
  std::uint32_t causes;          // Cause bits; failed is 1.0 exactly when non-zero

  double total_delay_ms() const noexcept { return total_delay / (kRate / 1000.0); }
};

struct Estimate {
  double step_level[kSteps];
  double step_range[kSteps];
  double peak_level;
  double failed;
  Diagnostics diagnostics;
};

// The full cross-correlation used for the fine alignment: x, y kSpan
// samples, r kLags values, r overlapping neither.
using Correlator = void (*)(const double* x, const double* y, double* r) noexcept;

// The working memory of an estimation: a spectral workspace and the tables.
// The estimation's own arrays lie in the first work array, where the
// correlation allows its second input and its output (Engine::correlate):
// the coarsely moved recording opening (kSpan doubles) from its start, the
// correlation magnitudes (kLags) after it, 64-byte aligned.
struct Workspace {
  spectral::Workspace spectral;
  const spectral::Tables* tables;
};
inline constexpr long kMovedOpeningAt = 0;
inline constexpr long kMagnitudesAt = kSpan;
static_assert(kMagnitudesAt % spectral::kChunkDoubles == 0);
static_assert(kMagnitudesAt + kLags <= spectral::kWorkDoubles);

// The static workspace of lumetra_estimation (defined beside it, so only the
// fixed library and programs that link its entry point have it): the
// spectral toolkit's static arrays and tables, built on the first call. Not
// reentrant.
const Workspace& static_workspace() noexcept;

// A workspace of its own on the heap: one block of
// spectral::kWorkspaceDoubles doubles (about 67.7 MB, 2 MiB aligned, on huge
// pages where the kernel offers them) allocated by the constructor, with the
// process's shared tables (built by the first one made); given back by the
// destructor, which keeps up to two such blocks for the next workspaces
// (their pages already faulted in) and frees the rest. False when the memory
// for either cannot be had (nothing is thrown; the allocations go through
// runtime/alloc.h, and taking a kept block counts as one for its seam).
class HeapWorkspace {
 public:
  HeapWorkspace() noexcept;
  ~HeapWorkspace();
  HeapWorkspace(const HeapWorkspace&) = delete;
  HeapWorkspace& operator=(const HeapWorkspace&) = delete;

  explicit operator bool() const noexcept { return block_ != nullptr; }
  const Workspace& get() const noexcept { return workspace_; }

 private:
  double* block_ = nullptr;
  Workspace workspace_{};
};

struct Options {
  Correlator correlate = nullptr;           // nullptr: spectral::cross_correlate
  const kernels::Table* kernels = nullptr;  // nullptr: kernels::best()
};

// estimate() in a streaming form, for hosts that decode the signals as they
// measure. The constructor aligns from the two openings and the reference's
// length (the alignment, the trust test and the aligned start: d.total_delay,
// known then); the recording is then fed in order from its position 0 (the
// opening again included), in chunks of any size, and ends where the feeding
// stops: finish() gives estimate()'s outputs and diagnostics, bit for bit,
// for a recording of the samples fed. reference_opening holds the
// reference's first kSpan + 1 samples, recording_opening the recording's
// first kSpan. A reference estimate() would refuse (a length below its
// minimum, or negative), and openings shorter than that, are refused the
// same way (kShortInput; nothing is read). Memory is fixed, whatever the
// lengths. Only the constructor uses the workspace: it is free again once
// the constructor returns.
class EstimateStream {
 public:
  EstimateStream(std::span<const double> reference_opening,
                 std::span<const double> recording_opening, std::int64_t n_ref, double stepMode,
                 const Workspace& workspace, const Options& options = {}) noexcept;
  // The alignment's diagnostics: copy and aligned_samples as if the
  // recording went on past the reference's end.
  const Diagnostics& alignment() const noexcept { return estimate_.diagnostics; }
  void feed_recording(std::span<const double> chunk) noexcept;
  Estimate finish() const noexcept;

 private:
  Estimate estimate_{};
  std::uint32_t causes_ = 0;
  bool refused_ = false;
  std::int64_t n_ref_ = 0;
  std::int64_t start_ = 0;  // recording position of aligned position 0
  std::int64_t valid_ = 0;  // aligned positions the meter takes at most
  std::int64_t fed_ = 0;    // recording samples fed so far
  StepMeter meter_;
};

// lumetra_estimation's outputs, bit for bit, with their diagnostics. Bad
// input (null or unreadable records, a reference shorter than
// required_reference_length, a recording shorter than 720000 samples) gives
// failed 1.0 and NaN levels without reading either array, nor the workspace.
// Calls may overlap when each has its own workspace.
Estimate estimate(const emxArray_real_T* reference, const emxArray_real_T* recording,
                  double stepMode, const Workspace& workspace,
                  const Options& options = {}) noexcept;

}  // namespace lumetra
