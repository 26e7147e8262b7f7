#!/usr/bin/env bash
# scripts/check-layers on a small fake tree: an include that looks up the
# layers, or across to a neighbour on the top rank, fails naming file, line
# and include; includes that look down, within a folder, from python to driver
# and from tests to anything pass.
# usage: check_layers_test.sh PATH/TO/check-layers
set -euo pipefail
check_layers=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
cd "$tree"

mkdir -p base renderer driver python tools tests/renderer
printf '#pragma once\n' >base/a.h
printf '#include "base/a.h"\n#include "renderer/foo.h"\n#include "driver/command_line.h"\n' \
  >renderer/foo.cpp
printf '#include "renderer/foo.h"\n' >driver/command_line.h
printf '#include "driver/command_line.h"\n' >python/module.cpp
printf '#include "tools/synth.h"\n#include "python/module.h"\n' >tools/synth.cpp
printf '#include "driver/command_line.h"\n#include "tools/synth.h"\n' >tests/renderer/foo_test.cpp

fail() { echo "check_layers_test: $*" >&2; exit 1; }

status=0
err=$("$check_layers" "$tree" 2>&1 >/dev/null) || status=$?
expected='check-layers: renderer/foo.cpp:3 includes "driver/command_line.h" (renderer may include only base, calibration, renderer)
check-layers: tools/synth.cpp:2 includes "python/module.h" (tools may include only base, calibration, renderer, pipeline, io, windows, driver, tools)'
[[ $status == 1 ]] || fail "upward includes: exit status $status, expected 1"
[[ $err == "$expected" ]] || fail "upward includes: stderr was
$err"

# Without the two upward includes the tree passes, silently on stderr.
sed -i 3d renderer/foo.cpp
sed -i 2d tools/synth.cpp
status=0
err=$("$check_layers" "$tree" 2>&1 >/dev/null) || status=$?
[[ $status == 0 && -z $err ]] || fail "clean tree: exit status $status, stderr: $err"
echo "check_layers_test: ok"
