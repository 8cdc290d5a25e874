# Shared by the scripts of scripts/ and bench/ (sourced, never run): the catalogue tables'
# file names, the package check and the help printer.
# A script sources it after computing $root:  source "$root/scripts/lib.sh"
# shellcheck shell=bash

# The file names of the two catalogue tables, in Shift_JIS bytes: "図書.DBF" and "貸出返却.DBF".
# shellcheck disable=SC2034  # used by the scripts that source this file
book_table=$'\x90\x7d\x8f\x91.DBF'
# shellcheck disable=SC2034
loan_table=$'\x91\xdd\x8f\x6f\x95\xd4\x8b\x70.DBF'

# The packages every build and test needs; setup_packages adds them to those it is given.
shelfra_packages=(build-essential cmake python3 libgtest-dev nlohmann-json3-dev libfcgi-dev libfcgi-bin)

# True when the Debian package NAME is installed.
has_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# setup_packages [NAME...]: installs with apt-get, as root or through sudo, whichever of the
# build's packages and of NAME... are missing. Installs nothing when all are there.
setup_packages() {
  local p missing=() sudo=""
  for p in "${shelfra_packages[@]}" "$@"; do
    has_package "$p" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}" >&2
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# print_help SCRIPT: prints the leading comment block of SCRIPT (the lines after its "#!"
# line, each without its "#" and one blank after it), up to the first line that is no comment.
print_help() {
  awk 'NR == 1 && /^#!/ { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "$1"
}

# offer_help SCRIPT ARG...: with -h or --help among ARG..., prints SCRIPT's help and exits 0.
offer_help() {
  local script="$1" arg
  shift
  for arg in "$@"; do
    case "$arg" in -h|--help) print_help "$script"; exit 0 ;; esac
  done
}
