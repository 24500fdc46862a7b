#!/usr/bin/env python3
"""Writes the setup program's icon: one 32 x 32 image in 16 colours.

    python3 tools/make-icon.py [resources/setup.ico]

The picture is an open box with a green arrow going into it. The output is
the same bytes on every run; resources/setup.ico is this script's output,
committed so that the build needs no Python.
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Picture characters to palette indices; '.' is transparent.
COLOURS = {"K": 0, "g": 2, "o": 3, "G": 10, "Y": 11, "y": 11}

PICTURE = [
    "............gggggggg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "............gGGGGGGg............",
    "........gggggGGGGGGggggg........",
    ".........gGGGGGGGGGGGGg.........",
    "KKKKKKK...gGGGGGGGGGGg...KKKKKKK",
    ".KyyyyyK...gGGGGGGGGg...KyyyyyK.",
    "..KyyyyyK...gGGGGGGg...KyyyyyK..",
    "...KyyyyyK...gGGGGg...KyyyyyK...",
    "....KyyyyyK...gGGg...KyyyyyK....",
    "....KKKKKKKKKKKggKKKKKKKKKKK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KYYYYYYYYYYYYYYYYYoooooK....",
    "....KKKKKKKKKKKKKKKKKKKKKKKK....",
    "................................",
]

SIZE = 32


def image_bytes():
    """The icon image: header, palette, colour bits, then the mask."""
    assert len(PICTURE) == SIZE and all(len(row) == SIZE for row in PICTURE)
    colour_rows = []
    mask_rows = []
    # Bitmaps are stored bottom row first.
    for row in reversed(PICTURE):
        indices = [COLOURS.get(c, 0) for c in row]
        colour_rows.append(bytes((indices[i] << 4) | indices[i + 1]
                                 for i in range(0, SIZE, 2)))
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c == "." else 0)
        mask_rows.append(mask.to_bytes(SIZE // 8, "big"))
    colour = b"".join(colour_rows)   # 16 bytes a row: already 4-byte aligned
    mask = b"".join(mask_rows)       # 4 bytes a row
    # The height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + colour + mask


def icon_file():
    image = image_bytes()
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image),
                        len(directory) + 16)
    return directory + entry + image


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "resources/setup.ico"
    with open(path, "wb") as out:
        out.write(icon_file())


if __name__ == "__main__":
    main()
