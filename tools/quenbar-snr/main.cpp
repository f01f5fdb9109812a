#include "common/platform.h"
#include "quenbar-snr/quenbar_snr.h"

int main(int argc, char** argv) {
  return cli::quenbar_snr(cli::program_arguments(argc, argv), stdout, stderr);
}
