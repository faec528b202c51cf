# Shared by the benchmark scripts (sourced): nanosecond timestamps and the best of several runs.
now() { date +%s%N; }
best() {
  if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi
}
