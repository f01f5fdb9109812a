// Sequences of array-API calls: create, create N-dimensional, wrap, init,
// set extents and grow, free and destroy, on a few records at once, with any
// extents (negative, huge, overflowing), any oldNumel, and allocations that
// fail where the input says.
//
// The heap is limited to 1 MiB here (through the allocation seam), so
// records of valid but large extents meet a failing allocation, as they would
// on a host short of memory, and every execution stays quick. Checks after every call: a record is
// either refused (null) or well-formed; growth either leaves the record exactly as it was or gives
// room for the count with the kept elements and zeros after them; wrapped storage is never written
// or freed. LeakSanitizer checks that everything is released.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "quenbar.h"
#include "runtime/alloc.h"

namespace {

constexpr std::size_t kHeapLimit = std::size_t{1} << 20;
constexpr std::int32_t kWrapBudget = 4096;  // elements of a wrapped host block
constexpr int kSlots = 4;
constexpr int kMaxCalls = 64;
constexpr std::int32_t kChecked = 1 << 17;  // elements compared: all that 1 MiB holds

// A host block under a wrapper: filled with a pattern that must survive.
struct HostBlock {
  std::vector<double> values;
  std::vector<double> original;
};

struct Slot {
  emxArray_real_T* record = nullptr;
  std::unique_ptr<HostBlock> block;  // the wrapped storage, while wrapped
  int dims = 0;                      // entries of record->size
};

std::int64_t count_of(const emxArray_real_T& r) {
  if (r.numDims < 0) {
    return -1;
  }
  return fuzz::element_count(std::vector<std::int32_t>(r.size, r.size + r.numDims));
}

// A record the API handed out: extents as asked, storage as claimed; or
// none, for bad arguments or a refused allocation (the seam armed, or
// storage past the heap limit). wrapper: whether it wraps the host's storage
// `wrapped` (which may be null). accepted: whether the arguments are of a
// form the API takes (numDims >= 0, extents given).
void check_made(const emxArray_real_T* r, const std::vector<std::int32_t>& extents, bool wrapper,
                const double* wrapped, bool accepted, bool armed) {
  const std::int64_t count = fuzz::element_count(extents);
  if (r == nullptr) {
    const bool too_large = !wrapper && count * 8 > static_cast<std::int64_t>(kHeapLimit);
    fuzz::check(!accepted || count < 0 || armed || too_large, "record refused without cause");
    return;
  }
  fuzz::check(accepted, "bad arguments accepted");
  fuzz::check(r->numDims == static_cast<std::int32_t>(extents.size()), "numDims not as asked");
  fuzz::check(extents.empty() || r->size != nullptr, "no extents");
  for (std::size_t k = 0; k < extents.size(); ++k) {
    fuzz::check(r->size[k] == extents[k], "extent not copied");
  }
  fuzz::check(count >= 0, "a bad shape was accepted");
  fuzz::check(r->capacity == count, "capacity is not the element count");
  if (wrapper) {
    fuzz::check(r->data == wrapped && r->ownsData == 0, "wrapper does not borrow");
  } else {
    fuzz::check(r->ownsData == 1, "created record does not own its storage");
    fuzz::check(count == 0 || r->data != nullptr, "storage missing");
    for (std::int64_t k = 0; k < std::min<std::int64_t>(count, kChecked); ++k) {
      fuzz::check(r->data[k] == 0.0, "created storage not zero");
    }
  }
}

std::vector<std::int32_t> extents_of(FuzzedDataProvider& in, int dims, std::int32_t small) {
  std::vector<std::int32_t> e;
  for (int k = 0; k < dims; ++k) {
    e.push_back(fuzz::extent(in, small));
  }
  return e;
}

void release(Slot& s, FuzzedDataProvider& in) {
  if (s.record == nullptr) {
    return;
  }
  // The API frees whatever the record owns; a wrapped block is the host's.
  if (in.ConsumeBool()) {
    emxFree_real_T(&s.record);
    fuzz::check(s.record == nullptr, "emxFree_real_T left the pointer");
    emxFree_real_T(&s.record);
  } else {
    emxDestroyArray_real_T(s.record);
    s.record = nullptr;
  }
  if (s.block) {
    fuzz::check(s.block->values == s.block->original, "wrapped storage changed");
    s.block.reset();
  }
}

// Writes new extents (the record keeps its numDims entries) and grows.
// armed: whether the seam may refuse one of the next requests.
void grow(Slot& s, FuzzedDataProvider& in, bool armed) {
  emxArray_real_T* r = s.record;
  if (r == nullptr) {
    return;
  }
  const emxArray_real_T before = *r;
  const std::vector<std::int32_t> extents = extents_of(in, s.dims, 1 << 12);
  std::copy(extents.begin(), extents.end(), r->size);
  // The old contents, to check what growth keeps.
  const std::int64_t old_count = std::min<std::int64_t>(before.capacity, kChecked);
  std::vector<double> old_values;
  if (before.data != nullptr) {
    old_values.assign(before.data, before.data + old_count);
  }
  std::int32_t old_numel = fuzz::extent(in, before.capacity);
  emxEnsureCapacity_real_T(r, old_numel);

  const std::int64_t required = count_of(*r);
  const bool unchanged = r->data == before.data && r->capacity == before.capacity &&
                         r->ownsData == before.ownsData && r->numDims == before.numDims &&
                         r->size == before.size;
  if (required < 0 || required <= before.capacity) {
    fuzz::check(unchanged, "growth changed a record it needed not grow");
    return;
  }
  std::int64_t expected_capacity = before.capacity < 16 ? 16 : before.capacity;
  while (expected_capacity < required) {
    expected_capacity = expected_capacity > 1073741823 ? INT32_MAX : 2 * expected_capacity;
  }
  if (unchanged) {
    // The allocation failed: the record is exactly as it was. Only the
    // seam or the heap limit refuses here.
    fuzz::check(armed || expected_capacity * 8 > static_cast<std::int64_t>(kHeapLimit),
                "growth refused without cause");
    return;
  }
  fuzz::check(r->capacity >= required && r->ownsData == 1 && r->data != nullptr,
              "grown record cannot hold its count");
  fuzz::check(r->capacity == expected_capacity, "capacity is not the doubled one");
  const std::int64_t kept =
      before.data == nullptr ? 0 : std::clamp<std::int64_t>(old_numel, 0, before.capacity);
  for (std::int64_t k = 0; k < std::min<std::int64_t>(r->capacity, kChecked); ++k) {
    const double want = k < kept ? old_values[static_cast<std::size_t>(k)] : 0.0;
    fuzz::check(fuzz::bits(r->data[k]) == fuzz::bits(want), "grown storage lost or kept wrong");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  runtime::alloc_seam::limit_bytes(kHeapLimit);
  runtime::alloc_seam::reset();
  const long live = runtime::alloc_seam::live_blocks();
  std::array<Slot, kSlots> slots;
  for (int call = 0; call < kMaxCalls && in.remaining_bytes() > 0; ++call) {
    Slot& s = slots[in.ConsumeIntegralInRange<std::size_t>(0, kSlots - 1)];
    // Sometimes one of the next few requests fails.
    const bool armed = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    runtime::alloc_seam::fail_nth(armed ? in.ConsumeIntegralInRange<long>(1, 3) : 0);
    const int op = in.ConsumeIntegralInRange<int>(0, 7);
    if (op <= 4) {
      release(s, in);
    }
    switch (op) {
      case 0: {  // emxCreate_real_T
        const std::int32_t rows = fuzz::extent(in, 1 << 12);
        const std::int32_t cols = fuzz::extent(in, 4);
        s.record = emxCreate_real_T(rows, cols);
        s.dims = 2;
        check_made(s.record, {rows, cols}, false, nullptr, true, armed);
        break;
      }
      case 1: {  // emxCreateND_real_T
        const int dims = in.ConsumeIntegralInRange<int>(-1, 5);
        const std::vector<std::int32_t> e = extents_of(in, std::max(dims, 0), 64);
        const bool null_size = dims > 0 && in.ConsumeIntegralInRange<int>(0, 7) == 0;
        s.record = emxCreateND_real_T(dims, null_size ? nullptr : e.data());
        s.dims = std::max(dims, 0);
        check_made(s.record, e, false, nullptr, dims >= 0 && !null_size, armed);
        break;
      }
      case 2:    // emxCreateWrapper_real_T
      case 3: {  // emxCreateWrapperND_real_T
        const int dims = op == 2 ? 2 : in.ConsumeIntegralInRange<int>(-1, 4);
        const std::vector<std::int32_t> e = extents_of(in, std::max(dims, 0), 64);
        const std::int64_t count = dims < 0 ? -1 : fuzz::element_count(e);
        // The host's block holds what the extents claim, or is null.
        auto block = std::make_unique<HostBlock>();
        double* storage = nullptr;
        if (count >= 0 && count <= kWrapBudget && in.ConsumeIntegralInRange<int>(0, 7) != 0) {
          block->values.resize(static_cast<std::size_t>(count) + 1);
          for (std::size_t k = 0; k < block->values.size(); ++k) {
            block->values[k] = static_cast<double>(k) + 0.5;
          }
          block->original = block->values;
          storage = block->values.data();
        }
        s.record = op == 2 ? emxCreateWrapper_real_T(storage, e[0], e[1])
                           : emxCreateWrapperND_real_T(storage, dims, e.data());
        s.dims = std::max(dims, 0);
        check_made(s.record, e, true, storage, dims >= 0, armed);
        if (s.record != nullptr) {
          s.block = std::move(block);
        }
        break;
      }
      case 4: {  // emxInit_real_T / emxInitArray_real_T
        const int dims = in.ConsumeIntegralInRange<int>(-1, 5);
        if (in.ConsumeBool()) {
          emxInit_real_T(&s.record, dims);
        } else {
          emxInitArray_real_T(&s.record, dims);
        }
        s.dims = std::max(dims, 0);
        fuzz::check(s.record != nullptr || dims < 0 || armed, "empty record refused without cause");
        if (s.record != nullptr) {
          const emxArray_real_T& r = *s.record;
          fuzz::check(dims >= 0 && r.numDims == dims && r.data == nullptr && r.capacity == 0 &&
                          r.ownsData == 1 && (dims == 0 || r.size != nullptr),
                      "empty record malformed");
          for (int k = 0; k < dims; ++k) {
            fuzz::check(r.size[k] == 0, "empty record has an extent");
          }
        }
        break;
      }
      case 5:
      case 6:
        grow(s, in, armed);
        break;
      default:
        release(s, in);
        break;
    }
    // A grown wrapper owns a copy: from then on the host's block is free.
    if (s.block && s.record != nullptr && s.record->ownsData) {
      fuzz::check(s.block->values == s.block->original, "wrapped storage changed");
      s.block.reset();
    }
  }
  runtime::alloc_seam::reset();
  for (Slot& s : slots) {
    release(s, in);
  }
  fuzz::check(runtime::alloc_seam::live_blocks() == live, "blocks left after every release");
  return 0;
}
