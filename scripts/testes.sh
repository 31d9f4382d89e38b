#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/testes.sh                 Debug build in build/
#   SANITIZERS=1 scripts/testes.sh    the same with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instalar-dependencias.sh
if [ "${SANITIZERS:-0}" = 1 ]; then
  pasta=build-san
  extra=(-DKAVLO_SANITIZERS=ON -DCMAKE_CXX_COMPILER=clang++ -DKAVLO_BENCH=OFF)
  # Firebird's engine keeps some allocations until the process ends; leaks are checked with valgrind.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  pasta=build
  extra=()
fi
cmake -S . -B "$pasta" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVLO_WERROR=ON "${extra[@]}" >/dev/null
cmake --build "$pasta"
ctest --test-dir "$pasta" --output-on-failure -j2
