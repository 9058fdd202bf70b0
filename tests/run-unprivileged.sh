#!/bin/bash
# Runs the permission cases of the test binary as a user the permission bits
# stop: as nobody when started by root, else as the user who started it. The
# binary is copied where nobody can reach it, as the build folder may be in a
# home that nobody may not enter; nobody gets a home folder of its own, as a
# real user has. Usage: run-unprivileged.sh TEST-BINARY
set -u
binary=$1
filter=--gtest_filter='Unprivileged*'
if [ "$(id -u)" -ne 0 ]; then
    exec "$binary" "$filter"
fi
work=$(mktemp -d /tmp/varne-unprivileged-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$binary" "$work/tests"
mkdir "$work/home"
chmod 755 "$work" "$work/tests"
chown nobody:nogroup "$work/home"
chmod 700 "$work/home"
setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME="$work/home" XDG_RUNTIME_DIR="$work/home" QT_QPA_PLATFORM=offscreen "$work/tests" "$filter"
