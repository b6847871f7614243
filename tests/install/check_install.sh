#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what lies there, and
# builds and runs a host program that finds the engine with find_package.
# Arguments: the build folder, the host project's folder, the C++ compiler
# and the flags the host needs to link the build's libraries (sanitizers).
set -euo pipefail
build=$1
host=$2
compiler=$3
flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'libostrel.so.0' -printf '%h\n' | head -n1)
status=0
for path in "$libdir/libostrel.so" "$libdir/libpimbrel.so" "$prefix/bin/zolvane" \
            "$prefix/include/pimbrel/Pimbrel.h" \
            "$prefix/include/ostrel/recorder/api/MediaRecorder.h" \
            "$libdir/cmake/ostrel/ostrelConfig.cmake" \
            "$libdir/cmake/ostrel/ostrelConfigVersion.cmake"; do
  [ -e "$path" ] || { echo "not installed: ${path#"$prefix"/}"; status=1; }
done
# The installed program takes the installed library.
found=$(ldd "$prefix/bin/zolvane" | awk '/libostrel\.so\.0 =>/ {print $3}')
if [ -z "$found" ] || [ "$(realpath "$found")" != "$(realpath "$libdir/libostrel.so.0")" ]; then
  echo "zolvane does not take the installed libostrel: ${found:-none}"
  status=1
fi
[ $status -eq 0 ] || exit $status

cmake -S "$host" -B "$work/host" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$compiler" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/host" >/dev/null
"$work/host/host"
echo "installed package ok"
