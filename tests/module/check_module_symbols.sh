#!/bin/sh
# The built module exports exactly its two entry points, runs no static
# initialiser of its own and calls no allocator (a raised error code's
# exception object is the runtime's business).
set -eu
module="$1"
status=0

exports=$(nm -D --defined-only "$module" | awk '{print $3}' | sort | tr '\n' ' ')
if [ "$exports" != "EffectMain PluginDataEntryFunction " ]; then
  echo "exported symbols: $exports"; status=1
fi

initialisers=$(nm "$module" | grep -E '_GLOBAL__sub_I|_GLOBAL__I_' || true)
if [ -n "$initialisers" ]; then
  echo "static initialisers: $initialisers"; status=1
fi

allocators=$(nm -D --undefined-only "$module" |
  grep -E ' (_Znwm|_Znam|_ZnwmRKSt9nothrow_t|_ZnamRKSt9nothrow_t|_ZnwmSt11align_val_t|malloc|calloc|realloc|free|aligned_alloc)(@|$)' || true)
if [ -n "$allocators" ]; then
  echo "allocator calls: $allocators"; status=1
fi
exit $status
