#include "quenbar-snr/quenbar_snr.h"

int main(int argc, char** argv) {
  return cli::quenbar_snr({argv + 1, argv + argc}, stdout, stderr);
}
