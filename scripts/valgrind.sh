#!/usr/bin/env bash
# One generation and one import of a small demo payroll under valgrind's memcheck, and a call
# whose statement fails to prepare: no invalid access, no use of uninitialised memory, no definite
# leak. Uses the Debug build of scripts/testes.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { apt-get update -qq && apt-get install -y -qq valgrind >/dev/null; }
[ -x build/kavlo ] || { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null && cmake --build build --target kavlo; }
pasta=$(mktemp -d)
trap 'rm -rf "$pasta"' EXIT
build/kavlo demo --banco "$pasta/folha.fdb" --retorno "$pasta/retorno.txt" --servidores 60 2>/dev/null
vg=(valgrind --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite -q)
"${vg[@]}" build/kavlo gerar --mes 2 --mes-anterior 1 --ano 2024 --banco "$pasta/folha.fdb" --saida "$pasta/" \
  --filtro "select matricula from SFP001FEV"
"${vg[@]}" build/kavlo importar --mes 2 --ano 2024 --banco "$pasta/folha.fdb" --resultado "$pasta/resultado.txt" \
  --retorno "$pasta/retorno.txt" --folhas MENSAL --verifica-margem S
# A filter naming a column that does not exist: preparing fails, the call fails, nothing leaks.
set +e
"${vg[@]}" build/kavlo gerar --mes 2 --mes-anterior 1 --ano 2024 --banco "$pasta/folha.fdb" --saida "$pasta/" \
  --filtro "select coluna_que_nao_existe from SFP001FEV" 2>"$pasta/erro.txt"
codigo=$?
set -e
if [ "$codigo" -eq 0 ] || [ "$codigo" -eq 9 ] || ! grep -q "citada no filtro não existe" "$pasta/erro.txt"; then
  cat "$pasta/erro.txt" >&2
  echo "valgrind: a chamada com um comando que não se prepara não falhou como devia (código $codigo)" >&2
  exit 1
fi
echo "valgrind: geração, importação e comando que não se prepara sem erros de memória"
