# Checks for the shell tests, which count their failures in $failures and end with
# `exit $((failures > 0))`.
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# expect_same EXPECTED ACTUAL WHAT
expect_same() {
  [ "$1" == "$2" ] || fail "$3: expected [$1], got [$2]"
}
