// What the processor offers, asked of it directly. The compiler's own feature
// test (__builtin_cpu_supports) brings a constructor that would run when a
// library loads; this one runs on first use only.
#pragma once

namespace runtime {

// AVX2 instructions (CPUID leaf 7) on an operating system that saves the
// YMM registers (OSXSAVE, and XCR0 enabling the SSE and AVX state). Asked
// once, then remembered; the answer is the same for every caller.
bool cpu_has_avx2() noexcept;

}  // namespace runtime
