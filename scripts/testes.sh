#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/testes.sh                 Debug build in build/
#   SANITIZERS=1 scripts/testes.sh    the same with AddressSanitizer and UndefinedBehaviorSanitizer
# As root it first installs and starts the local Firebird server (scripts/servidor-firebird.sh), so
# that the tests that kill it, mount a tmpfs or reach a database as "localhost:" run too and
# nothing is skipped. Without root those tests are skipped. Either way the run ends listing every
# skipped test with its reason, and the count.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instalar-dependencias.sh
if [ "$(id -u)" -eq 0 ]; then
  scripts/servidor-firebird.sh
else
  echo "Sem root: os testes que derrubam o servidor Firebird, montam um tmpfs ou usam um banco" \
       "\"localhost:\" serão pulados (execute como root para incluí-los)." >&2
fi
if [ "${SANITIZERS:-0}" = 1 ]; then
  pasta=build-san
  extra=(-DKAVLO_SANITIZERS=ON -DCMAKE_CXX_COMPILER=clang++ -DKAVLO_BENCH=OFF)
  # Firebird's engine keeps some allocations until the process ends; leaks are checked with valgrind.
  # A sanitizer's finding aborts, so that ctest counts it as a failure even after a skipped test.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1
else
  pasta=build
  extra=()
fi
cmake -S . -B "$pasta" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVLO_WERROR=ON "${extra[@]}" >/dev/null
cmake --build "$pasta"
resultado=0
ctest --test-dir "$pasta" --output-on-failure -j2 || resultado=$?

# Skipped tests and why: ctest only names them, their output (gtest's "file:line: Skipped" and the
# reason on the next line) is in the run's log.
log="$pasta/Testing/Temporary/LastTest.log"
if [ -f "$log" ]; then
  awk '
    BEGIN { pulados = 0 }
    /^[0-9]+\/[0-9]+ Test: / {
      nome = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", nome); motivo = ""; aprovado = 0; next
    }
    /: Skipped$/ { if ((getline linha) > 0) motivo = linha; next }
    /^Test (Pass|Fail) Reason:$/ { aprovado = ($2 == "Pass"); next }
    /^Skip regular expression found in output/ && aprovado {
      pulados++
      printf "pulado: %s: %s\n", nome, (motivo == "" ? "(sem motivo informado)" : motivo)
    }
    END { printf "%d teste(s) pulado(s)\n", pulados }
  ' "$log"
fi
exit "$resultado"
