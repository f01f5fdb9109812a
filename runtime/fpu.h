// Results that do not depend on the calling program's x87 precision control.
//
// On Windows the C runtime may compute a math function in the x87 unit:
// MinGW's sqrt, where the compiler calls it instead of inlining the SSE2
// instruction (in unoptimised builds), rounds in an x87 register. The
// precision control of that unit belongs to the calling program: programs
// built with MSVC run at 53 bits, MinGW programs at 64. At 64 bits such a
// result is rounded twice, to 64 and then to 53 bits, and can come out one
// unit in the last place apart. (MinGW's sin and cos use the x87 sine and
// cosine instructions, which the precision control does not affect.)
//
// Every exported function that reaches the C runtime's sin, cos, log10 or
// sqrt therefore holds a FpuPrecision for the duration of the call: it sets
// 53-bit precision, so that an x87 operation rounds once to double exactly as
// the SSE2 code around it does, and gives the caller's control word back on
// return. The rest of the control word (rounding, exception masks) is left as
// the caller set it. Elsewhere the guard does nothing.
#pragma once

namespace runtime {

#if defined(_WIN32) && (defined(__x86_64__) || defined(__i386__))

class FpuPrecision {
 public:
  FpuPrecision() noexcept {
    __asm__ volatile("fnstcw %0" : "=m"(saved_) : : "memory");
    const auto pinned = static_cast<unsigned short>((saved_ & ~kPrecisionMask) | kPrecision53);
    if (pinned != saved_) {
      __asm__ volatile("fldcw %0" : : "m"(pinned) : "memory");
    }
  }
  ~FpuPrecision() {
    unsigned short current;
    __asm__ volatile("fnstcw %0" : "=m"(current) : : "memory");
    if (current != saved_) {
      __asm__ volatile("fldcw %0" : : "m"(saved_) : "memory");
    }
  }
  FpuPrecision(const FpuPrecision&) = delete;
  FpuPrecision& operator=(const FpuPrecision&) = delete;

 private:
  static constexpr unsigned short kPrecisionMask = 0x0300;  // control word bits 8-9
  static constexpr unsigned short kPrecision53 = 0x0200;    // round to double
  unsigned short saved_;
};

#else

class FpuPrecision {
 public:
  FpuPrecision() noexcept {}
  ~FpuPrecision() {}
  FpuPrecision(const FpuPrecision&) = delete;
  FpuPrecision& operator=(const FpuPrecision&) = delete;
};

#endif

}  // namespace runtime
