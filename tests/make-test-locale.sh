#!/bin/sh
# Generates a UTF-8 locale, fr_FR unless another is named, into the folder
# given (no system change).
# localedef may exit non-zero for warnings; the generated files decide.
dir="$1"
name="${2:-fr_FR}"
mkdir -p "$dir"
localedef -i "$name" -f UTF-8 "$dir/$name.UTF-8" >/dev/null 2>&1
test -f "$dir/$name.UTF-8/LC_NUMERIC"
