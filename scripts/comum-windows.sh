# Shared by the scripts that run Windows programs under wine (sourced after comum.sh):
# scripts/windows.sh (the DLL's tests) and scripts/gerar-melhor-ajuste.sh (the code page map).
#   escolher_bits <pasta>          sets bits (32 or 64) and motivo, from the machine and
#                                  KAVLO_WINDOWS_BITS; exits when the choice cannot run
#   instalar_windows <pacote>...   installs the MinGW compiler and the wine of that choice (nothing
#                                  of i386 for 64 bits) and the given packages, when missing
#   usar_wine <prefixo>            sets wine (the loader to run) and mingw (the compiler's prefix),
#                                  exports the wine environment with that prefix and starts it;
#                                  the caller stops its wineserver on exit (parar_wine)

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

escolher_bits() {
  local capaz
  if executa_32_bits "$1"; then
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
}

instalar_windows() {
  local sudo_="" pacotes=(wine "$@")
  [ "$(id -u)" -eq 0 ] || sudo_="sudo"
  if [ "$bits" = 32 ]; then
    pacotes+=(g++-mingw-w64-i686-posix wine32:i386)
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
}

usar_wine() {
  if [ "$bits" = 32 ]; then
    wine=wine
    mingw=i686-w64-mingw32
  else
    # /usr/bin/wine takes the 32-bit loader whenever wine32 is installed.
    wine=/usr/lib/wine/wine64
    mingw=x86_64-w64-mingw32
    export WINELOADER=$wine WINEARCH=win64
  fi
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
}

parar_wine() {
  wineserver -k >/dev/null 2>&1 || true
}
