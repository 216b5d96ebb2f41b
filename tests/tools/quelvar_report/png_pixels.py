"""Pixels of a screenshot, for html_report_test.cpp (Debian's python3-pil).

  png_pixels.py count IMAGE TOLERANCE COLOUR...
      size W H, then "dark N" (pixels of text dark enough: every channel
      below 96), "ink N" (pixels darker than the page's light greys) and, for each #rrggbb
      COLOUR, "#rrggbb N": the pixels no channel of which differs from it
      by more than TOLERANCE.
  png_pixels.py differ A B
      "differ N": how many pixels differ (all of them when the sizes do).

Exit status 3 without PIL, so that the test can say what to install.
"""
import sys

try:
    from PIL import Image
except ImportError:
    print("no PIL: install python3-pil")
    sys.exit(3)


def pixels(path):
    image = Image.open(path).convert("RGB")
    return image.size, list(image.getdata())


def count(path, tolerance, colours):
    size, data = pixels(path)
    wanted = [(c, int(c[1:3], 16), int(c[3:5], 16), int(c[5:7], 16)) for c in colours]
    found = {c: 0 for c in colours}
    dark = ink = 0
    for r, g, b in data:
        if r < 96 and g < 96 and b < 96:
            dark += 1
        if r < 200 or g < 200 or b < 200:
            ink += 1
            for name, wr, wg, wb in wanted:
                if abs(r - wr) <= tolerance and abs(g - wg) <= tolerance and abs(b - wb) <= tolerance:
                    found[name] += 1
    print("size %d %d" % size)
    print("dark %d" % dark)
    print("ink %d" % ink)
    for c in colours:
        print("%s %d" % (c, found[c]))


def differ(first, second):
    size_a, a = pixels(first)
    size_b, b = pixels(second)
    if size_a != size_b:
        print("differ %d" % max(len(a), len(b)))
    else:
        print("differ %d" % sum(1 for x, y in zip(a, b) if x != y))


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "count":
        count(sys.argv[2], int(sys.argv[3]), [c.lower() for c in sys.argv[4:]])
    elif len(sys.argv) == 4 and sys.argv[1] == "differ":
        differ(sys.argv[2], sys.argv[3])
    else:
        print(__doc__)
        sys.exit(2)
