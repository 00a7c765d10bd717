#!/usr/bin/env python3
"""Draws the animated status-page images loading.gif, done.gif, wait.gif and cancel.gif.

Plain Python 3, no packages: each frame is rendered with 3 x 3 supersampling over a white
background and written as an LZW-compressed GIF89a that loops forever.
Run from anywhere: python3 res/make_status_images.py [output folder, default: this folder]
"""

import math
import os
import struct
import sys

WHITE = (255, 255, 255)
SUBSAMPLES = 3


# ---- Shapes: functions (x, y) -> bool, in pixel coordinates ----

def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_outer, r_inner):
    return lambda x, y: r_inner * r_inner <= (x - cx) ** 2 + (y - cy) ** 2 <= r_outer * r_outer


def thick_segment(x0, y0, x1, y1, half_width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width

    return inside


def blend(colour, over, coverage):
    return tuple(round(c * coverage + o * (1 - coverage)) for c, o in zip(colour, over))


def render(width, height, layers):
    """layers: list of (rgb, shape); later layers paint over earlier ones."""
    pixels = []
    offsets = [(i + 0.5) / SUBSAMPLES for i in range(SUBSAMPLES)]
    for y in range(height):
        for x in range(width):
            colour = WHITE
            for rgb, shape in layers:
                hits = sum(1 for oy in offsets for ox in offsets if shape(x + ox, y + oy))
                if hits:
                    colour = blend(rgb, colour, hits / (SUBSAMPLES * SUBSAMPLES))
            pixels.append(colour)
    return pixels


# ---- GIF writing ----

def lzw_encode(indices, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buffer = 0
    bit_count = 0

    def emit(code, size):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def reset():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, code_size = reset()
    emit(clear, code_size)
    word = b""
    for index in indices:
        candidate = word + bytes([index])
        if candidate in table:
            word = candidate
            continue
        emit(table[word], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear, code_size)
            table, next_code, code_size = reset()
        word = bytes([index])
    if word:
        emit(table[word], code_size)
    emit(end, code_size)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def write_gif(path, width, height, frames, delays):
    palette = []
    lookup = {}
    for frame in frames:
        for colour in frame:
            if colour not in lookup:
                lookup[colour] = len(palette)
                palette.append(colour)
    if len(palette) > 256:
        raise ValueError(f"{path}: {len(palette)} colours, at most 256 fit")
    bits = max(1, math.ceil(math.log2(max(2, len(palette)))))
    palette += [WHITE] * ((1 << bits) - len(palette))
    min_code_size = max(2, bits)

    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", width, height, 0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0)
    for colour in palette:
        gif += bytes(colour)
    gif += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    for frame, delay in zip(frames, delays):
        gif += b"\x21\xF9\x04" + struct.pack("<BHB", 0x04, delay, 0) + b"\x00"
        gif += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        gif.append(min_code_size)
        gif += sub_blocks(lzw_encode([lookup[c] for c in frame], min_code_size))
    gif.append(0x3B)
    with open(path, "wb") as f:
        f.write(gif)


# ---- The four images ----

def spinner(size, dots, dot_radius, orbit, head, tail, step):
    centre = size / 2
    layers = []
    for i in range(dots):
        angle = 2 * math.pi * i / dots - math.pi / 2
        age = (step - i) % dots
        weight = 1 - age / dots
        colour = tuple(round(t + (h - t) * weight) for h, t in zip(head, tail))
        layers.append((colour, disc(centre + orbit * math.cos(angle),
                                    centre + orbit * math.sin(angle), dot_radius)))
    return layers


def loading_frames():
    return [render(100, 100, spinner(100, 12, 6.5, 36, (30, 120, 60), (215, 235, 215), s))
            for s in range(12)], [8] * 12


def wait_frames():
    return [render(64, 64, spinner(64, 8, 5, 22, (40, 90, 170), (215, 225, 240), s))
            for s in range(8)], [10] * 8


def done_frames():
    green = (60, 160, 80)
    points = [(28, 52), (44, 68), (74, 36)]
    lengths = [math.dist(points[0], points[1]), math.dist(points[1], points[2])]
    total = sum(lengths)
    frames, delays = [], []
    steps = 8
    for s in range(1, steps + 1):
        drawn = total * s / steps
        layers = [(green, disc(50, 50, 46))]
        first = min(drawn, lengths[0]) / lengths[0]
        x = points[0][0] + (points[1][0] - points[0][0]) * first
        y = points[0][1] + (points[1][1] - points[0][1]) * first
        layers.append((WHITE, thick_segment(points[0][0], points[0][1], x, y, 5)))
        if drawn > lengths[0]:
            second = (drawn - lengths[0]) / lengths[1]
            x = points[1][0] + (points[2][0] - points[1][0]) * second
            y = points[1][1] + (points[2][1] - points[1][1]) * second
            layers.append((WHITE, thick_segment(points[1][0], points[1][1], x, y, 5)))
        frames.append(render(100, 100, layers))
        delays.append(6)
    delays[-1] = 250
    return frames, delays


def cancel_frames():
    red = (200, 40, 40)
    frames = []
    for radius in (27, 28.5, 30, 28.5):
        arm = radius * 0.45
        layers = [(red, disc(32, 32, radius)),
                  (WHITE, thick_segment(32 - arm, 32 - arm, 32 + arm, 32 + arm, 3.5)),
                  (WHITE, thick_segment(32 - arm, 32 + arm, 32 + arm, 32 - arm, 3.5))]
        frames.append(render(64, 64, layers))
    return frames, [15, 15, 15, 15]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    images = {
        "loading.gif": (100, loading_frames),
        "done.gif": (100, done_frames),
        "wait.gif": (64, wait_frames),
        "cancel.gif": (64, cancel_frames),
    }
    for name, (size, make) in images.items():
        frames, delays = make()
        write_gif(os.path.join(out, name), size, size, frames, delays)
        print(f"{name}: {len(frames)} frames")


if __name__ == "__main__":
    main()
