// Choice of the kernel table at run time.
#include "quenbar/kernels.h"

namespace quenbar::kernels {
namespace {

constexpr runtime::IsaTables<Table> kTables{kSse2Table, kAvx2Table};

}  // namespace

const Table& best() noexcept {
  return kTables.best();
}

const Table* for_isa(runtime::Isa isa) noexcept {
  return kTables.find(isa);
}

}  // namespace quenbar::kernels
