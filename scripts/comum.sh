# Shared by the scripts (sourced): which of the given Debian packages are not installed yet.
#   mapfile -t faltam < <(pacotes_faltando cmake g++ ...)
pacotes_faltando() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
