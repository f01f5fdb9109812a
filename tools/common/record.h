// A column record over a tool's samples, released with the library's own
// array API (the core the program links supplies it).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "emx_runtime.h"

namespace cli {

struct DestroyRecord {
  void operator()(emxArray_real_T* a) const { emxDestroyArray_real_T(a); }
};
using Record = std::unique_ptr<emxArray_real_T, DestroyRecord>;

// Nothing is copied; the library only reads the record. Null when the
// record itself cannot be allocated.
inline Record wrap(const double* x, std::int64_t n) {
  return Record(emxCreateWrapper_real_T(const_cast<double*>(x), static_cast<std::int32_t>(n), 1));
}

inline Record wrap(const std::vector<double>& x) {
  return wrap(x.data(), static_cast<std::int64_t>(x.size()));
}

}  // namespace cli
