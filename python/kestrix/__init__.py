"""Kestrix from Python: resize, frame and label pictures with libkestrix.

The module wraps the library's C interface through ctypes; it needs no
compiler. The library is found by its soname, ``libkestrix.so.1``, or at the
path in the environment variable ``KESTRIX_LIBRARY``.

Every function may be called from several threads at once: the library
holds no state between calls, and Python's lock is released while it works.
A failure raises :class:`Error` with the library's reason and code.

    >>> import kestrix
    >>> kestrix.thumbnail("photo.heic", "photo.webp", width=640)
    >>> kestrix.probe("photo.webp")
    (640, 480, 'webp')
"""

import ctypes
import os

__all__ = ["Error", "thumbnail", "thumbnail_bytes", "probe", "border", "text", "version"]

_lib = ctypes.CDLL(os.environ.get("KESTRIX_LIBRARY") or "libkestrix.so.1")

_c_object = ctypes.c_void_p
_TRUE = -1
_FORMATS = {"jpeg": 0, "jpg": 0, "png": 1, "webp": 2, "avif": 3}
_EXTENSIONS = {".jpg": 0, ".jpeg": 0, ".png": 1, ".webp": 2, ".avif": 3}
_PROBED = {1: "png", 2: "gif", 3: "jpeg", 4: "bmp", 5: "heif", 6: "avif", 7: "webp", 8: "tiff"}
_RESIZE, _MAX_WIDTH, _MAX_HEIGHT, _FIT, _FILL = range(5)
_PLACES = {
    "top-left": 0, "top": 1, "top-right": 2, "left": 3, "centre": 4, "center": 4,
    "right": 5, "bottom-left": 6, "bottom": 7, "bottom-right": 8,
}


class _Font(ctypes.Structure):
    _fields_ = [("Name", ctypes.c_char_p), ("Size", ctypes.c_double), ("Bold", ctypes.c_int32),
                ("Italic", ctypes.c_int32), ("Underline", ctypes.c_int32),
                ("Strikethrough", ctypes.c_int32), ("Charset", ctypes.c_int16)]


def _declare(name, result, *arguments):
    function = getattr(_lib, name)
    function.restype = result
    function.argtypes = arguments
    return function


_i32, _i16, _path = ctypes.c_int32, ctypes.c_int16, ctypes.c_char_p
_create = _declare("cKestrix_Create", _c_object)
_release = _declare("cKestrix_Release", None, _c_object)
_set_auto_orient = _declare("cKestrix_SetAutoOrient", None, _c_object, _i32)
_set_keep_metadata = _declare("cKestrix_SetKeepMetadata", None, _c_object, _i32)
_set_filter = _declare("cKestrix_SetResampleFilter", _i32, _c_object, _i32)
_set_true_proportions = _declare("cKestrix_SetTrueProportions", _i32, _c_object, _i32)
_set_format = _declare("cKestrix_SetOutputFormat", _i32, _c_object, _i32)
_set_jpeg_coding = _declare("cKestrix_SetJpegCoding", _i32, _c_object, _i32)
_set_decoration_quality = _declare("cKestrix_SetDecorationQuality", _i32, _c_object, _i32)
_methods = {
    _RESIZE: (_declare("cKestrix_ImageResize", _i32, _c_object, _path, _path, _i32, _i32, _i32), "hw"),
    _MAX_WIDTH: (_declare("cKestrix_ImageResizeMaxWidth", _i32, _c_object, _path, _path, _i32, _i32), "w"),
    _MAX_HEIGHT: (_declare("cKestrix_ImageResizeMaxHeight", _i32, _c_object, _path, _path, _i32, _i32), "h"),
    _FIT: (_declare("cKestrix_ImageResizeWithinDimensions", _i32, _c_object, _path, _path, _i32, _i32, _i32),
           "hw"),
    _FILL: (_declare("cKestrix_ImageResizeToFill", _i32, _c_object, _path, _path, _i32, _i32, _i32), "hw"),
}
_resize_buffer = _declare("cKestrix_ResizeBuffer", _i32, _c_object, _i32, ctypes.c_char_p, ctypes.c_size_t,
                          _i32, _i32, _i32, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t))
_free_buffer = _declare("cKestrix_FreeBuffer", None, ctypes.c_void_p)
_probe = _declare("Kestrix_ProbePicture", _i32, _path, ctypes.POINTER(_i32), ctypes.POINTER(_i32),
                  ctypes.POINTER(_i32))
_border = _declare("cKestrix_AddBorderToExistingImage", _i32, _c_object, _path, _path, _i32, _i16, _i16, _i16,
                   _i16)
