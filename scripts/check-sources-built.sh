#!/usr/bin/env bash
# Fails on a source file under Sources/ that no build CI makes compiles, and on a header nothing
# includes: such files rot unseen (nothing builds, tests or lints them). The compile database of
# the dev configuration is the list of what is built; configure it first (`make configure`).
# Usage: scripts/check-sources-built.sh [build folder]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
database="$build/compile_commands.json"
[ -f "$database" ] || { echo "no $database: configure the build first" >&2; exit 1; }

python3 - "$root" "$database" <<'PY'
import json, os, pathlib, re, sys

root, database = pathlib.Path(sys.argv[1]), sys.argv[2]
sources = root / "Sources"
compiled = {os.path.realpath(os.path.join(entry["directory"], entry["file"]))
            for entry in json.load(open(database))}

failures = [f"{path.relative_to(root)}: compiled by no configuration CI builds"
            for path in sorted(sources.rglob("*.cpp")) if os.path.realpath(path) not in compiled]

# Every header is included by some file that is built: a source, a test, a benchmark or a fuzzer.
include = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)
included = set()
for folder in ("Sources", "Tests", "Benchmarks", "Fuzz"):
    for path in (root / folder).rglob("*"):
        if path.suffix in (".cpp", ".hpp", ".in"):
            for name in include.findall(path.read_text(errors="replace")):
                included.add(os.path.normpath(name))
                included.add(os.path.relpath(os.path.normpath(path.parent / name), sources))
for header in sorted(sources.rglob("*.hpp")):
    if str(header.relative_to(sources)) not in included:
        failures.append(f"{header.relative_to(root)}: included by no file")

for failure in failures:
    print(failure, file=sys.stderr)
if failures:
    sys.exit(f"{len(failures)} source file(s) outside every build")
print("sources built: ok")
PY
