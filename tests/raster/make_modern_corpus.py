#!/usr/bin/python3
"""Writes WebP and AVIF variants into the folder given as argument, each
NAME.EXT with NAME.EXT.rgb beside it: the pixels as an independent decoder
gives them (dwebp, avifdec; the source picture for lossless animations),
transparency composited on white, as "P6 width height\n" + RGB bytes.
The pictures are encoded by Debian's webp and libavif-bin tools."""
import os
import random
import subprocess
import sys

from PIL import Image

out = sys.argv[1]
rnd = random.Random(11)


def picture(w, h, alpha, seed):
    """Blocky content with gradients and translucent areas."""
    r = random.Random(seed)
    im = Image.new("RGBA", (w, h))
    px = im.load()
    cells = [[(r.randrange(256), r.randrange(256), r.randrange(256), r.choice((0, 64, 128, 200, 255)))
              for _ in range(w // 6 + 1)] for _ in range(h // 6 + 1)]
    for y in range(h):
        for x in range(w):
            cr, cg, cb, ca = cells[y // 6][x // 6]
            px[x, y] = ((cr + x * 2) & 255, (cg + y * 3) & 255, (cb + x + y) & 255, ca if alpha else 255)
    return im


def on_white(rgba):
    """RGBA bytes blended on white the way the decoders do it."""
    res = bytearray()
    for i in range(0, len(rgba), 4):
        a = rgba[i + 3]
        for c in rgba[i:i + 3]:
            res.append((c * a + 255 * (255 - a) + 127) // 255)
    return bytes(res)


def write_ref(name, w, h, rgb):
    with open(os.path.join(out, name + ".rgb"), "wb") as f:
        f.write(b"P6 %d %d\n" % (w, h))
        f.write(rgb)


def ref_from_image(name, im):
    im = im.convert("RGBA")
    write_ref(name, im.width, im.height, on_white(im.tobytes()))


def read_pam(path):
    with open(path, "rb") as f:
        data = f.read()
    head, body = data.split(b"ENDHDR\n", 1)
    fields = dict(line.split(b" ", 1) for line in head.split(b"\n")[1:] if b" " in line)
    w, h, depth = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"]), int(fields[b"DEPTH"])
    assert depth == 4, path
    return w, h, body[:w * h * 4]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def src(name, w, h, alpha, seed):
    path = os.path.join(out, "src_" + name + ".png")
    picture(w, h, alpha, seed).save(path)
    return path


def webp(name, png, *opts):
    path = os.path.join(out, name + ".webp")
    run("cwebp", "-quiet", *opts, png, "-o", path)
    pam = path + ".pam"
    run("dwebp", "-quiet", path, "-pam", "-o", pam)
    w, h, rgba = read_pam(pam)
    os.remove(pam)
    write_ref(name + ".webp", w, h, on_white(rgba))


def avif(name, pngs, *opts):
    path = os.path.join(out, name + ".avif")
    run("avifenc", "-s", "10", *opts, *pngs, path)
    png = path + ".png"
    run("avifdec", "-d", "8", path, png)
    ref_from_image(name + ".avif", Image.open(png))
    os.remove(png)


# WebP: lossy and lossless, opaque and with alpha; widths that need row padding.
opaque = src("opaque", 61, 37, False, 1)
translucent = src("alpha", 45, 29, True, 2)
webp("webp_lossy", opaque, "-q", "75")
webp("webp_lossless", opaque, "-lossless")
webp("webp_lossy_alpha", translucent, "-q", "80")
webp("webp_lossless_alpha", translucent, "-lossless", "-exact")
webp("webp_tiny", src("tiny", 1, 1, False, 3), "-lossless")
# Animation: frames of different content; only the first one is shown. A
# lossless animation must give the first source picture exactly.
frame1 = src("frame1", 40, 30, True, 4)
frame2 = src("frame2", 40, 30, False, 5)
run("img2webp", "-loop", "0", "-lossless", frame1, frame2, "-o", os.path.join(out, "webp_anim.webp"))
ref_from_image("webp_anim.webp", Image.open(frame1))

# AVIF: 4:2:0 and 4:4:4, 8/10/12 bit, alpha, lossless, a sequence.
avif("avif_420", [opaque], "-y", "420", "--min", "10", "--max", "30")
avif("avif_444", [opaque], "-y", "444")
avif("avif_10bit", [opaque], "-d", "10", "-y", "420")
avif("avif_12bit", [opaque], "-d", "12", "-y", "444")
avif("avif_alpha", [translucent], "-y", "444")
avif("avif_lossless", [opaque], "-l")
avif("avif_mono", [src("grey", 33, 21, False, 6)], "-y", "400")
avif("avif_sequence", [frame1, frame2], "-y", "444", "--min", "0", "--max", "0")

for name in os.listdir(out):
    if name.startswith("src_"):
        os.remove(os.path.join(out, name))
