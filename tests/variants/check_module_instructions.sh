#!/bin/sh
# The built modules hold no fused multiply-add (the look rounds every product
# on its own), do carry the AVX2 look, and leave feature detection to the
# render command: no libgcc probe that runs at load time. The Windows module
# also has no aligned 32-byte moves, which a 16-byte aligned Win64 stack
# could fault on. Arguments: objdump nm module [windows-objdump windows-module].
set -eu
objdump="$1"; nm="$2"; module="$3"
status=0

check_code() {
  tool="$1"; file="$2"
  code=$("$tool" -d --no-show-raw-insn "$file")
  fused=$(printf '%s\n' "$code" | grep -E '\svfn?m(add|sub)' | head -5 || true)
  if [ -n "$fused" ]; then echo "$file: fused multiply-add: $fused"; status=1; fi
  if ! printf '%s\n' "$code" | grep -qE '\svpermpd\s.*%ymm'; then
    echo "$file: no AVX2 look code"; status=1
  fi
}

check_code "$objdump" "$module"
probe=$("$nm" "$module" | grep -E '__cpu_indicator_init|__cpu_model' || true)
if [ -n "$probe" ]; then echo "$module: libgcc CPU probe linked in: $probe"; status=1; fi

if [ $# -ge 5 ]; then
  win_objdump="$4"; win_module="$5"
  if [ -f "$win_module" ] && command -v "$win_objdump" >/dev/null 2>&1; then
    check_code "$win_objdump" "$win_module"
    aligned=$("$win_objdump" -d --no-show-raw-insn "$win_module" |
      grep -E '\s(vmovapd|vmovaps|vmovdqa(64|32)?)\s.*%ymm' | head -5 || true)
    if [ -n "$aligned" ]; then echo "$win_module: aligned 32-byte moves: $aligned"; status=1; fi
  else
    echo "no windows module at $win_module: its checks are skipped"
  fi
fi
exit $status
