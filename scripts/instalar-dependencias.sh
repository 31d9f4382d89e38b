#!/usr/bin/env bash
# Installs, on Debian 12, what building and testing DllKavlo needs; does nothing when it is all there.
set -euo pipefail
source "$(dirname "$0")/comum.sh"
pacotes=(cmake ninja-build g++ clang libclang-rt-14-dev
         firebird3.0-server-core firebird3.0-utils firebird-dev libfbclient2
         libgtest-dev libgmock-dev libbenchmark-dev libfmt-dev libcli11-dev nlohmann-json3-dev
         nettle-dev libicu-dev pkgconf)
mapfile -t faltam < <(pacotes_faltando "${pacotes[@]}")
if ((${#faltam[@]})); then
  echo "Instalando: ${faltam[*]}" >&2
  sudo_=""
  [ "$(id -u)" -eq 0 ] || sudo_="sudo"
  $sudo_ apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq "${faltam[@]}" >/dev/null
fi
