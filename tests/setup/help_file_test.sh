#!/usr/bin/env bash
# The compiled help: one DIZeruve.viz per language, each an HTML Help file
# that chmls opens and that holds every page of the user guide.
# Usage: help_file_test.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$src/scripts/build-help" "$work"
pages=(index.html wiring.html records.html settings.html format.html style.css toc.hhc)
status=0
for lang in Eng Si Tr; do
  file="$work/$lang/DIZeruve.viz"
  listing=$(chmls list "$file" 2>/dev/null) || { echo "FAIL: chmls cannot open $file"; status=1; continue; }
  for page in "${pages[@]}"; do
    grep -q " /$page\$" <<<"$listing" || { echo "FAIL: $lang help lacks $page"; status=1; }
  done
  # The pages are the language's own, not copies of the English ones.
  chmls extract "$file" /wiring.html "$work/$lang-wiring.html" >/dev/null 2>&1
  case $lang in
    Eng) want='Wiring the 26 signals' ;;
    Si) want='连接 26 路信号' ;;
    Tr) want='連接 26 路訊號' ;;
  esac
  grep -q "$want" "$work/$lang-wiring.html" || { echo "FAIL: $lang wiring page is not in its language"; status=1; }
done
[ $status -eq 0 ] && echo "help files: 3 languages, ${#pages[@]} entries each"
exit $status
