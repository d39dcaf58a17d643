#!/bin/sh
# Every scripts/NAME the scripts, the README and the build files name is
# there, so no step of scripts/test-all or of the README's commands quietly
# runs nothing.
#   named_scripts_test.sh SOURCE_DIR
cd "$1" || exit 1
missing=0
for name in $(grep -ohE '(^|[^A-Za-z0-9_/.-])scripts/[A-Za-z0-9_.-]+' scripts/* README.md \
    $(find . -name CMakeLists.txt -not -path './build/*' -not -path '*/node_modules/*') |
    sed -E 's/^[^s]*//' | sort -u); do
  if [ ! -e "$name" ]; then
    echo "$name is named but does not exist" >&2
    missing=1
  fi
done
exit $missing
