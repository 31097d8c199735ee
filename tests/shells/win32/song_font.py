#!/usr/bin/python3
"""Makes the font the Windows program's tests give Wine for the templates'
9-point "宋体": the glyphs of WenQuanYi Zen Hei (fonts-wqy-zenhei) that the
program's texts use, under the names SimSun and 宋体, with SimSun's vertical
metrics (ascent 0.859 em, descent 0.141 em, no line gap). At 9 points and 96
dpi that font is 12 pixels tall and 6 wide on average, so dialog units come
out at 1.5 pixels as on a Chinese Windows.

    song_font.py OUTPUT.ttf SOURCE_FILE...
"""
import logging
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection

ZEN_HEI = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"


def main():
    # Tables the subsetter drops (bitmap strikes and the like) are no news.
    logging.getLogger("fontTools").setLevel(logging.ERROR)
    output, sources = sys.argv[1], sys.argv[2:]
    text = {chr(c) for c in range(0x20, 0x7F)}
    for path in sources:
        with open(path, encoding="utf-8", errors="ignore") as f:
            text.update(ch for ch in f.read() if ord(ch) >= 0x80)

    font = TTCollection(ZEN_HEI).fonts[0]
    options = subset.Options()
    options.name_IDs = []
    options.notdef_outline = True
    subsetter = subset.Subsetter(options)
    subsetter.populate(text="".join(sorted(text)))
    subsetter.subset(font)

    em = font["head"].unitsPerEm
    ascent, descent = round(em * 220 / 256), round(em * 36 / 256)
    os2, hhea = font["OS/2"], font["hhea"]
    os2.usWinAscent, os2.usWinDescent = ascent, descent
    os2.sTypoAscender, os2.sTypoDescender, os2.sTypoLineGap = ascent, -descent, 0
    hhea.ascent, hhea.descent, hhea.lineGap = ascent, -descent, 0

    names = font["name"]
    names.names = []
    for lang, family in ((0x409, "SimSun"), (0x804, "宋体")):
        for name_id, value in ((1, family), (2, "Regular"), (4, family), (6, "SimSun")):
            names.setName(value, name_id, 3, 1, lang)
    font.save(output)


if __name__ == "__main__":
    main()
