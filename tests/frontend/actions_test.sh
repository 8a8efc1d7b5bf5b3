#!/bin/sh
# Checks the desktop entries and the file managers' actions of Folvane:
# desktop-file-validate where it applies, and that each action runs
# "folvane --resize" with the selected files; the Nautilus extension is run
# through Nautilus' own introspection data where it is installed.
# Usage: actions_test.sh FRONTEND_SOURCE_DIR
set -eu
src=$1
actions=$src/actions
status=0
fail() { echo "FAIL: $*"; status=1; }

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$src/folvane.desktop" || fail folvane.desktop
  # KIO's service menus are of type Service, which the validator knows only
  # for applications' keys; anything else it says is a fault.
  out=$(desktop-file-validate "$actions/folvane-resize.desktop" 2>&1 |
        grep -v 'but the type is "Service" while this key is only valid for type "Application"' || true)
  [ -z "$out" ] || fail "folvane-resize.desktop: $out"
else
  echo "desktop-file-validate is not installed: the desktop entries are not validated"
fi
for f in folvane-resize.desktop folvane-resize.nemo_action thunar-uca.xml; do
  grep -q 'folvane --resize %F' "$actions/$f" || fail "$f does not run folvane --resize %F"
done
grep -q '"folvane", "--resize", \*paths' "$actions/folvane_resize.py" || fail "folvane_resize.py does not run folvane --resize"
python3 - "$actions" <<'PY' || status=1
import ast, sys, xml.etree.ElementTree as tree
ast.parse(open(sys.argv[1] + "/folvane_resize.py").read())
action = tree.parse(sys.argv[1] + "/thunar-uca.xml").getroot().find("action")
assert action.find("image-files") is not None, "thunar-uca.xml: not for image files"
PY
# Debian's own python3, which has python3-gi.
py=python3; [ -x /usr/bin/python3 ] && py=/usr/bin/python3
$py "$(dirname "$0")/nautilus_extension_test.py" "$actions" || [ $? -eq 77 ] || fail "the Nautilus extension"
exit $status
