// measure-demo: loads each measurement library as a host would and runs it on
// data with known answers.
#include <cstdio>

#include "demo.h"

int main() {
  bool ok = true;
  ok = run_quenbar_demo() && ok;
  ok = run_lumetra_demo() && ok;
  std::printf("%s\n",
              ok ? "measure-demo: all estimates as expected" : "measure-demo: FAILED (see above)");
  return ok ? 0 : 1;
}
