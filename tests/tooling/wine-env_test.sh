#!/usr/bin/env bash
# Which Wine loader the scripts take, and whether the x86 tests run, on a
# machine of either kind: stand-in loaders play a 32-bit Wine that runs, one
# that is installed but cannot execute (a kernel without IA-32 emulation)
# and one that is missing.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

check() {  # check NAME CONDITION-EXIT-CODE [DETAIL]
  if [ "$2" -eq 0 ]; then echo "ok: $1"; else echo "FAILED: $1${3:+: $3}"; failures=$((failures + 1)); fi
}

# An ELF header the kernel refuses: execve answers "Exec format error".
unrunnable=$scratch/wine32-unrunnable
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000' >"$unrunnable"
head -c 200 /dev/zero >>"$unrunnable"
chmod +x "$unrunnable"
runnable=$scratch/wine32-runnable
printf '#!/bin/sh\necho wine-8.0\n' >"$runnable"
chmod +x "$runnable"

output=$(PELKO_WINE32=$unrunnable "$repo/tools/wine-env" check32); rc=$?
[ "$rc" -ne 0 ] && [[ "$output" == *"does not run on this machine"* ]] && [[ "$output" == *"Exec format error"* ]]
check "an installed loader that cannot execute counts as no 32-bit Wine, and says why" $? "rc=$rc, said: $output"

output=$(PELKO_WINE32=$scratch/missing "$repo/tools/wine-env" check32); rc=$?
[ "$rc" -ne 0 ] && [[ "$output" == *"not installed"* ]]
check "a missing loader counts as no 32-bit Wine" $? "rc=$rc, said: $output"

output=$(PELKO_WINE32=$runnable "$repo/tools/wine-env" check32); rc=$?
[ "$rc" -eq 0 ] && [ "$output" = usable ]
check "a loader that runs counts as a 32-bit Wine" $? "rc=$rc, said: $output"

# PE files of each machine type: the loader follows the type, not /usr/bin/wine.
make_pe() {  # make_pe FILE MACHINE-BYTES
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000'; printf 'PE\000\000'; printf "$2"; head -c 64 /dev/zero; } >"$1"
}
make_pe "$scratch/x86.exe" '\114\001'
make_pe "$scratch/x64.exe" '\144\206'
for case in "x86.exe 32" "x64.exe 64"; do
  set -- $case
  output=$(PELKO_WINE32=/loader32 PELKO_WINE64=/loader64 "$repo/tools/wine-env" loader "$scratch/$1")
  [ "$output" = "/loader$2" ]
  check "$1 runs with the $2-bit loader" $? "took $output"
done

# The x86 build registers its tests only where the loader runs.
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
  for case in "unrunnable 1" "runnable 0"; do
    set -- $case
    loader=$scratch/wine32-$1
    log=$(cmake -S "$repo" -B "$scratch/x86-$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86.cmake" \
            -DPELKO_WINE32="$loader" 2>&1)
    configured=$?
    grep -q "x86 tests skipped: built, not run: the 32-bit Wine loader $loader does not run" <<<"$log"
    said=$?
    if [ "$2" -eq 1 ]; then [ "$configured" -eq 0 ] && [ "$said" -eq 0 ]; else [ "$configured" -eq 0 ] && [ "$said" -ne 0 ]; fi
    check "the x86 build with a $1 loader $([ "$2" -eq 1 ] && echo "says its tests are not run, and why" || echo "runs its tests")" $? \
      "$(tail -n 5 <<<"$log")"
  done
else
  echo "skipped: the x86 configure cases (no i686 mingw compiler here)"
fi

[ "$failures" -eq 0 ]
