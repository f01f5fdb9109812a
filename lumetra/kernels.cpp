// Choice of the kernel table at run time.
#include "lumetra/kernels.h"

namespace lumetra::kernels {
namespace {

constexpr runtime::IsaTables<Table> kTables{kSse2Table, kAvx2Table};

}  // namespace

const Table& best() noexcept {
  return kTables.best();
}

const Table* for_isa(runtime::Isa isa) noexcept {
  return kTables.find(isa);
}

}  // namespace lumetra::kernels
