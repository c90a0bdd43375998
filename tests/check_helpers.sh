# Sourced by the check scripts: a scratch folder, removed on exit, and
# fail, which records a failure and lets the script go on checking.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
