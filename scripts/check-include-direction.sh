#!/usr/bin/env bash
# Fails on an include that runs the wrong way. The layers, each allowed only what is listed:
#   main.cpp                              anything
#   NodwardenApp/{ui,terminal}            the model and the core (the faces, never each other,
#                                         never the Linux layer or the platform wiring)
#   NodwardenApp/control                  the model, the platform wiring, the core, the Linux layer
#                                         (commands run outside the program find its socket,
#                                         helpers and agents' files as the program does)
#   NodwardenApp/platform                 the model, the core, the Linux layer
#   NodwardenApp/model                    the core only
#   NodwardenLinux, LinuxHelpers          the core (and themselves)
#   NodwardenCore                         itself only
# Every folder may include its own files, and the program's folders the generated
# NodwardenApp/BuildInfo.hpp. Quoted includes are resolved against the including file's folder.
# Usage: scripts/check-include-direction.sh [repository root]
set -euo pipefail

root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
sources="$root/Sources"

# The layer of a path below Sources/ (a file, or the folder of an included header).
layer_of() {
  case "$1" in
  NodwardenApp/main.cpp) echo main ;;
  NodwardenApp/BuildInfo.hpp) echo buildinfo ;;
  NodwardenApp/model/*) echo model ;;
  NodwardenApp/ui/*) echo ui ;;
  NodwardenApp/terminal/*) echo terminal ;;
  NodwardenApp/control/*) echo control ;;
  NodwardenApp/platform/*) echo platform ;;
  NodwardenApp/*) echo app-other ;;
  NodwardenCore/*) echo core ;;
  NodwardenLinux/*) echo linux ;;
  LinuxHelpers/*) echo helpers ;;
  *) echo outside ;;
  esac
}

# The layers each layer may include besides itself and BuildInfo.hpp.
allowed_for() {
  case "$1" in
  main) echo "model ui terminal control platform core linux buildinfo" ;;
  ui | terminal) echo "model core buildinfo" ;;
  control) echo "model platform core linux buildinfo" ;;
  platform) echo "model core linux buildinfo" ;;
  model) echo "core buildinfo" ;;
  linux | helpers) echo "core linux" ;;
  core) echo "" ;;
  *) echo "" ;;
  esac
}

failures=0
while IFS= read -r -d '' file; do
  relative=${file#"$sources"/}
  from=$(layer_of "$relative")
  allowed=" $from $(allowed_for "$from") "
  line_number=0
  while IFS= read -r line; do
    line_number=$((line_number + 1))
    case "$line" in
    \#include\ \<*\>*)
      target=${line#\#include <}
      target=${target%%>*}
      ;;
    \#include\ \"*\"*)
      target=${line#\#include \"}
      target=${target%%\"*}
      target=$(realpath -m --relative-to="$sources" "$(dirname "$file")/$target")
      ;;
    *) continue ;;
    esac
    to=$(layer_of "$target")
    # System and third-party headers (Qt, nlohmann, the C library) are no layer of ours.
    [ "$to" = outside ] && continue
    if [[ "$allowed" != *" $to "* ]]; then
      read -r -a listed <<<"$allowed"
      echo "$relative:$line_number: $from includes $target ($from may include: ${listed[*]})" >&2
      failures=$((failures + 1))
    fi
  done <"$file"
done < <(find "$sources" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.hpp.in' \) -print0 | sort -z)

# The shared core is built with hidden visibility: a header that opens the project's namespace
# without NODWARDEN_CORE_EXPORT would declare functions the program and tests cannot link against.
while IFS= read -r -d '' header; do
  if grep -q '^namespace nodwarden {' "$header"; then
    echo "${header#"$root"/}: opens namespace nodwarden without NODWARDEN_CORE_EXPORT" >&2
    failures=$((failures + 1))
  fi
done < <(find "$sources/NodwardenCore" -type f -name '*.hpp' -print0)

if [ "$failures" -gt 0 ]; then
  echo "$failures include(s) or core header(s) wrong" >&2
  exit 1
fi
echo "include direction: ok"
