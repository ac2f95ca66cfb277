# Sourced by tools/test.sh, tools/test-windows.sh and tools/test-i386.sh: the
# builds and ctest runs of a test stage, and its tally. Expects root, jobs,
# passed, failed and status set by the caller, and script_name for its
# messages.

# Every build here treats warnings as errors. Builds everything, or only the
# targets of the array build_targets when the caller sets it.
configure_and_build() {  # dir, cmake args...
  local dir=$1; shift
  local target_options=()
  if [[ -n ${build_targets+set} ]]; then target_options=(--target "${build_targets[@]}"); fi
  cmake -S "$root" -B "$root/$dir" -G Ninja -DVUD_WERROR=ON "$@" >/dev/null || return 1
  cmake --build "$root/$dir" -j "$jobs" "${target_options[@]}" || return 1
}

# Runs ctest in dir and adds its programs to the tally (a run that ran no
# test counts one failure); ctest_total holds the number of programs run.
run_ctest() {  # dir, ctest args...
  local dir=$1; shift
  local log
  log=$(mktemp)
  (cd "$root/$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local fails
  ctest_total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
  fails=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  rm -f "$log"
  if [[ -z "$ctest_total" ]]; then
    ctest_total=0
    echo "$script_name: ctest in $dir ran no test"; failed=$((failed + 1)); status=1; return
  fi
  passed=$((passed + ctest_total - fails))
  failed=$((failed + fails))
  if [[ $rc -ne 0 || $fails -ne 0 ]]; then status=1; fi
}
