#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the sRGB colours colour_profile_test.cpp expects, computed with
# Pillow's ImageCms (Little CMS) and the relative colorimetric intent: an
# independent reference for the loader's conversion. Debian: python3-pil,
# icc-profiles-free, colord-data, libgs-common. The Display P3 profile is the
# one the test builds from its primaries, saved here first with lcms2.
import sys
from PIL import Image, ImageCms

BASE = "/usr/share/color/icc/"
SRGB = ImageCms.createProfile("sRGB")
CASES = [
    ("colord/AdobeRGB1998.icc", "RGB", (200, 100, 50)),
    ("colord/ProPhotoRGB.icc", "RGB", (200, 100, 50)),
    ("colord/SwappedRedAndGreen.icc", "RGB", (200, 100, 50)),
    ("Gray.icc", "L", 100),
    # Pillow's CMYK is ink (255 full); the test writes the inverted form.
    ("ghostscript/default_cmyk.icc", "CMYK", (51, 153, 204, 26)),
    ("colord/AdobeRGB1998.icc", "RGB", (30, 180, 90)),
    ("ghostscript/sgray.icc", "L", 100),
]
extra = [(path, "RGB", colour) for path in sys.argv[1:] for colour in ((200, 100, 50), (30, 180, 90))]
for profile, mode, colour in CASES + extra:
    picture = Image.new(mode, (4, 4), colour)
    source = ImageCms.getOpenProfile(profile if profile.startswith("/") else BASE + profile)
    out = ImageCms.profileToProfile(picture, source, SRGB, renderingIntent=ImageCms.Intent.RELATIVE_COLORIMETRIC,
                                    outputMode="RGB")
    print(profile, mode, colour, "->", out.getpixel((0, 0)))
