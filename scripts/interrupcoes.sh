#!/usr/bin/env bash
# No interruption corrupts a database, at the size of a state's payroll: kavlo importar and kavlo
# estornar interrupted at random moments by SIGINT, SIGTERM and SIGKILL, embedded and (as root,
# with a local server started) through "localhost:", every run validated by Firebird's own full
# validation (gfix -v -full) and its table held against the states before and after. Prints every
# run and the figures: runs, signals, moments, outcomes, validation errors. Release build.
#   scripts/interrupcoes.sh [servants] [runs of each access] [seed] [signals]
# (100000, 28, 1 and INT,TERM,KILL by default; KILL alone, for instance, to look at kills only)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instalar-dependencias.sh
[ "$(id -u)" -eq 0 ] && scripts/servidor-firebird.sh
cmake -S . -B build-interrupcoes -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVLO_BENCH=OFF >/dev/null
cmake --build build-interrupcoes --target kavlo kavlo_testes_servidor
KAVLO_INTERRUPCOES_SERVIDORES="${1:-100000}" KAVLO_INTERRUPCOES_EXECUCOES="${2:-28}" \
KAVLO_INTERRUPCOES_SEMENTE="${3:-1}" KAVLO_INTERRUPCOES_SINAIS="${4:-INT,TERM,KILL}" \
  build-interrupcoes/tests/kavlo_testes_servidor --gtest_filter='Interrupcoes.*' --gtest_brief=1
