#!/bin/sh
# Runs a command on the current X display once openbox manages its windows, then stops openbox;
# exits with the command's status. Arguments must not contain single quotes.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
{
  echo '#!/bin/sh'
  printf "'%s' " "$@"
  echo
  echo "echo \$? > '$dir/rc'"
  echo 'openbox --exit'
} > "$dir/inside.sh"
chmod +x "$dir/inside.sh"
openbox --sm-disable --startup "$dir/inside.sh" > "$dir/openbox.log" 2>&1
[ -f "$dir/rc" ] || { cat "$dir/openbox.log"; exit 1; }
exit "$(cat "$dir/rc")"
