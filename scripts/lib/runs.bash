# Shell functions shared by the scripts that run the utility against the simulator: waiting for
# r4690-sim's ready line, and comparing a run of the utility with an end-to-end case's
# expectations. Sourced by tests/e2e/run-case, scripts/test-windows and scripts/demo; bash only.

# r4690_wait_for_ready PID OUT ERR: waits up to 10 s until r4690-sim (process PID, standard output
# in OUT, standard error in ERR) prints "r4690-sim: ready". Returns 0 when it has; otherwise
# prints why on standard error (with the simulator's output when it ended) and returns 1.
r4690_wait_for_ready() {
  local pid=$1 out=$2 err=$3
  for _ in $(seq 1 200); do
    grep -qs '^r4690-sim: ready$' "${out}" && return 0
    if ! kill -0 "${pid}" 2>/dev/null; then
      cat "${out}" "${err}" >&2
      echo "r4690-sim did not start" >&2
      return 1
    fi
    sleep 0.05
  done
  echo "r4690-sim printed no ready line within 10 s" >&2
  return 1
}

# r4690_show_difference EXPECTED ACTUAL: the two files side by side on standard error, in a form
# where "\r" and trailing blanks are visible.
r4690_show_difference() {
  diff -u --label expected --label actual <(sed -n 'l 0' "$1") <(sed -n 'l 0' "$2") >&2 || true
}

# r4690_windows_text FILE: the file with each line ending in "\r\n" on standard output. Windows'
# C runtime writes text so: each "\n" that a program writes becomes "\r\n".
r4690_windows_text() {
  sed 's/$/\r/' "$1"
}

# r4690_expectation EXPECTED ACTUAL LINE_ENDS STREAM: EXPECTED.STREAM in the run's line ends, as
# ACTUAL.STREAM-want.
r4690_expectation() {
  if [[ "$3" == windows ]]; then
    r4690_windows_text "$1.$4" >"$2.$4-want"
  else
    cp "$1.$4" "$2.$4-want"
  fi
}

# r4690_compare_run CASE_DIR RUN ACTUAL CODE [windows]: compares one run of the utility ("expected"
# or "second") with the case's expectations: ACTUAL.stdout, ACTUAL.stderr and (when the case has
# RUN.traffic) ACTUAL.traffic, and the exit code CODE. With "windows", every expected line ends in
# "\r\n", as Windows' C runtime writes text. Prints each difference on standard error, prefixed
# with the run's name; returns 0 when there is none.
r4690_compare_run() {
  local dir=$1 run=$2 actual=$3 code=$4 line_ends=${5:-}
  local ok=0 want
  r4690_expectation "${dir}/${run}" "${actual}" "${line_ends}" stdout
  if ! cmp -s "${actual}.stdout-want" "${actual}.stdout"; then
    echo "${run}: standard output differs" >&2
    r4690_show_difference "${actual}.stdout-want" "${actual}.stdout"
    ok=1
  fi
  want=$(tr -d '[:space:]' <"${dir}/${run}.exit")
  if [[ "${code}" != "${want}" ]]; then
    echo "${run}: exit code ${code}, expected ${want}" >&2
    ok=1
  fi
  if [[ -f "${dir}/${run}.stderr" ]]; then
    r4690_expectation "${dir}/${run}" "${actual}" "${line_ends}" stderr
    if ! cmp -s "${actual}.stderr-want" "${actual}.stderr"; then
      echo "${run}: standard error differs" >&2
      r4690_show_difference "${actual}.stderr-want" "${actual}.stderr"
      ok=1
    fi
  elif [[ -s "${actual}.stderr" ]]; then
    echo "${run}: standard error is not empty:" >&2
    cat "${actual}.stderr" >&2
    ok=1
  fi
  # The traffic record is written by the simulator's own code, in text mode too.
  if [[ -f "${dir}/${run}.traffic" ]]; then
    r4690_expectation "${dir}/${run}" "${actual}" "${line_ends}" traffic
    if ! cmp -s "${actual}.traffic-want" "${actual}.traffic"; then
      echo "${run}: traffic record differs" >&2
      r4690_show_difference "${actual}.traffic-want" "${actual}.traffic"
      ok=1
    fi
  fi
  return "${ok}"
}
