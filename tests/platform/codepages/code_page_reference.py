#!/usr/bin/env python3
"""Reference conversions from Python's codecs, which are built from the published code-page
tables independently of ICU and iconv.

Prints one block per code page that Python knows:
  page <code page> <codec>
  m <bytes> <code points> <bytes Python encodes them back to, or ->   (a byte or pair)
  s <bytes> <code points>                                             (a stateful sample)
Bytes and code points are hexadecimal, code points joined by '.'.
"""
import sys

# Windows code page -> Python codec, for every page the charset table can name and Python has
# a codec for, but those the code_pages conformance area compares byte by byte with Wine.
SINGLE = {1140: "cp1140", 20273: "cp273", 20424: "cp424", 38598: "iso8859_8"}
DOUBLE = {1361: "johab", 51932: "euc_jp", 51936: "gb2312", 51949: "euc_kr"}
STATEFUL = {
    1200: "utf_16_le", 1201: "utf_16_be", 50220: "iso2022_jp", 50221: "iso2022_jp",
    50222: "iso2022_jp", 50225: "iso2022_kr", 52936: "hz", 65000: "utf_7",
}
SAMPLES = {
    "utf_16_le": ["abc", "caf\u00e9 \u4e2d\u6587 \U0001f600"],
    "utf_16_be": ["abc", "caf\u00e9 \u4e2d\u6587 \U0001f600"],
    "iso2022_jp": ["abc", "\u65e5\u672c\u8a9e", "a\u3042b\u30a2c"],
    "iso2022_kr": ["abc", "\ud55c\uad6d\uc5b4", "a\ud55cb"],
    "hz": ["abc", "\u4e2d\u6587", "a\u4e2db"],
    "utf_7": ["abc", "caf\u00e9", "a+b", "\u4e2d\u6587"],
}


def points(text):
    return ".".join("%x" % ord(c) for c in text)


def mapping(codec, raw, out):
    try:
        text = raw.decode(codec)
    except UnicodeDecodeError:
        return
    try:
        back = text.encode(codec).hex()
    except UnicodeEncodeError:
        back = "-"
    out.append("m %s %s %s" % (raw.hex(), points(text), back))


def main():
    out = []
    for page, codec in sorted(SINGLE.items()):
        out.append("page %d %s" % (page, codec))
        for b in range(256):
            mapping(codec, bytes([b]), out)
    for page, codec in sorted(DOUBLE.items()):
        out.append("page %d %s" % (page, codec))
        for b in range(256):
            mapping(codec, bytes([b]), out)
        for lead in range(0x81, 0xFF):
            # Every third trail byte keeps the data small and still meets every row's edges.
            for trail in list(range(0x40, 0xFF, 3)) + [0xFE]:
                mapping(codec, bytes([lead, trail]), out)
    for page, codec in sorted(STATEFUL.items()):
        out.append("page %d %s" % (page, codec))
        for text in SAMPLES[codec]:
            out.append("s %s %s" % (text.encode(codec).hex(), points(text)))
    sys.stdout.write("\n".join(out) + "\n")


main()
