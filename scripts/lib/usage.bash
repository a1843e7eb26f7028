# The command line of every script (scripts/* and tests/e2e/run-case), one convention for all:
# a script begins with a comment whose first lines are its usage ("usage: scripts/NAME ...") and
# whose next paragraph says what it does and how long it takes on two idle cores. --help or -h
# prints those to standard output and exits 0 before anything is built, installed or changed; an
# unknown option, or an option without its value, prints the usage on standard error and exits 2.
# Sourced by each script before it does anything else; bash only. scripts/check-scripts holds
# every script to it.

r4690_script_file=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

# r4690_help: the usage and the paragraph after it (the script's first comment up to its second
# blank comment line), without the "# ", on standard output; exits 0.
r4690_help() {
  awk 'NR == 1 { next }
       !/^#/ { exit }
       /^#$/ && ++blank == 2 { exit }
       { sub(/^# ?/, ""); print }' "${r4690_script_file}"
  exit 0
}

# r4690_usage_error [WHY]: WHY, when given, and the usage on standard error; exits 2.
r4690_usage_error() {
  [[ -z "${1:-}" ]] || echo "$(basename "${r4690_script_file}"): $1" >&2
  awk 'NR == 1 { next } !/^#/ || /^#$/ { exit } { sub(/^# ?/, ""); print }' \
    "${r4690_script_file}" >&2
  exit 2
}

# r4690_no_options "$@": the whole command line of a script that takes no arguments.
r4690_no_options() {
  case "${1:-}" in
    "") ;;
    -h | --help) r4690_help ;;
    *) r4690_usage_error "unknown argument $1" ;;
  esac
  (($# <= 1)) || r4690_usage_error "unknown argument $2"
}

# r4690_need_value "$@": with the option in $1, refuses it unless a value follows.
r4690_need_value() {
  (($# >= 2)) && [[ "$2" != -* ]] || r4690_usage_error "$1 needs a value"
}
