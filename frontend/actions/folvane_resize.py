# "Resize pictures…" in Nautilus' menu of selected pictures: opens Folvane's
# resize window for them (folvane --resize FILE...).
import subprocess

from gi.repository import GObject, Nautilus

TYPES = {"image/jpeg", "image/png", "image/bmp", "image/gif", "image/webp",
         "image/heic", "image/heif", "image/avif", "image/tiff"}


class FolvaneResize(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *args):  # (files) from Nautilus 43, (window, files) before
        files = args[-1]
        paths = [f.get_location().get_path() for f in files if f.get_mime_type() in TYPES]
        if not paths or None in paths:
            return []
        item = Nautilus.MenuItem(name="Folvane::Resize", label="Resize pictures…", icon="folvane")
        item.connect("activate", lambda *_: subprocess.Popen(["folvane", "--resize", *paths]))
        return [item]
