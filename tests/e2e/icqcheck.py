#!/usr/bin/env python3
"""Looks at an ICQ installation after the program has worked on it.

  icqcheck.py bmp FILE [X0,Y0,X1,Y1=RRGGBB ...]
      FILE must be an uncompressed 24-bit bottom-up BMP of 136 x 103 pixels
      (the banner area of ICQ's contact list). Each region (X1, Y1 excluded,
      Y counted from the top) must hold only the given colour, each channel
      within 12.
  icqcheck.py styles FIXTURE COPY
      The two style files of COPY must be those of FIXTURE with the banner
      heads replaced and every other byte kept.
  icqcheck.py unchanged FIXTURE COPY RELATIVE-PATH
      That file of COPY must still be the one of FIXTURE, byte for byte.

Prints what is wrong and exits 1; prints one line and exits 0 when all is
right.
"""
import os
import struct
import sys

WIDTH, HEIGHT = 136, 103
TOLERANCE = 12

MSG_FILE = "services/icqApp/ver1/theme/MUIMessage/MsgSessionDlg.style.box"
CL_FILE = "services/icqApp/ver1/theme/MUICore/MainDlgPanelOwner.style.box"

# The fixture's heads as they stand in its files, and what they become.
EDITS = {
    MSG_FILE: [
        (b'<style id="FeaturesBannerArea" height="96" minHeight="96" paddingTop="4" paddingBottom="2"/>',
         b'<style id="FeaturesBannerArea" height="70" minHeight="70" paddingTop="4"/>'),
        (b'<style id="bannerStyle" width="468" height="60" margin="4 2 4 2">',
         b'<style id="bannerStyle" width="0" height="0" margin="1 2 0 2">'),
    ],
    CL_FILE: [
        (b'<bitmap id="image.icqBanner.bg" src="banner_bg.png" tile="false" />',
         b'<bitmap id="image.icqBanner.bg" src="cl.jpg" />'),
        (b'<style id="adBoxStyle" width="120" height="90" />',
         b'<style id="adBoxStyle" width="0" height="0" />'),
        (b'<style id="adContainerBoxStyle" marginLeft="4" marginTop="2" width="126" height="96" hAlign="left" >',
         b'<style id="adContainerBoxStyle" marginLeft="2" marginTop="0" width="138" height="105" '
         b'hAlign="center" vAlign="center" fill="url(#image.icqBanner.bg)" />'),
    ],
}


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def bmp(path, regions):
    data = read_bytes(path)
    if data[:2] != b"BM":
        sys.exit(f"{path}: no BMP (starts {data[:2]!r})")
    offset = struct.unpack_from("<I", data, 10)[0]
    _, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    problems = []
    if bits != 24:
        problems.append(f"{bits} bits per pixel, not 24")
    if compression != 0:
        problems.append(f"compression {compression}, not none")
    if (width, height) != (WIDTH, HEIGHT):
        problems.append(f"{width} x {height} pixels, not {WIDTH} x {HEIGHT} bottom-up")
    stride = (WIDTH * 3 + 3) & ~3
    if not problems and len(data) < offset + stride * HEIGHT:
        problems.append(f"{len(data)} bytes, too short for its pixels")
    if problems:
        sys.exit(f"{path}: " + "; ".join(problems))

    def pixel(x, y):  # rows are stored bottom first
        at = offset + (HEIGHT - 1 - y) * stride + x * 3
        b, g, r = data[at:at + 3]
        return r, g, b

    failed = False
    for region in regions:
        box, colour = region.split("=")
        x0, y0, x1, y1 = (int(v) for v in box.split(","))
        want = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
        wrong = [(x, y, pixel(x, y)) for y in range(y0, y1) for x in range(x0, x1)
                 if any(abs(a - b) > TOLERANCE for a, b in zip(pixel(x, y), want))]
        if wrong:
            x, y, got = wrong[0]
            print(f"{path}: region {box} should be #{colour}: {len(wrong)} of {(x1 - x0) * (y1 - y0)} pixels "
                  f"differ, first at {x},{y}: #{got[0]:02x}{got[1]:02x}{got[2]:02x}")
            failed = True
    if failed:
        sys.exit(1)
    print(f"{os.path.basename(path)}: 24-bit BMP, {WIDTH} x {HEIGHT}, {len(regions)} regions as expected")


def styles(fixture, copy):
    failed = False
    for relative, edits in EDITS.items():
        expected = read_bytes(os.path.join(fixture, relative))
        for old, new in edits:
            if old not in expected:
                sys.exit(f"the fixture's {relative} no longer holds {old.decode()}")
            expected = expected.replace(old, new)
        got = read_bytes(os.path.join(copy, relative))
        if got != expected:
            at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
            print(f"{relative}: not the expected edit; first difference at byte {at}: "
                  f"{got[max(0, at - 20):at + 40]!r} instead of {expected[max(0, at - 20):at + 40]!r}")
            failed = True
    if failed:
        sys.exit(1)
    print("both style files edited as expected, every other byte kept")


def unchanged(fixture, copy, relative):
    if read_bytes(os.path.join(fixture, relative)) != read_bytes(os.path.join(copy, relative)):
        sys.exit(f"{relative} was changed")
    print(f"{relative} unchanged")


def main():
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "bmp":
        bmp(args[1], args[2:])
    elif len(args) == 3 and args[0] == "styles":
        styles(args[1], args[2])
    elif len(args) == 4 and args[0] == "unchanged":
        unchanged(*args[1:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
