# The tally of the shell test scripts (tests/e2e/talvenook_service_e2e.sh,
# tests/iconservice/run_production.sh). Source it; it defines:
#   check DESCRIPTION EXPECTED ACTUAL   counts a pass, or prints the failure and counts it
#   report NAME                         prints "NAME: P passed, F failed"; fails when any failed
passed=0
failed=0
check() {
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}
report() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" = 0 ]
}
