#include "common/platform.h"
#include "lumetra-measure/lumetra_measure.h"

int main(int argc, char** argv) {
  return cli::lumetra_measure(cli::program_arguments(argc, argv), stdout, stderr);
}
