# Shared by run-short.sh and run-long.sh: runs one fuzz target and reports.
#   run_target BUILD_DIR TARGET LIBFUZZER_ARGS...
# Prints "TARGET: executions N, crashes N" and returns 1 when it crashed.
run_target() {
  local build=$1 target=$2; shift 2
  local here; here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  local corpus="$build/corpus/$target" artifacts="$build/artifacts/$target/"
  local log="$build/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$build/logs"
  # Crashes of earlier runs stay for inspection but do not count again.
  local before; before=$(find "$artifacts" -type f | wc -l)
  if [ -d "$here/corpus/$target" ]; then cp -n "$here/corpus/$target"/* "$corpus/" 2>/dev/null || true; fi
  local rc=0
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/$target" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts" \
    "$@" "$corpus" >"$log" 2>&1 || rc=$?
  local runs; runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  local after; after=$(find "$artifacts" -type f | wc -l)
  local crashes=$((after - before))
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  echo "$target: executions ${runs:-0}, crashes $crashes"
  if [ "$crashes" -ne 0 ]; then
    grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -8 | sed 's/^/  /'
    return 1
  fi
  return 0
}