_text_at = _declare("cKestrix_AddTextToImageUsingSpecifiedPosition", _i32, _c_object, _path, _path, _path,
                    ctypes.POINTER(_Font), _i32, _i32)
_text_xy = _declare("cKestrix_AddTextToImage", _i32, _c_object, _path, _path, _path, ctypes.POINTER(_Font), _i32,
                    _i16, _i16)
_error_code = _declare("cKestrix_ErrorCode", _i32, _c_object)
_error_text = _declare("Kestrix_LastErrorText", ctypes.c_char_p)
_version = _declare("Kestrix_Version", ctypes.c_char_p)


class Error(Exception):
    """A picture was not read or written.

    ``code`` is the library's result code (1: the input was not loaded, 2:
    the output was not written, 3 to 5: a size below 1, 6: an unexpected
    error, 7: the resampling failed) and ``reason`` its words, such as
    "no such file or folder"; ``str(error)`` gives the reason.
    """

    def __init__(self, code, reason):
        super().__init__(reason or "the library failed with code %d" % code)
        self.code = code
        self.reason = reason


def _check(done):
    # The code and reason belong to this thread: read right after the call.
    if done != _TRUE:
        raise Error(_error_code(None), _error_text().decode("utf-8", "replace"))


def _encoded(path):
    return os.fsencode(path)


class _Engine:
    """An engine object with the settings of one call."""

    def __init__(self, format, keep_metadata, auto_orient, classic):
        self.handle = _create()
        if not self.handle:
            raise MemoryError("no memory for an engine object")
        if format is not None and _set_format(self.handle, format) != _TRUE:
            _release(self.handle)
            raise ValueError("unknown output format %r" % (format,))
        _set_keep_metadata(self.handle, _TRUE if keep_metadata else 0)
        _set_auto_orient(self.handle, _TRUE if auto_orient else 0)
        if not classic:
            _set_filter(self.handle, 1)
            _set_true_proportions(self.handle, _TRUE)
            _set_jpeg_coding(self.handle, 1)

    def __enter__(self):
        return self.handle

    def __exit__(self, *exception):
        _release(self.handle)


def _format_number(format, dst):
    if format is not None:
        if str(format).lower() not in _FORMATS:
            raise ValueError("format must be 'jpeg', 'png', 'webp' or 'avif', not %r" % (format,))
        return _FORMATS[str(format).lower()]
    if dst is None:
        return 0
    extension = os.path.splitext(os.fspath(dst))[1].lower()
    extension = extension.decode() if isinstance(extension, bytes) else extension
    if extension not in _EXTENSIONS:
        raise ValueError("name the output .jpg, .jpeg, .png, .webp or .avif, or give format=")
    return _EXTENSIONS[extension]


def _method(width, height, fit):
    if width is None and height is None:
        raise ValueError("give width, height or both")
    if fit not in ("within", "cover", "exact"):
        raise ValueError("fit must be 'within', 'cover' or 'exact', not %r" % (fit,))
    if width is None or height is None:
        if fit != "within":
            raise ValueError("fit=%r needs both width and height" % fit)
        return (_MAX_WIDTH, width, 0) if height is None else (_MAX_HEIGHT, 0, height)
    return {"within": _FIT, "cover": _FILL, "exact": _RESIZE}[fit], width, height


def _quality(quality):
    if isinstance(quality, bool) or not isinstance(quality, int) or not 1 <= quality <= 100:
        raise ValueError("quality must be a whole number from 1 to 100, not %r" % (quality,))
    return quality


def thumbnail(src, dst, width=None, height=None, fit="within", format=None, quality=90,
              keep_metadata=False, auto_orient=True, classic=False):
    """Resizes the picture file ``src`` into the file ``dst`` (str or os.PathLike).

    With only ``width`` (or only ``height``) the picture takes that width
    (height) and the other side follows in proportion. With both, ``fit``
    says how: ``'within'`` fits the picture inside width x height keeping
    its proportions (a picture that fits keeps its size), ``'cover'``
    covers the box and crops the middle, ``'exact'`` stretches to exactly
    that size.

    ``format`` is ``'jpeg'``, ``'png'``, ``'webp'`` or ``'avif'``; by default
    the name of ``dst`` tells it. ``quality`` is 1 to 100. ``keep_metadata``
    carries the EXIF and XMP records over (the colour profile always is);
    ``auto_orient`` turns the picture upright by its orientation tag;
    ``classic`` gives the desktop program's exact bytes (two-pass bilinear
    sampler, whole-percent proportions) instead of the Lanczos filter.
    A file at ``dst`` is replaced only when the new one is complete.
    """
    method, w, h = _method(width, height, fit)
    with _Engine(_format_number(format, dst), keep_metadata, auto_orient, classic) as engine:
        function, order = _methods[method]
        sizes = [w if side == "w" else h for side in order]
        _check(function(engine, _encoded(src), _encoded(dst), *sizes, _quality(quality)))


