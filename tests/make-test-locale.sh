#!/bin/sh
# Generates the fr_FR.UTF-8 locale into the folder given (no system change).
# localedef may exit non-zero for warnings; the generated files decide.
dir="$1"
mkdir -p "$dir"
localedef -i fr_FR -f UTF-8 "$dir/fr_FR.UTF-8" >/dev/null 2>&1
test -f "$dir/fr_FR.UTF-8/LC_NUMERIC"
