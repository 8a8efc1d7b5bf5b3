# The Nautilus extension as Nautilus 43 calls it: a menu item for selected
# pictures that runs folvane --resize with them, none for other files.
# Exits 77 (skipped) without gi and Nautilus' introspection data
# (python3-gi, gir1.2-nautilus-4.0). Usage: nautilus_extension_test.py ACTIONS_DIR
import subprocess
import sys

try:
    import gi
    gi.require_version("Nautilus", "4.0")
    from gi.repository import Nautilus  # noqa: F401
except (ImportError, ValueError) as missing:
    print("not checked:", missing)
    sys.exit(77)

sys.path.insert(0, sys.argv[1])
launched = []
subprocess.Popen = launched.append
import folvane_resize  # noqa: E402


class File:
    def __init__(self, path, mime):
        self.path, self.mime = path, mime

    def get_location(self):
        return self

    def get_path(self):
        return self.path

    def get_mime_type(self):
        return self.mime


extension = folvane_resize.FolvaneResize()
items = extension.get_file_items([File("/p/a.jpg", "image/jpeg"), File("/p/b.heic", "image/heic"),
                                  File("/p/n.txt", "text/plain")])
assert [item.props.label for item in items] == ["Resize pictures…"], items
items[0].activate()
assert launched == [["folvane", "--resize", "/p/a.jpg", "/p/b.heic"]], launched
assert extension.get_file_items(None, [File("/p/n.txt", "text/plain")]) == []
