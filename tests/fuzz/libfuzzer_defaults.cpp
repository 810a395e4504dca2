// libFuzzer brings its own main: the test programs' sanitizer settings (the
// known leaks of system libraries among them) come in through this file.
#include "../support/sanitizer_defaults.inc"
