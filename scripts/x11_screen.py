"""Reads and drives an X display through Xlib and XTest, for the screenshots
that scripts/ardour-generic-window.sh takes. No packages beyond Python's own.

  x11_screen.py DISPLAY click X Y [BUTTON]   press and release a mouse button at X, Y
  x11_screen.py DISPLAY grab OUT.png X Y W H  the screen's pixels there, as an RGB PNG
"""
import ctypes
import ctypes.util
import struct
import sys
import time
import zlib


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


def load():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                              ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    return x11, xtst


def click(x11, xtst, display, x, y, button):
    xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
    x11.XFlush(display)
    time.sleep(0.2)
    for pressed in (1, 0):
        xtst.XTestFakeButtonEvent(display, button, pressed, 0)
        x11.XFlush(display)
        time.sleep(0.1)


def grab(x11, display, out, x, y, w, h):
    image = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, w, h, 0xFFFFFFFF, 2).contents
    if image.bits_per_pixel != 32:
        sys.exit("x11_screen: only 32-bit pixels are read")
    raw = ctypes.string_at(image.data, image.bytes_per_line * h)
    rows = bytearray()
    for row in range(h):
        line = raw[row * image.bytes_per_line:row * image.bytes_per_line + 4 * w]
        rows.append(0)  # no filter
        for px in range(w):
            blue, green, red = line[4 * px], line[4 * px + 1], line[4 * px + 2]
            rows += bytes((red, green, blue))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(out, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    x11, xtst = load()
    display = x11.XOpenDisplay(sys.argv[1].encode())
    if not display:
        sys.exit("x11_screen: cannot open display " + sys.argv[1])
    command, args = sys.argv[2], sys.argv[3:]
    if command == "click":
        click(x11, xtst, display, int(args[0]), int(args[1]), int(args[2]) if len(args) > 2 else 1)
    elif command == "grab":
        grab(x11, display, args[0], *(int(v) for v in args[1:5]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
