#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instalar-dependencias.sh
segundos="${1:-30}"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKAVLO_SANITIZERS=ON -DKAVLO_FUZZ=ON -DKAVLO_TESTES=OFF -DKAVLO_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_leitura fuzz_numeros fuzz_texto fuzz_linha
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
falhou=0
for alvo in fuzz_leitura fuzz_numeros fuzz_texto fuzz_linha; do
  trabalho=$(mktemp -d)
  cp fuzz/corpus/$alvo/* "$trabalho"/
  log="$trabalho.log"
  if build-fuzz/fuzz/$alvo -max_total_time="$segundos" -print_final_stats=1 -artifact_prefix="$trabalho/" \
       "$trabalho" >"$log" 2>&1; then
    echo "$alvo: $(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}') execuções, nenhuma falha"
  else
    echo "$alvo: FALHOU" >&2
    grep -E "propriedade|ERROR|SUMMARY|runtime error" "$log" | head -20 >&2
    ls "$trabalho"/crash-* "$trabalho"/leak-* "$trabalho"/timeout-* 2>/dev/null >&2 || true
    falhou=1
  fi
  [ "$falhou" = 1 ] && [ -n "${MANTER:-}" ] && continue
  rm -rf "$trabalho" "$log"
done
exit $falhou
