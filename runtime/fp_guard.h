// The floating-point state of a call into the libraries.
//
// Results are fixed to the last bit in one floating-point environment only:
// SSE arithmetic rounding to nearest with subnormal operands and results kept
// as they are (no denormals-are-zero, no flush-to-zero), and, where the C
// runtime computes in the x87 unit, 53-bit precision rounding to nearest.
// That state belongs to the calling thread, and hosts change it: audio hosts
// set flush-to-zero and denormals-are-zero to keep their filters fast, test
// frameworks change the rounding, and programs built with MinGW run the x87
// unit at 64 bits (MSVC's run at 53). On Windows the C runtime may compute in
// the x87 unit: MinGW's sqrt, where the compiler calls it instead of inlining
// the SSE2 instruction (in unoptimised builds), rounds in an x87 register, at
// 64 bits twice (to 64, then to 53 bits), and MinGW's sin and cos use the x87
// sine and cosine instructions, which follow the x87 rounding control.
//
// Every exported function that computes therefore holds an FpGuard for the
// duration of the call, as its first statement. On entry it sets MXCSR to
// rounding to nearest without flush-to-zero and denormals-are-zero, every
// exception masked (the libraries produce NaN and infinities on purpose: the
// logarithm of 0, the mean of an empty record); on Windows it also sets the
// x87 control word to 53-bit precision, rounding to nearest, every exception
// masked. On return it gives the caller's MXCSR back exactly as it was, status
// flags included (the flags the call raised are not passed on: they would
// only report the libraries' deliberate NaNs and roundings), and the caller's
// x87 control word. Each register is read first and written only where it
// differs, so a caller in the default state pays two reads and, when the call
// raised a new flag, one write.
#pragma once

#include <cstdint>

namespace runtime {

#if defined(__x86_64__) || defined(__i386__)

class FpGuard {
 public:
  // MXCSR: bits 0-5 status flags, 6 denormals-are-zero, 7-12 exception masks,
  // 13-14 rounding control (00 to nearest), 15 flush-to-zero.
  static constexpr std::uint32_t kMxcsrFlags = 0x003F;
  static constexpr std::uint32_t kMxcsrPinned = 0x1F80;  // all masked, to nearest

  FpGuard() noexcept {
    saved_mxcsr_ = read_mxcsr();
    const std::uint32_t pinned = (saved_mxcsr_ & kMxcsrFlags) | kMxcsrPinned;
    if (pinned != saved_mxcsr_) {
      write_mxcsr(pinned);
    }
#if defined(_WIN32)
    saved_cw_ = read_control_word();
    const auto pinned_cw = static_cast<std::uint16_t>((saved_cw_ & ~kCwOwned) | kCwPinned);
    if (pinned_cw != saved_cw_) {
      write_control_word(pinned_cw);
    }
#endif
  }

  ~FpGuard() {
    if (read_mxcsr() != saved_mxcsr_) {
      write_mxcsr(saved_mxcsr_);
    }
#if defined(_WIN32)
    if (read_control_word() != saved_cw_) {
      restore_control_word();
    }
#endif
  }

  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;

 private:
  // The "memory" clobbers keep the compiler from moving the call's loads and
  // stores across the switches.
  static std::uint32_t read_mxcsr() noexcept {
    std::uint32_t v;
    __asm__ volatile("stmxcsr %0" : "=m"(v) : : "memory");
    return v;
  }
  static void write_mxcsr(std::uint32_t v) noexcept {
    __asm__ volatile("ldmxcsr %0" : : "m"(v) : "memory");
  }

  std::uint32_t saved_mxcsr_;

#if defined(_WIN32)
  // x87 control word: bits 0-5 exception masks, 8-9 precision control (10:
  // 53 bits), 10-11 rounding control (00: to nearest).
  static constexpr std::uint16_t kCwMasks = 0x003F;
  static constexpr std::uint16_t kCwOwned = 0x0F3F;   // masks, precision, rounding
  static constexpr std::uint16_t kCwPinned = 0x023F;  // all masked, 53 bits, to nearest

  static std::uint16_t read_control_word() noexcept {
    std::uint16_t v;
    __asm__ volatile("fnstcw %0" : "=m"(v) : : "memory");
    return v;
  }
  static void write_control_word(std::uint16_t v) noexcept {
    __asm__ volatile("fldcw %0" : : "m"(v) : "memory");
  }

  // An x87 exception whose flag is set and whose mask is clear is raised by
  // the next x87 instruction. The caller had none pending on entry (loading
  // the pinned word would have raised it), so any such flag now comes from
  // this call, where every exception was masked: it is cleared from the
  // status word as the caller's control word comes back, and the caller's
  // own flags stay.
  void restore_control_word() const noexcept {
    const std::uint16_t unmasked = static_cast<std::uint16_t>(~saved_cw_ & kCwMasks);
    if (unmasked == 0) {
      write_control_word(saved_cw_);
      return;
    }
    // The environment as FNSTENV stores it in 64-bit mode: control word at
    // byte 0, status word at byte 4, 28 bytes in all.
    std::uint16_t env[14];
    __asm__ volatile("fnstenv %0" : "=m"(env) : : "memory");
    env[0] = saved_cw_;
    env[2] = static_cast<std::uint16_t>(env[2] & ~(unmasked | kStatusSummary));
    __asm__ volatile("fldenv %0" : : "m"(env) : "memory");
  }
  // Status word bits 7 (error summary) and 15 (busy, which mirrors it): set
  // only while an unmasked flag is.
  static constexpr std::uint16_t kStatusSummary = 0x8080;

  std::uint16_t saved_cw_;
#endif
};

#else

class FpGuard {
 public:
  FpGuard() noexcept {}
  ~FpGuard() {}
  FpGuard(const FpGuard&) = delete;
  FpGuard& operator=(const FpGuard&) = delete;
};

#endif

}  // namespace runtime
