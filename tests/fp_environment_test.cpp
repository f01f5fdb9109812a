// The libraries' results must not depend on the calling thread's
// floating-point state: audio hosts enable flush-to-zero and
// denormals-are-zero, test frameworks change the rounding, MSVC programs run
// the x87 unit at 53 bits and MinGW programs at 64. Every fixed case of the
// shipped libraries (support/library_cases, subnormal values among them)
// runs with its calls, and only them, in each such state and must give the
// bits of the default state.
// After every call the caller's MXCSR must be as the caller left it, status
// flags included, and so must the x87 control word, with no x87 exception
// left pending.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/common.h"
#include "support/library_cases.h"

namespace {

constexpr std::uint32_t kMxcsrFlags = 0x003F;
constexpr std::uint32_t kMxcsrMasks = 0x1F80;
constexpr std::uint32_t kFlushAndDenormalsAreZero = 0x8040;  // FTZ (bit 15), DAZ (bit 6)
constexpr std::uint16_t kCwMasks = 0x003F;
constexpr std::uint16_t kCwPrecision = 0x0300;  // 10: 53 bits, 11: 64 bits

// A state of the calling thread: the rounding direction (fesetround sets the
// x87 and the SSE rounding), then MXCSR and x87 control word bits.
struct State {
  const char* name;
  int rounding;
  std::uint32_t mxcsr_set;
  std::uint32_t mxcsr_clear;
  std::uint16_t cw_set;
  std::uint16_t cw_clear;
};

const State kStates[] = {
    {"default", FE_TONEAREST, 0, 0, 0, 0},
    {"flush-to-zero and denormals-are-zero", FE_TONEAREST, kFlushAndDenormalsAreZero, 0, 0, 0},
    {"rounding down", FE_DOWNWARD, 0, 0, 0, 0},
    {"rounding up", FE_UPWARD, 0, 0, 0, 0},
    {"rounding toward zero", FE_TOWARDZERO, 0, 0, 0, 0},
    {"every exception unmasked", FE_TONEAREST, 0, kMxcsrMasks, 0, kCwMasks},
    {"x87 at 53-bit precision", FE_TONEAREST, 0, 0, 0x0200, kCwPrecision},
    {"x87 at 64-bit precision", FE_TONEAREST, 0, 0, 0x0300, 0},
    {"all at once: rounding down, flush-to-zero, denormals-are-zero", FE_DOWNWARD,
     kFlushAndDenormalsAreZero, 0, 0, 0},
};

std::uint16_t control_word() {
  std::uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
std::uint16_t status_word() {
  std::uint16_t sw;
  __asm__ volatile("fnstsw %0" : "=m"(sw));
  return sw;
}
void load_control_word(std::uint16_t cw) {
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw));
}

// Puts the thread into the state before each call and checks it after.
class StateHooks : public cases::CallHooks {
 public:
  explicit StateHooks(const State& state) : state_(state) {}

  void enter() override {
    std::fesetround(state_.rounding);
    _mm_setcsr((_mm_getcsr() | state_.mxcsr_set) & ~(state_.mxcsr_clear | kMxcsrFlags));
    load_control_word(
        static_cast<std::uint16_t>((control_word() | state_.cw_set) & ~state_.cw_clear));
    mxcsr_ = _mm_getcsr();
    cw_ = control_word();
  }

  void leave(const char* entry_point) override {
    const std::uint32_t mxcsr = _mm_getcsr();
    const std::uint16_t cw = control_word();
    const std::uint16_t pending = status_word() & ~cw & kCwMasks;
    load_control_word(default_cw_);
    _mm_setcsr(default_mxcsr_);
    ++calls_;
    if ((mxcsr != mxcsr_ || cw != cw_ || pending != 0) && ++failed_calls_ <= kReported) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "%s: MXCSR %04X (was %04X), x87 control word %04X (was %04X), pending %02X",
                    entry_point, mxcsr, mxcsr_, cw, cw_, pending);
      failures_.push_back(line);
    }
  }

  int calls() const { return calls_; }
  int failed_calls() const { return failed_calls_; }
  const std::vector<std::string>& failures() const { return failures_; }

 private:
  const State& state_;
  const std::uint32_t default_mxcsr_ = _mm_getcsr();
  const std::uint16_t default_cw_ = control_word();
  std::uint32_t mxcsr_ = 0;
  std::uint16_t cw_ = 0;
  int calls_ = 0;
  int failed_calls_ = 0;
  static constexpr int kReported = 4;  // the first few failures, with the count of all
  std::vector<std::string> failures_;
};

TEST(FloatingPointEnvironment, EveryCaseGivesTheDefaultBitsAndTheCallersStateBack) {
  ASSERT_EQ(_mm_getcsr() & ~kMxcsrFlags, kMxcsrMasks) << "the test starts in the default state";
  std::vector<cases::Output> want;
  for (const State& state : kStates) {
    SCOPED_TRACE(state.name);
    // The libraries are loaded afresh for each state, so that what a first
    // call builds and keeps (the quarter wave of the twiddles) is built in it.
    const cases::Library lumetra(cases::lumetra_library());
    const cases::Library quenbar(cases::quenbar_library());
    ASSERT_TRUE(lumetra.loaded()) << lumetra.path();
    ASSERT_TRUE(quenbar.loaded()) << quenbar.path();
    StateHooks hooks(state);
    const cases::Run run = cases::run_all(lumetra, quenbar, &hooks);
    // A case left out, or one without values, would compare equal in every
    // state: each must run.
    ASSERT_TRUE(run.skipped.empty()) << run.skipped.front();
    ASSERT_GT(hooks.calls(), 0);
    EXPECT_EQ(hooks.failed_calls(), 0)
        << "calls of " << hooks.calls() << " did not give the caller's state back, first:\n"
        << ::testing::PrintToString(hooks.failures());
    if (want.empty()) {
      want = run.outputs;
      continue;
    }
    ASSERT_EQ(run.outputs.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(run.outputs[i].name, want[i].name);
      ASSERT_FALSE(want[i].values.empty()) << want[i].name;
      const std::int64_t k =
          testing_support::first_difference(run.outputs[i].values, want[i].values);
      EXPECT_EQ(k, -1) << want[i].name << " differs from the default state at element " << k;
    }
  }
}

}  // namespace
