#!/usr/bin/env bash
# Installs what is missing, builds, creates a demo payroll database and runs both operations on it.
#   scripts/demo.sh [servidores]     (default 300); everything goes to demo/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instalar-dependencias.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVLO_TESTES=OFF >/dev/null
cmake --build build-release --target kavlo DllKavlo
mkdir -p demo
kavlo=build-release/kavlo
banco="$PWD/demo/folha.fdb"
$kavlo demo --substituir --banco "$banco" --retorno demo/retorno.txt --servidores "${1:-300}" --mes 2 --ano 2024
$kavlo gerar --mes 2 --mes-anterior 1 --ano 2024 --banco "$banco" --saida demo/ \
  --filtro "select matricula from SFP001FEV"
$kavlo importar --mes 2 --ano 2024 --banco "$banco" --resultado demo/resultado.txt \
  --retorno demo/retorno.txt --folhas MENSAL --verifica-margem S
ls -l demo/
