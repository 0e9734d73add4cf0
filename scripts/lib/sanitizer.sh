# shellcheck shell=bash
# The sanitizer builds' runtimes on this kernel: sourced, not run.
#
#   choose_sanitizer_wrapper SANITIZER DIR   finds how programs built with
#       -fsanitize=SANITIZER start here (a probe is built in DIR) and sets
#       SANITIZER_WRAPPER to the command that must run them; fails when none
#       does.

# gcc 12's sanitizer runtimes expect at most 28 bits of mmap randomisation;
# above that, TSan stops with "unexpected memory mapping" and ASan can spin
# for ever at start-up. Running without address randomisation (setarch -R,
# inherited by every child process) sidesteps this on any kernel; lowering the
# sysctl is the fallback where personality changes are refused.
SANITIZER_WRAPPER=()

sanitizer_probe_runs() {
  local binary=$1
  for _ in 1 2 3; do
    timeout 30 "${SANITIZER_WRAPPER[@]}" "$binary" >/dev/null 2>&1 || return 1
  done
}

choose_sanitizer_wrapper() {
  local sanitizer=$1 dir=$2
  local probe=$dir/sanitizer-probe
  mkdir -p "$dir"
  printf '#include <thread>\nint main() { int v = 0; std::thread t([&] { v = 1; }); t.join(); return v - 1; }\n' \
    >"$probe.cpp"
  g++ -fsanitize="$sanitizer" -pthread "$probe.cpp" -o "$probe" || return 1

  SANITIZER_WRAPPER=(setarch "$(uname -m)" -R)
  if "${SANITIZER_WRAPPER[@]}" true 2>/dev/null && sanitizer_probe_runs "$probe"; then
    echo "Running $sanitizer without address randomisation (setarch -R)."
    return 0
  fi
  SANITIZER_WRAPPER=()
  if sanitizer_probe_runs "$probe"; then
    echo "Running $sanitizer as it is."
    return 0
  fi
  local sysctl=/proc/sys/vm/mmap_rnd_bits
  if [[ -w $sysctl ]] && (($(cat "$sysctl") > 28)); then
    local previous
    previous=$(cat "$sysctl")
    if echo 28 >"$sysctl" 2>/dev/null; then
      # shellcheck disable=SC2064  # the values are fixed now, on purpose
      trap "echo $previous > $sysctl" EXIT
      if sanitizer_probe_runs "$probe"; then
        echo "Lowered vm.mmap_rnd_bits from $previous to 28 for $sanitizer (restored on exit)."
        return 0
      fi
    fi
  fi
  echo "The $sanitizer runtime does not start on this machine (kernel $(uname -r))." >&2
  return 1
}

