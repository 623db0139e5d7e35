#!/usr/bin/env bash
# Checks that includes follow the library layering: a file under src/<folder>
# (or tools/probe) may include headers of its own folder and of the folders
# listed for it below, which are the libraries it links, directly or through
# others. Anything else is an upward or sideways arrow. Prints each offending
# include and exits non-zero when there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [vst3/abi]=""
  [vst3/sdk]="vst3/abi"
  [params]=""
  [kernel]="params"
  [formats]=""
  [platform]=""
  [banks]="formats platform"
  [banks/control]="banks bridge formats platform params state ccmap diagnostics"
  [ccmap]="formats params"
  [diagnostics]="formats"
  [state]="formats ccmap banks params"
  [bridge]="formats state ccmap banks platform params diagnostics"
  [engine]="kernel params formats"
  [identity]="vst3/abi"
  [processor]="engine kernel params formats banks platform ccmap diagnostics state identity vst3/abi vst3/sdk"
  [controller]="params formats banks banks/control bridge platform ccmap diagnostics state identity vst3/abi vst3/sdk"
  [editor]="controller params formats platform diagnostics vst3/abi vst3/sdk"
  [editor/webview]="editor platform"
  [module]="processor controller editor engine kernel params formats banks banks/control bridge platform ccmap diagnostics state identity vst3/abi vst3/sdk"
  [tools/probe]="params identity banks bridge platform formats editor state vst3/abi vst3/sdk"
)

bad=0
for folder in "${!allowed[@]}"; do
  case $folder in tools/*) dir=$folder ;; *) dir=src/$folder ;; esac
  [[ -d $dir ]] || { echo "check-layers: no folder $dir"; bad=1; continue; }
  while IFS= read -r line; do
    file=${line%%:*}
    header=$(sed -n 's/.*#include "\([^"]*\)".*/\1/p' <<<"${line#*:}")
    [[ $header == */* ]] || continue # a header next to the file
    ok=0
    for layer in "$folder" ${allowed[$folder]}; do
      [[ $(dirname "$header") == "$layer" ]] && ok=1
    done
    if [[ $ok -eq 0 ]]; then
      echo "$file: includes $header, which $folder does not build on"
      bad=1
    fi
  done < <(find "$dir" -maxdepth 1 \( -name '*.h' -o -name '*.cpp' \) -exec grep -Hn '^#include "' {} +)
done
# Every folder under src is listed above.
while IFS= read -r dir; do
  folder=${dir#src/}
  [[ -v allowed[$folder] ]] || { echo "check-layers: src/$folder is not listed"; bad=1; }
done < <(find src -name '*.h' -o -name '*.cpp' | xargs -n1 dirname | sort -u)
if [[ $bad -eq 0 ]]; then echo "check-layers: every include points down"; fi
exit $bad
