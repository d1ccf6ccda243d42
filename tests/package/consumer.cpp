// Starts the native face; with KxOrb64 unset this must end the process with
// the start-up failure message and exit code 1.
#include <varnox/Varnox.h>

int main() {
  KxInitCatAssembly(false);
  KxEndCatAssembly();
  return 0;
}
