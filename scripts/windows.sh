#!/usr/bin/env bash
# Builds the 32-bit Windows DLL on Debian 12 and tests it under wine:
#   installs what is missing (g++-mingw-w64-i686-posix, wine with wine32), cross-builds into
#   build-win/, shows the DLL's export table and imports and checks them, then runs under wine
#   the database-free unit tests and the host program (tests/windows/).
#   BUILD_TYPE=Debug scripts/windows.sh     another build type (default Release)
set -euo pipefail
cd "$(dirname "$0")/.."
raiz=$PWD
pasta=$raiz/build-win

sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"
pacotes=(cmake ninja-build firebird-dev googletest g++-mingw-w64-i686-posix wine wine32:i386)
faltam=()
for p in "${pacotes[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || faltam+=("$p")
done
if ((${#faltam[@]})); then
  echo "Instalando: ${faltam[*]}" >&2
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo_ dpkg --add-architecture i386
  $sudo_ apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq --no-install-recommends "${faltam[@]}" >/dev/null
fi

echo "== Compilação cruzada (i686-w64-mingw32)" >&2
cmake -S . -B "$pasta" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" -DKAVLO_WERROR=ON >/dev/null
cmake --build "$pasta"

echo "== Exportações e importações de DllKavlo.dll" >&2
dump=$(i686-w64-mingw32-objdump -p "$pasta/DllKavlo.dll")
exportados=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/\[/ && NR > 1 {print $NF}' | sort)
importados=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | sort -f)
echo "exporta: $(echo $exportados)"
echo "importa: $(echo $importados)"
if [ "$(echo $exportados)" != "GerarArquivo ImportarArquivo" ]; then
  echo "DllKavlo.dll deve exportar exatamente GerarArquivo e ImportarArquivo" >&2
  exit 1
fi
# Only system DLLs: no MinGW runtime to ship, and no fbclient.dll bound at load.
while read -r dll; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | oleaut32.dll | user32.dll | advapi32.dll) ;;
    *) echo "DllKavlo.dll importa $dll, que não é do sistema" >&2; exit 1 ;;
  esac
done <<<"$importados"

echo "== Testes sob wine" >&2
export WINEPREFIX=$pasta/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
timeout 300 wineboot -i >/dev/null 2>&1 || true
timeout 900 ctest --test-dir "$pasta" --output-on-failure
