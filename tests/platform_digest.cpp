// Cross-platform comparison of the shipped libraries' results.
//
//   platform_digest write <file>       runs the fixed cases through the built
//                                      libraries and stores every output's bits
//   platform_digest compare <a> <b>    compares two such files (a: the
//                                      reference build, b: the other)
//   platform_digest compare-exact <a> <b>
//                                      the same, every output bit-identical
//   platform_digest print <file>       one line per output: its values'
//                                      count, a hash of their bits (FNV-1a of
//                                      their bytes), and the
//                                      bits of the first and last value
//
// Between platforms, outputs that pass through no sin, cos or log10 must be
// bit-identical. The C library's own values (twiddle tables, b_log10) may
// differ by at most kLibmUlps units in the last place; outputs computed from
// them must agree to kDerivedTolerance relative to the output's largest
// magnitude. Between builds for one platform (compilers, optimisation
// levels) nothing may differ: compare-exact.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "support/common.h"
#include "support/library_cases.h"

namespace {

constexpr char kMagic[] = "am-platform-digest 1\n";
constexpr std::uint64_t kLibmUlps = 2;
// 2^-53 per rounding, 21 butterfly stages of the 2^21-point transforms, and a
// margin of 64 for the sums and products around them.
constexpr double kDerivedTolerance = 64.0 * 21.0 * 0x1p-53;

bool write_digest(const char* file) {
  const cases::Library lumetra(cases::lumetra_library());
  const cases::Library quenbar(cases::quenbar_library());
  if (!lumetra.loaded() || !quenbar.loaded()) {
    std::fprintf(stderr, "cannot load %s or %s\n", lumetra.path().c_str(), quenbar.path().c_str());
    return false;
  }
  const cases::Run run = cases::run_all(lumetra, quenbar);
  for (const std::string& s : run.skipped) {
    std::printf("left out: %s\n", s.c_str());
  }
  std::ofstream out(file, std::ios::binary);
  out.write(kMagic, sizeof kMagic - 1);
  for (const cases::Output& o : run.outputs) {
    const auto name_length = static_cast<std::uint32_t>(o.name.size());
    const auto kind = static_cast<std::uint8_t>(o.kind);
    const auto count = static_cast<std::uint64_t>(o.values.size());
    out.write(reinterpret_cast<const char*>(&name_length), sizeof name_length);
    out.write(o.name.data(), name_length);
    out.write(reinterpret_cast<const char*>(&kind), sizeof kind);
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    out.write(reinterpret_cast<const char*>(o.values.data()),
              static_cast<std::streamsize>(count * sizeof(double)));
  }
  std::printf("%zu outputs written to %s\n", run.outputs.size(), file);
  return static_cast<bool>(out);
}

bool read_digest(const char* file, std::vector<cases::Output>& outputs) {
  std::ifstream in(file, std::ios::binary);
  std::string magic(sizeof kMagic - 1, '\0');
  if (!in.read(magic.data(), static_cast<std::streamsize>(magic.size())) || magic != kMagic) {
    std::fprintf(stderr, "%s: not a digest\n", file);
    return false;
  }
  std::uint32_t name_length = 0;
  while (in.read(reinterpret_cast<char*>(&name_length), sizeof name_length)) {
    cases::Output o;
    o.name.resize(name_length);
    std::uint8_t kind = 0;
    std::uint64_t count = 0;
    in.read(o.name.data(), name_length);
    in.read(reinterpret_cast<char*>(&kind), sizeof kind);
    in.read(reinterpret_cast<char*>(&count), sizeof count);
    if (!in || kind > 2 || count > (std::uint64_t{1} << 26)) {
      std::fprintf(stderr, "%s: damaged record\n", file);
      return false;
    }
    o.kind = static_cast<cases::Kind>(kind);
    o.values.resize(count);
    in.read(reinterpret_cast<char*>(o.values.data()),
            static_cast<std::streamsize>(count * sizeof(double)));
    if (!in) {
      std::fprintf(stderr, "%s: truncated\n", file);
      return false;
    }
    outputs.push_back(std::move(o));
  }
  return true;
}

// Distance in units in the last place between two doubles; 0 for two NaNs
// (C libraries disagree on the sign of log10's NaN) and for zeros of either
// sign; 2^64 - 1 when one is NaN and the other not, or the signs differ.
std::uint64_t ulps(double a, double b) {
  const auto ua = std::bit_cast<std::uint64_t>(a);
  const auto ub = std::bit_cast<std::uint64_t>(b);
  if (ua == ub || (a == 0.0 && b == 0.0) || (std::isnan(a) && std::isnan(b))) {
    return 0;
  }
  if (std::isnan(a) || std::isnan(b) || std::signbit(a) != std::signbit(b)) {
    return ~std::uint64_t{0};
  }
  return ua > ub ? ua - ub : ub - ua;
}

struct Comparison {
  std::uint64_t differing = 0;
  std::uint64_t max_ulps = 0;
  double max_relative = 0.0;      // largest |a - b| over the output's largest |a|
  bool special_mismatch = false;  // NaN or infinity on one side only
};

Comparison compare(const cases::Output& a, const cases::Output& b) {
  Comparison c;
  double scale = 0.0;
  for (const double v : a.values) {
    if (std::isfinite(v)) {
      scale = std::fmax(scale, std::fabs(v));
    }
  }
  for (std::size_t k = 0; k < a.values.size(); ++k) {
    const double x = a.values[k];
    const double y = b.values[k];
    if (std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y)) {
      continue;
    }
    ++c.differing;
    const std::uint64_t u = ulps(x, y);
    c.max_ulps = u > c.max_ulps ? u : c.max_ulps;
    if (!std::isfinite(x) || !std::isfinite(y)) {
      c.special_mismatch = c.special_mismatch || !(std::isnan(x) && std::isnan(y));
      continue;
    }
    const double relative =
        scale > 0.0 ? std::fabs(x - y) / scale : std::numeric_limits<double>::infinity();
    c.max_relative = std::fmax(c.max_relative, relative);
  }
  return c;
}

