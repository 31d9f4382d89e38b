#!/usr/bin/env bash
# Builds in Release and measures GerarArquivo and ImportarArquivo on demo payrolls of 100,000 and
# 1,000,000 servants, embedded and (as root, with a local server started) through "localhost:",
# beside the raw references; prints times, peak memory and the ratios against their targets.
# The million takes long: progress goes to standard error.
#   scripts/desempenho.sh [sizes...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instalar-dependencias.sh
[ "$(id -u)" -eq 0 ] && scripts/servidor-firebird.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVLO_TESTES=OFF >/dev/null
cmake --build build-release --target kavlo kavlo_hospedeiro kavlo_desempenho kavlo_bench
build-release/bench/kavlo_desempenho "$@"
