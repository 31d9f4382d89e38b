#!/usr/bin/env bash
# Builds the Windows DLL on Debian 12 and tests it under wine:
#   cross-builds the 32-bit DllKavlo.dll that the payroll application loads, with its tests, into
#   build-win/, shows the DLL's export table and imports and checks them; then runs under wine the
#   database-free unit tests and the host program (tests/windows/):
#   - where this machine executes 32-bit programs: the 32-bit ones, under wine32;
#   - where it cannot (a kernel without 32-bit support, "Exec format error"): the same tests and
#     host built for 64-bit Windows into build-win64/, under 64-bit wine. The host prints the
#     checks that only mean something in 32 bits (decorated __stdcall names, the x87 control
#     word) as "pulado: <check>: <why>"; everything else runs in both.
#   One line says which of the two ran and why. Installs what is missing: g++-mingw-w64-i686-posix,
#   then wine with wine32:i386, or g++-mingw-w64-x86-64-posix and wine64 (nothing of i386 where it
#   could not run).
#   BUILD_TYPE=Debug scripts/windows.sh       another build type (default Release)
#   KAVLO_WINDOWS_BITS=64 scripts/windows.sh  the 64-bit run even where 32-bit programs run
#   KAVLO_WINDOWS_BITS=32 scripts/windows.sh  the 32-bit run, refused where it cannot run
set -euo pipefail
source "$(dirname "$0")/comum.sh"
source "$(dirname "$0")/comum-windows.sh"
cd "$(dirname "$0")/.."
raiz=$PWD
pasta=$raiz/build-win
pasta64=$raiz/build-win64

escolher_bits "$pasta"
# The 32-bit compiler always: the 32-bit DLL is what ships.
instalar_windows cmake ninja-build firebird-dev googletest g++-mingw-w64-i686-posix

# Shows the DLL's exports and imports and checks them: exactly the two operations, by their plain
# names, and only system DLLs (no MinGW runtime to ship, no fbclient.dll bound at load).
verificar_dll() {
  local dump exportados importados
  dump=$("$1-objdump" -p "$2")
  exportados=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/\[/ && NR > 1 {print $NF}' | sort)
  importados=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | sort -f)
  echo "exporta: $(echo $exportados)"
  echo "importa: $(echo $importados)"
  if [ "$(echo $exportados)" != "GerarArquivo ImportarArquivo" ]; then
    echo "$2 deve exportar exatamente GerarArquivo e ImportarArquivo" >&2
    exit 1
  fi
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | oleaut32.dll | user32.dll | advapi32.dll | normaliz.dll) ;;
      *) echo "$2 importa $dll, que não é do sistema" >&2; exit 1 ;;
    esac
  done <<<"$importados"
}

# Configures and builds everything, tests included, into folder $1 with toolchain file $2.
compilar() {
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
        -DKAVLO_WERROR=ON >/dev/null
  cmake --build "$1"
}

# The 32-bit build always, tests included: it is what ships, and its tests must keep building
# even where they cannot run.
echo "== Compilação cruzada (i686-w64-mingw32)" >&2
compilar "$pasta" cmake/mingw-i686.cmake
echo "== Exportações e importações de DllKavlo.dll (32 bits)" >&2
verificar_dll i686-w64-mingw32 "$pasta/DllKavlo.dll"

if [ "$bits" = 32 ]; then
  testes=$pasta
  resumo="Testes do Windows: 32 bits, sob wine32 ($motivo)"
else
  echo "== Compilação cruzada (x86_64-w64-mingw32), para os testes sob wine de 64 bits" >&2
  compilar "$pasta64" cmake/mingw-x86_64.cmake
  echo "== Exportações e importações de DllKavlo.dll (64 bits, só para os testes)" >&2
  verificar_dll x86_64-w64-mingw32 "$pasta64/DllKavlo.dll"
  testes=$pasta64
  resumo="Testes do Windows: 64 bits, sob wine64 ($motivo); as verificações só de 32 bits foram puladas pelo nome"
fi
echo "$resumo"

echo "== Testes sob wine" >&2
trap parar_wine EXIT
usar_wine "$testes/wineprefix"
timeout 900 ctest --test-dir "$testes" --output-on-failure
# The host's skipped checks, which a passing ctest run does not show.
grep -h '^pulado:' "$testes/Testing/Temporary/LastTest.log" || true
echo "$resumo"
