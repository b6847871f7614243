#!/usr/bin/env bash
# The rule library exports its two C functions and nothing else, and needs no
# library beyond the C and C++ runtimes (and a sanitizer's).
set -euo pipefail
lib=$1
status=0
exported=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort | tr '\n' ' ')
if [ "$exported" != "QDX_processFrameSingle QDX_setRule " ]; then
  echo "exports: $exported"; status=1
fi
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
others=$(grep -Ev '^(libstdc\+\+|libm|libgcc_s|libc|ld-linux-x86-64|libasan|libubsan|libtsan)\.so' \
         <<<"$needed" || true)
if [ -n "$others" ]; then
  echo "needs: $others"; status=1
fi
internal=$(nm -C "$lib" 2>/dev/null | grep -E 'orvale::(common|platform|recorder)::' || true)
if [ -n "$internal" ]; then
  echo "holds engine code:"; echo "$internal"; status=1
fi
[ $status -eq 0 ] && echo "exports ok: QDX_setRule QDX_processFrameSingle"
exit $status
