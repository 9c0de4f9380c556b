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

# Windows code page -> Python codec, for every page the charset table can name and Python
# has a codec for.
SINGLE = {
    37: "cp037", 437: "cp437", 720: "cp720", 737: "cp737", 775: "cp775", 850: "cp850",
    852: "cp852", 857: "cp857", 861: "cp861", 862: "cp862", 866: "cp866", 869: "cp869",
    874: "cp874", 875: "cp875", 1026: "cp1026", 1140: "cp1140", 1250: "cp1250",
    1251: "cp1251", 1252: "cp1252", 1253: "cp1253", 1254: "cp1254", 1255: "cp1255",
    1256: "cp1256", 1257: "cp1257", 1258: "cp1258", 10000: "mac_roman", 10006: "mac_greek",
    10007: "mac_cyrillic", 10029: "mac_latin2", 10079: "mac_iceland", 10081: "mac_turkish",
    20127: "ascii", 20273: "cp273", 20424: "cp424", 20866: "koi8_r", 21866: "koi8_u",
    28591: "iso8859_1", 28592: "iso8859_2", 28593: "iso8859_3", 28594: "iso8859_4",
    28595: "iso8859_5", 28596: "iso8859_6", 28597: "iso8859_7", 28598: "iso8859_8",
    28599: "iso8859_9", 28605: "iso8859_15", 38598: "iso8859_8",
}
DOUBLE = {
    932: "cp932", 936: "gbk", 949: "cp949", 950: "cp950", 1361: "johab", 51932: "euc_jp",
    51936: "gb2312", 51949: "euc_kr",
}
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
