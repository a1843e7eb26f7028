# The share of test code among the repository's C++ lines, counted as the owner counts it: the
# C++ files that git knows of or would add (\.(c|cc|cpp|h|hpp|inc)$), blank lines and lines with
# only a // comment left out; test code is every *_test.* file, everything under tests/ and
# everything under a testing/ folder. Sourced by scripts/test; bash only.

# r4690_test_share: "test code: N% of C++ lines (T of A)" for the repository of the working
# folder, on standard output.
r4690_test_share() {
  local files tests all
  files=$(git ls-files -co --exclude-standard | grep -E '\.(c|cc|cpp|h|hpp|inc)$' |
    while read -r f; do [[ -f "${f}" ]] && echo "${f}"; done)
  all=$(xargs -r cat <<<"${files}" | grep -cvE '^\s*(//.*)?$' || true)
  tests=$(grep -E '_test\.[a-z]+$|^tests/|(^|/)testing/' <<<"${files}" | xargs -r cat |
    grep -cvE '^\s*(//.*)?$' || true)
  echo "test code: $((all == 0 ? 0 : 100 * tests / all))% of C++ lines (${tests} of ${all})"
}