def thumbnail_bytes(data, width=None, height=None, fit="within", format="jpeg", quality=90,
                    keep_metadata=False, auto_orient=True, classic=False):
    """Resizes the picture held in ``data`` (bytes-like) and returns the output as bytes.

    The arguments are those of :func:`thumbnail`; ``format`` defaults to
    ``'jpeg'``. Nothing touches the disk.
    """
    method, w, h = _method(width, height, fit)
    data = bytes(data) if not isinstance(data, bytes) else data
    output, size = ctypes.c_void_p(), ctypes.c_size_t()
    with _Engine(_format_number(format, None), keep_metadata, auto_orient, classic) as engine:
        _check(_resize_buffer(engine, method, data, len(data), w, h, _quality(quality), ctypes.byref(output),
                              ctypes.byref(size)))
    try:
        return ctypes.string_at(output, size.value)
    finally:
        _free_buffer(output)


def probe(path):
    """Returns ``(width, height, format)`` of the picture file at ``path`` from its header.

    The size is the upright picture's; ``format`` is one of ``'jpeg'``,
    ``'png'``, ``'gif'``, ``'bmp'``, ``'heif'``, ``'avif'``, ``'webp'`` or
    ``'tiff'``. The picture is not decoded.
    """
    width, height, kind = _i32(), _i32(), _i32()
    _check(_probe(_encoded(path), ctypes.byref(width), ctypes.byref(height), ctypes.byref(kind)))
    return width.value, height.value, _PROBED[kind.value]


def _colour(colour):
    """0xRRGGBB (as in '#RRGGBB') or an (r, g, b) tuple, as the library's 0xBBGGRR."""
    if isinstance(colour, str) and colour.startswith("#") and len(colour) == 7:
        colour = int(colour[1:], 16)
    if isinstance(colour, tuple):
        r, g, b = colour
    else:
        r, g, b = (colour >> 16) & 255, (colour >> 8) & 255, colour & 255
    return b << 16 | g << 8 | r


def border(src, dst, size=0, colour=0x000000, top=None, bottom=None, left=None, right=None, format=None,
           quality=90, keep_metadata=False, auto_orient=True):
    """Frames the picture ``src`` with a border and writes it to ``dst``.

    ``size`` is the border on every side in pixels; ``top``, ``bottom``,
    ``left`` and ``right`` replace it on one side (negative sizes crop).
    ``colour`` is ``'#RRGGBB'``, 0xRRGGBB or an (r, g, b) tuple.
    """
    sides = [size if side is None else side for side in (top, bottom, left, right)]
    with _Engine(_format_number(format, dst), keep_metadata, auto_orient, False) as engine:
        _set_decoration_quality(engine, _quality(quality))
        _check(_border(engine, _encoded(src), _encoded(dst), _colour(colour), *sides))


def text(src, dst, words, at="bottom-right", colour=0xFFFFFF, font="Sans", size=12.0, bold=False,
         italic=False, underline=False, strikethrough=False, format=None, quality=90, keep_metadata=False,
         auto_orient=True):
    """Draws ``words`` on the picture ``src`` and writes it to ``dst``.

    ``at`` is one of the nine places (``'top-left'``, ``'top'``,
    ``'top-right'``, ``'left'``, ``'centre'``, ``'right'``,
    ``'bottom-left'``, ``'bottom'``, ``'bottom-right'``) or an ``(x, y)``
    pixel position of the text's top-left corner. Lines are separated by
    ``"\\n"``; ``"&"`` underlines the next character, ``"&&"`` draws one
    ``"&"``. ``size`` is in points (96 pixels to the inch).
    """
    face = _Font(font.encode(), size, *[_TRUE if flag else 0 for flag in (bold, italic, underline,
                                                                          strikethrough)], 0)
    with _Engine(_format_number(format, dst), keep_metadata, auto_orient, False) as engine:
        _set_decoration_quality(engine, _quality(quality))
        if isinstance(at, tuple):
            x, y = at
            # The library's top is two pixels below the text's top.
            done = _text_xy(engine, _encoded(src), _encoded(dst), words.encode(), ctypes.byref(face),
                            _colour(colour), y + 2, x)
        elif at in _PLACES:
            done = _text_at(engine, _encoded(src), _encoded(dst), words.encode(), ctypes.byref(face),
                            _colour(colour), _PLACES[at])
        else:
            raise ValueError("unknown place %r" % (at,))
        _check(done)


def version():
    """The library's version, "major.minor.patch"."""
    return _version().decode()
