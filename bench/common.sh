# shellcheck shell=bash
# Shared by the benchmark scripts (sourced from the top of the checkout): where the programs are
# built, the quick mode, nanosecond timestamps and the best of several runs.

# The programs are built in build/default, or in the build directory that VELA_BUILD names.
bin=$(realpath -m "${VELA_BUILD:-build/default}")/bin
build_programs() {  # TARGET...
  cmake --preset default -B "${bin%/bin}" >/dev/null
  cmake --build "${bin%/bin}" --target "$@" >/dev/null
}

# QUICK=1: small inputs and one run, to show that the benchmark still works (scripts/test.sh runs
# every benchmark so). The figures of such a run mean nothing, so none are printed; quick_passed
# says what was checked instead.
quick() { [ "${QUICK:-0}" = 1 ]; }
quick_passed() {  # WHAT WAS CHECKED
  echo "$(basename "$0" .sh): quick run passed: $*. No figures: a quick run measures nothing."
}

now() { date +%s%N; }
best() {
  if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi
}
