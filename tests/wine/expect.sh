# The checks' tally: expect NAME EXPECTED ACTUAL counts a check and prints the ones that fail,
# expected beside actual; tally prints the closing line and succeeds when none failed and
# something was judged at all.
passed=0
failed=0
expect() {  # expect NAME EXPECTED ACTUAL
  if [[ "$2" == "$3" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n  expected: [%s]\n  actual:   [%s]\n' "$1" "$2" "$3"
  fi
}
tally() {
  echo "$passed passed, $failed failed"
  if ((passed + failed == 0)); then
    echo "FAIL nothing was judged"
    return 1
  fi
  [[ $failed -eq 0 ]]
}