int compare_digests(const char* reference_file, const char* other_file, bool exact) {
  std::vector<cases::Output> reference;
  std::vector<cases::Output> other;
  if (!read_digest(reference_file, reference) || !read_digest(other_file, other)) {
    return 2;
  }
  std::map<std::string, const cases::Output*> by_name;
  for (const cases::Output& o : other) {
    by_name[o.name] = &o;
  }
  int passed = 0;
  int failed = 0;
  std::printf("%-52s %-8s %9s %9s %6s %9s  %s\n", "output", "kind", "values", "differ", "ulps",
              "rel.dev", "verdict");
  for (const cases::Output& a : reference) {
    const auto found = by_name.find(a.name);
    if (found == by_name.end() || found->second->values.size() != a.values.size()) {
      std::printf("%-52s %-8s  only in %s or of another length  FAIL\n", a.name.c_str(),
                  cases::kind_name(a.kind), reference_file);
      ++failed;
      continue;
    }
    const Comparison c = compare(a, *found->second);
    bool ok = false;
    switch (exact ? cases::Kind::kExact : a.kind) {
      case cases::Kind::kExact:
        ok = c.differing == 0;
        break;
      case cases::Kind::kLibm:
        ok = c.max_ulps <= kLibmUlps;
        break;
      case cases::Kind::kDerived:
        ok = !c.special_mismatch && c.max_relative <= kDerivedTolerance;
        break;
    }
    // Units in the last place tell little about a derived output, whose
    // small elements carry the rounding of the large ones.
    std::string ulps_text = std::to_string(c.max_ulps);
    if (a.kind == cases::Kind::kDerived) {
      ulps_text = "-";
    } else if (c.max_ulps == ~std::uint64_t{0}) {
      ulps_text = "sign";
    }
    std::printf("%-52s %-8s %9zu %9llu %6s %9.2e  %s\n", a.name.c_str(), cases::kind_name(a.kind),
                a.values.size(), static_cast<unsigned long long>(c.differing), ulps_text.c_str(),
                c.max_relative, ok ? "ok" : "FAIL");
    ok ? ++passed : ++failed;
    by_name.erase(found);
  }
  for (const auto& [name, o] : by_name) {
    std::printf("%-52s %-8s  only in %s  FAIL\n", name.c_str(), cases::kind_name(o->kind),
                other_file);
    ++failed;
  }
  if (exact) {
    std::printf("limits: every output bit-identical\n");
  } else {
    std::printf(
        "limits: exact outputs bit-identical; libm outputs within %llu ulps; derived "
        "outputs within %.2e of their largest magnitude\n",
        static_cast<unsigned long long>(kLibmUlps), kDerivedTolerance);
  }
  std::printf("comparison: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

int print_digest(const char* file) {
  std::vector<cases::Output> outputs;
  if (!read_digest(file, outputs)) {
    return 2;
  }
  for (const cases::Output& o : outputs) {
    const auto first = o.values.empty() ? 0 : std::bit_cast<std::uint64_t>(o.values.front());
    const auto last = o.values.empty() ? 0 : std::bit_cast<std::uint64_t>(o.values.back());
    std::printf("%-52s %9zu  hash %016llx  first %016llx  last %016llx\n", o.name.c_str(),
                o.values.size(),
                static_cast<unsigned long long>(
                    testing_support::fnv1a(o.values.data(), o.values.size() * sizeof(double))),
                static_cast<unsigned long long>(first), static_cast<unsigned long long>(last));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "write" && argc == 3) {
    return write_digest(argv[2]) ? 0 : 1;
  }
  if ((mode == "compare" || mode == "compare-exact") && argc == 4) {
    return compare_digests(argv[2], argv[3], mode == "compare-exact");
  }
  if (mode == "print" && argc == 3) {
    return print_digest(argv[2]);
  }
  std::fprintf(stderr,
               "usage: platform_digest write <file>\n"
               "       platform_digest compare <reference-file> <other-file>\n"
               "       platform_digest compare-exact <reference-file> <other-file>\n"
               "       platform_digest print <file>\n");
  return 2;
}
