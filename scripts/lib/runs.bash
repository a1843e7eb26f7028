# Shell functions shared by the scripts that run the utility against the simulator: waiting for
# r4690-sim's ready line, finding and checking an end-to-end case, and comparing a run of the
# utility with the case's expectations, running both runs of a case. Sourced by
# tests/e2e/run-case, scripts/test-windows and scripts/demo; bash only.

# The folder of the end-to-end cases.
r4690_cases_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tests/e2e/cases"

# r4690_case_names: every case's name, one a line, in order; hidden folders are no case.
r4690_case_names() {
  local dir
  for dir in "${r4690_cases_dir}"/*/; do
    [[ -d "${dir}" ]] && basename "${dir}"
  done
}

# r4690_case_dir CASE: the folder of a case given by its name or by a path to its folder, on
# standard output; prints why on standard error and returns 1 when there is no such case.
r4690_case_dir() {
  if [[ "$1" == */* && -d "$1" ]]; then
    (cd "$1" && pwd)
  elif [[ "$1" != */* && -n "$1" && -d "${r4690_cases_dir}/$1" ]]; then
    echo "${r4690_cases_dir}/$1"
  else
    echo "no end-to-end case $1 (a name under ${r4690_cases_dir}, or a case's folder)" >&2
    return 1
  fi
}

# r4690_check_case DIR: whether a case folder holds what a case needs and nothing it does not know.
# Hidden files and the usual editor leftovers (name~, #name#, *.swp, *.bak, *.orig, *.rej) are
# ignored, and so is the actual output that a failing run leaves (*.actual). Prints each problem
# on standard error; returns 1 when there is one.
r4690_check_case() {
  local dir=$1 ok=0 file name required=(scenario.json expected.stdout expected.exit)
  if [[ -e "${dir}/second.stdout" || -e "${dir}/second.exit" || -e "${dir}/second.traffic" ||
        -e "${dir}/second.stderr" || -e "${dir}/second.log" ]]; then
    required+=(second.stdout second.exit)
  fi
  for file in "${required[@]}"; do
    if [[ ! -f "${dir}/${file}" ]]; then
      echo "case $(basename "${dir}"): ${file} is missing" >&2
      ok=1
    fi
  done
  for file in "${dir}"/*; do
    [[ -e "${file}" ]] || continue
    name=$(basename "${file}")
    case "${name}" in
      scenario.json | arguments | expected.stdout | expected.stderr | expected.exit | \
        expected.traffic | expected.log | second.stdout | second.stderr | second.exit | \
        second.traffic | second.log) ;;
      *~ | \#*\# | *.swp | *.swo | *.bak | *.orig | *.rej | *.actual) ;;
      *)
        echo "case $(basename "${dir}"): unknown file ${name}" >&2
        ok=1
        ;;
    esac
  done
  return "${ok}"
}

# r4690_arguments DIR LOG: the case's arguments (its file `arguments`, one a line) into the array
# `arguments`, each "@LOG@" in them made LOG, the path of the run's log file.
r4690_arguments() {
  arguments=()
  [[ -f "$1/arguments" ]] || return 0
  mapfile -t arguments <"$1/arguments"
  arguments=("${arguments[@]//@LOG@/$2}")
}

# r4690_several_at_once DIR: whether a case's run works on several modules at once (--all, --list,
# --serial). Their modules' requests interleave as they happen, and so do the lines of --all: the
# comparison takes each module's lines in its order, one module after the other (below).
r4690_several_at_once() {
  [[ -f "$1/arguments" ]] && grep -Eqx -- '--(all|list|serial)' "$1/arguments"
}

# r4690_by_module STREAM FILE: a run's output with each module's lines together, in slot order,
# each module's in their own order: for stdout the block of lines that begin with "[slot N, ",
# for the traffic record every line by its device name.
r4690_by_module() {
  if [[ "$1" == traffic ]]; then
    sort -s -k1,1V "$2"
    return
  fi
  awk '
    function flush(i, sorter) {
      sorter = "sort -k1,1n -k2,2n | cut -c15-"
      for (i = 1; i <= count; i++) print block[i] | sorter
      close(sorter)
      count = 0
    }
    /^\[slot [0-9]+, / { block[++count] = sprintf("%06d %06d %s", $2 + 0, count, $0); next }
    { flush(); print }
    END { flush() }' "$2"
}

# r4690_group_modules CASE_DIR STREAM FILE...: for a case of several modules at once, each FILE
# rewritten with each module's lines together (r4690_by_module); other cases' files stay as they
# are.
r4690_group_modules() {
  local dir=$1 stream=$2 file
  shift 2
  r4690_several_at_once "${dir}" || return 0
  for file in "$@"; do
    r4690_by_module "${stream}" "${file}" >"${file}.by-module" && mv "${file}.by-module" "${file}"
  done
}

# r4690_log_lines FILE: a log's records with their time stamps masked, sorted: the form in which
# logs compare exactly, whatever order modules ended in.
r4690_log_lines() {
  sed -E 's/"time":"[^"]*"/"time":"<time>"/' "$1" | sort
}

# r4690_case_runs DIR RUN_ONCE: the runs of the case in DIR, each by the command RUN_ONCE RUN:
# "expected", then "second" when the case has one, also after a first run that failed, so that one
# look at a failing case tells about both runs and one edit fixes both. When a case with two runs
# fails, says on standard error which of them passed. Returns 0 when every run passed.
r4690_case_runs() {
  local dir=$1 run_once=$2 run runs=(expected) verdicts=() failed=0
  [[ -f "${dir}/second.stdout" ]] && runs+=(second)
  for run in "${runs[@]}"; do
    if "${run_once}" "${run}"; then
      verdicts+=("the ${run} run passes")
    else
      verdicts+=("the ${run} run fails")
      failed=1
    fi
  done
  if ((failed && ${#runs[@]} > 1)); then
    echo "$(basename "${dir}"): ${verdicts[0]}, ${verdicts[1]}" >&2
  fi
  return "${failed}"
}

# r4690_wait_scale DIR: the wait scale (QDEV_WAIT_SCALE) that a case's runs take: 10 for a case
# whose scenario waits for a time-out on purpose ("noAnswer", or a "delay" that may pass one), so
# that each 5 s time-out lasts 0.5 s and each delay a tenth of its time; 1 for any other, so that
# an answered request never times out on a busy machine.
r4690_wait_scale() {
  if grep -Eq '"action"[[:space:]]*:[[:space:]]*"(noAnswer|delay)"' "$1/scenario.json"; then
    echo 10
  else
    echo 1
  fi
}

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

# r4690_without_time_stamps FILE: a traffic record on standard output without the time-stamp
# column of its lines ("[   1234 ms] "), the form in which records compare exactly. The one place
# where scripts strip it; sim::WithoutTimeStamp does the same for the simulator's own tests.
r4690_without_time_stamps() {
  sed -E 's/^\[ *[0-9]+ ms\] //' "$1"
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
# with the run's name; returns 0 when there is none. A run that differs leaves what it gave beside
# the case, as RUN.stdout.actual, RUN.stderr.actual, RUN.traffic.actual (without time stamps) and
# RUN.exit.actual (with windows: RUN.stdout.windows.actual, ...), and says so; a run that matches
# removes those of an earlier run.
r4690_compare_run() {
  local dir=$1 run=$2 actual=$3 code=$4 line_ends=${5:-}
  local ok=0 want log=${actual%/*}/record.jsonl
  r4690_expectation "${dir}/${run}" "${actual}" "${line_ends}" stdout
  cp "${actual}.stdout" "${actual}.stdout-seen"
  r4690_group_modules "${dir}" stdout "${actual}.stdout-want" "${actual}.stdout-seen"
  if ! cmp -s "${actual}.stdout-want" "${actual}.stdout-seen"; then
    echo "${run}: standard output differs" >&2
    r4690_show_difference "${actual}.stdout-want" "${actual}.stdout-seen"
    ok=1
  fi
  if [[ -f "${dir}/${run}.log" ]]; then
    if ! cmp -s <(r4690_log_lines "${dir}/${run}.log") <(r4690_log_lines "${log}" 2>/dev/null); then
      echo "${run}: the log differs (time stamps masked, records sorted)" >&2
      r4690_show_difference <(r4690_log_lines "${dir}/${run}.log") <(r4690_log_lines "${log}")
      ok=1
    fi
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
  # The traffic record is written by the simulator's own code, in text mode too; its time stamps
  # differ from run to run.
  if [[ -f "${dir}/${run}.traffic" ]]; then
    r4690_expectation "${dir}/${run}" "${actual}" "${line_ends}" traffic
    r4690_without_time_stamps "${actual}.traffic" >"${actual}.traffic-bare"
    r4690_group_modules "${dir}" traffic "${actual}.traffic-want" "${actual}.traffic-bare"
    if ! cmp -s "${actual}.traffic-want" "${actual}.traffic-bare"; then
      echo "${run}: traffic record differs" >&2
      r4690_show_difference "${actual}.traffic-want" "${actual}.traffic-bare"
      ok=1
    fi
  fi
  r4690_keep_actual "${dir}" "${run}" "${actual}" "${code}" "${line_ends}" "${ok}"
  return "${ok}"
}

# r4690_keep_actual CASE_DIR RUN ACTUAL CODE LINE_ENDS FAILED: what r4690_compare_run leaves
# beside the case.
r4690_keep_actual() {
  local dir=$1 run=$2 actual=$3 code=$4 flavour=${5:+.$5} failed=$6 stream kept=()
  for stream in stdout stderr traffic exit log; do
    rm -f "${dir}/${run}.${stream}${flavour}.actual"
  done
  ((failed)) || return 0
  cp "${actual}.stdout" "${dir}/${run}.stdout${flavour}.actual"
  [[ -s "${actual}.stderr" ]] && cp "${actual}.stderr" "${dir}/${run}.stderr${flavour}.actual"
  [[ -f "${actual}.traffic" ]] &&
    r4690_without_time_stamps "${actual}.traffic" >"${dir}/${run}.traffic${flavour}.actual"
  echo "${code}" >"${dir}/${run}.exit${flavour}.actual"
  [[ -f "${actual%/*}/record.jsonl" ]] && cp "${actual%/*}/record.jsonl" "${dir}/${run}.log${flavour}.actual"
  for stream in stdout stderr traffic exit log; do
    [[ -f "${dir}/${run}.${stream}${flavour}.actual" ]] && kept+=("${run}.${stream}${flavour}.actual")
  done
  echo "${run}: what the run gave is kept in ${dir}: ${kept[*]}" >&2
  return 0
}
