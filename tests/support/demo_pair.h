// The demonstration pair of lumetra-measure --make-demo, made once for
// every test of a program that needs it, and the comparison of two reports
// of the hosts' library.
#pragma once

#include <cstring>
#include <vector>

#include "stimulus.h"

namespace testing_support {

// The demonstration pair of lumetra-measure --make-demo: 25.2 s steps, a
// device 12345 samples late with a gain of its own on every step, noise at
// -80 dB. Made once for every test that needs it.
struct DemoPair {
  std::vector<double> reference;
  std::vector<double> recording;
  stimulus::Device device;
};

inline const DemoPair& demo_pair() {
  static const DemoPair* pair = [] {
    auto* p = new DemoPair;
    p->reference = stimulus::stepped_reference({});
    p->device.delay = 12345;
    p->device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
    p->device.noise_db = -80.0;
    p->recording = stimulus::record(p->reference, p->device, 25.2);
    return p;
  }();
  return *pair;
}

// Two reports hold the same bits, field for field (the structs have no
// padding, so their bytes are their fields).
template <class Report>
bool same_bytes(const Report& a, const Report& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace testing_support
