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
cd "$(dirname "$0")/.."
raiz=$PWD
pasta=$raiz/build-win
pasta64=$raiz/build-win64

# Whether the kernel executes 32-bit x86 programs, known before anything of i386 is installed
# (/lib/ld-linux.so.2 only comes with the i386 C library): a static ELF32 program of 93 bytes,
# written here, whose only instructions are exit(42).
executa_32_bits() {
  local sonda="$1/sonda-32-bits"
  mkdir -p "$1"
  {
    # ELF header: 32-bit, little-endian, executable for i386, entry 0x08048054, one program header
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
    # program header: the whole file loaded read+execute at 0x08048000
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # xor ebx,ebx; mov bl,42; xor eax,eax; inc eax (exit); int 0x80
    printf '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80'
  } >"$sonda"
  chmod +x "$sonda"
  local codigo=0
  "$sonda" 2>/dev/null || codigo=$?
  rm -f "$sonda"
  [ "$codigo" -eq 42 ]
}

if executa_32_bits "$pasta"; then
  capaz=1
  motivo="esta máquina executa programas de 32 bits"
else
  capaz=0
  motivo="o kernel desta máquina não executa programas de 32 bits"
fi
case "${KAVLO_WINDOWS_BITS:-}" in
  "") bits=$((capaz ? 32 : 64)) ;;
  64) bits=64; motivo="pedido por KAVLO_WINDOWS_BITS=64; $motivo" ;;
  32)
    bits=32
    if [ "$capaz" = 0 ]; then
      echo "KAVLO_WINDOWS_BITS=32, mas $motivo: use 64 ou deixe a variável vazia." >&2
      exit 1
    fi
    motivo="pedido por KAVLO_WINDOWS_BITS=32; $motivo" ;;
  *) echo "KAVLO_WINDOWS_BITS deve ser 32 ou 64 (ou vazia, para decidir pela máquina)." >&2; exit 1 ;;
esac

sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"
pacotes=(cmake ninja-build firebird-dev googletest g++-mingw-w64-i686-posix wine)
if [ "$bits" = 32 ]; then
  pacotes+=(wine32:i386)
else
  pacotes+=(g++-mingw-w64-x86-64-posix wine64)
fi
mapfile -t faltam < <(pacotes_faltando "${pacotes[@]}")
if ((${#faltam[@]})); then
  echo "Instalando: ${faltam[*]}" >&2
  if [ "$bits" = 32 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo_ dpkg --add-architecture i386
  fi
  $sudo_ apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq --no-install-recommends "${faltam[@]}" >/dev/null
fi

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
      kernel32.dll | msvcrt.dll | oleaut32.dll | user32.dll | advapi32.dll) ;;
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
  wine=wine
  resumo="Testes do Windows: 32 bits, sob wine32 ($motivo)"
else
  echo "== Compilação cruzada (x86_64-w64-mingw32), para os testes sob wine de 64 bits" >&2
  compilar "$pasta64" cmake/mingw-x86_64.cmake
  echo "== Exportações e importações de DllKavlo.dll (64 bits, só para os testes)" >&2
  verificar_dll x86_64-w64-mingw32 "$pasta64/DllKavlo.dll"
  testes=$pasta64
  # /usr/bin/wine takes the 32-bit loader whenever wine32 is installed.
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine WINEARCH=win64
  resumo="Testes do Windows: 64 bits, sob wine64 ($motivo); as verificações só de 32 bits foram puladas pelo nome"
fi
echo "$resumo"

echo "== Testes sob wine" >&2
export WINEPREFIX=$testes/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
timeout 900 ctest --test-dir "$testes" --output-on-failure
# The host's skipped checks, which a passing ctest run does not show.
grep -h '^pulado:' "$testes/Testing/Temporary/LastTest.log" || true
echo "$resumo"
