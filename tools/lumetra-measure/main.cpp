#include "lumetra-measure/lumetra_measure.h"

int main(int argc, char** argv) {
  return cli::lumetra_measure({argv + 1, argv + argc}, stdout, stderr);
}
