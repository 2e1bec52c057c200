#!/usr/bin/python3
"""Writes JPEG, PNG, GIF and TIFF variants into the folder given as argument,
each NAME.EXT with NAME.EXT.rgb beside it: the pixels as python3-pil decodes
them, transparency composited on white, as "P6 width height\n" + RGB bytes.
Variants PIL cannot write are made with ImageMagick from a PIL picture."""
import os
import random
import subprocess
import sys

from PIL import Image, ImageOps

out = sys.argv[1]
rnd = random.Random(7)


def picture(mode, w, h, colours=None):
    """Blocky random content: flat areas with edges, like real pictures."""
    im = Image.new("RGBA", (w, h))
    px = im.load()
    cells = [[(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256), rnd.randrange(256))
              for _ in range(w // 5 + 1)] for _ in range(h // 5 + 1)]
    for y in range(h):
        for x in range(w):
            r, g, b, a = cells[y // 5][x // 5]
            px[x, y] = ((r + x * 3) & 255, (g + y * 5) & 255, (b + x * y) & 255, a)
    if mode == "P":
        return im.convert("RGB").quantize(colours)
    if mode in ("L", "1", "LA", "RGB", "CMYK"):
        return im.convert("RGB").convert(mode) if mode != "LA" else im.convert("LA")
    return im


def reference(path):
    im = Image.open(path)
    im.load()
    # JPEG pictures as they are meant to be seen: turned as their Exif block says.
    if im.format == "JPEG":
        im = ImageOps.exif_transpose(im)
    if im.mode == "CMYK":
        rgb = im.convert("RGB")
    else:
        if im.mode in ("I;16", "I;16B", "I"):
            im = im.point(lambda v: v / 256).convert("L")
        rgba = im.convert("RGBA")
        rgb = composite_on_white(rgba)
    with open(path + ".rgb", "wb") as f:
        f.write(b"P6 %d %d\n" % rgb.size)
        f.write(rgb.tobytes())


def composite_on_white(rgba):
    data = rgba.tobytes()
    outb = bytearray(len(data) // 4 * 3)
    j = 0
    for i in range(0, len(data), 4):
        a = data[i + 3]
        for k in range(3):
            outb[j + k] = (data[i + k] * a + 255 * (255 - a) + 127) // 255
        j += 3
    return Image.frombytes("RGB", rgba.size, bytes(outb))


def save(im, name, **kw):
    path = os.path.join(out, name)
    im.save(path, **kw)
    reference(path)


def magick(src_name, name, *args):
    src = os.path.join(out, src_name + ".src.png")
    dst = os.path.join(out, name)
    subprocess.run(["convert", src, *args, dst], check=True)
    os.remove(src)
    reference(dst)


def magick_source(im, src_name):
    im.save(os.path.join(out, src_name + ".src.png"))


# JPEG
save(picture("RGB", 61, 37), "jpeg_rgb.jpg", quality=90)
save(picture("RGB", 40, 33), "jpeg_progressive.jpg", quality=80, progressive=True)
save(picture("RGB", 35, 18), "jpeg_444.jpg", quality=95, subsampling=0)
save(picture("L", 29, 17), "jpeg_grey.jpg", quality=90)
save(picture("CMYK", 23, 19), "jpeg_cmyk.jpg", quality=90)
save(picture("RGB", 1, 1), "jpeg_single.jif", format="JPEG", quality=90)
# Every Exif orientation, on odd sides so a row or column too many or too few shows.
for orientation in range(1, 9):
    exif = Image.Exif()
    exif[0x0112] = orientation
    save(picture("RGB", 23, 14), "jpeg_orient%d.jpg" % orientation, quality=90, exif=exif.tobytes())
for mode, orientation in (("L", 6), ("CMYK", 7), ("L", 3)):
    exif = Image.Exif()
    exif[0x0112] = orientation
    save(picture(mode, 19, 10), "jpeg_orient%d_%s.jpg" % (orientation, mode.lower()), quality=90,
         exif=exif.tobytes())

# PNG
for colours, name in ((2, "png_pal1"), (4, "png_pal2"), (16, "png_pal4"), (200, "png_pal8")):
    save(picture("P", 37, 13, colours), name + ".png")
pal = picture("P", 19, 11, 16)
pal.info["transparency"] = bytes([0, 128] + [255] * 14)
save(pal, "png_pal_trns.png", transparency=bytes([0, 128] + [255] * 14))
save(picture("1", 33, 9), "png_grey1.png")
save(picture("L", 31, 12), "png_grey8.png")
grey_key = picture("L", 12, 7)
save(grey_key, "png_grey8_trns.png", transparency=grey_key.getpixel((3, 3)))
save(picture("LA", 21, 14), "png_grey_alpha.png")
save(picture("RGB", 45, 21), "png_rgb.png")
save(picture("RGBA", 27, 19), "png_rgba.png")
rgb_key = picture("RGB", 14, 9)
save(rgb_key, "png_rgb_trns.png", transparency=rgb_key.getpixel((2, 2)))
save(Image.frombytes("I;16", (17, 6), bytes(rnd.randrange(256) for _ in range(17 * 6 * 2))), "png_grey16.png")
magick_source(picture("RGB", 41, 23), "png_i")
magick("png_i", "png_rgb_interlaced.png", "-interlace", "PNG")
magick_source(picture("RGBA", 33, 20), "png_ia")
magick("png_ia", "png_rgba_interlaced.png", "-interlace", "PNG")
magick_source(picture("P", 26, 17, 4), "png_i2")
magick("png_i2", "png_pal_interlaced.png", "-interlace", "PNG")
magick_source(picture("RGB", 22, 13), "png_16")
magick("png_16", "png_rgb16.png", "-depth", "16")
magick_source(picture("RGBA", 22, 13), "png_16a")
magick("png_16a", "png_rgba16.png", "-depth", "16")
magick_source(picture("L", 30, 11).point(lambda v: (v >> 4) * 17), "png_g4")
magick("png_g4", "png_grey4.png", "-type", "Grayscale", "-depth", "4")
magick_source(picture("L", 30, 11).point(lambda v: (v >> 6) * 85), "png_g2")
magick("png_g2", "png_grey2_interlaced.png", "-type", "Grayscale", "-depth", "2", "-interlace", "PNG")

# GIF
magick_source(picture("P", 23, 21, 2), "gif_2")
magick("gif_2", "gif_two.gif")
magick_source(picture("P", 40, 30, 16), "gif_16")
magick("gif_16", "gif_sixteen.gif")
save(picture("P", 41, 35, 256), "gif_full_interlaced.gif", interlace=True)
save(picture("P", 13, 9, 256), "gif_small_odd.gif")
gif_t = picture("P", 20, 18, 32)
save(gif_t, "gif_transparent.gif", transparency=5)
first = picture("P", 16, 16, 64)
second = picture("P", 16, 16, 64)
save(first, "gif_animated.gif", save_all=True, append_images=[second], duration=100)

# TIFF
save(picture("RGB", 33, 21), "tiff_rgb.tif")
save(picture("RGB", 31, 19), "tiff_rgb_lzw.tif", compression="tiff_lzw")
save(picture("RGB", 31, 19), "tiff_rgb_deflate.tif", compression="tiff_adobe_deflate")
save(picture("RGB", 35, 20), "tiff_rgb_packbits.tif", compression="packbits")
save(picture("P", 27, 15, 16), "tiff_pal4.tif")
save(picture("P", 27, 15, 100), "tiff_pal8.tif")
save(picture("L", 26, 14), "tiff_grey.tif")
save(picture("1", 37, 11), "tiff_bilevel.tif")
save(picture("1", 37, 11), "tiff_g4.tif", compression="group4")
save(picture("RGBA", 25, 17), "tiff_rgba.tif")
save(picture("CMYK", 21, 13), "tiff_cmyk.tif")
magick_source(picture("RGB", 50, 40), "tiff_t")
magick("tiff_t", "tiff_tiled.tif", "-define", "tiff:tile-geometry=16x16")
magick_source(picture("RGB", 30, 25), "tiff_p")
magick("tiff_p", "tiff_planar.tif", "-interlace", "plane")
magick_source(picture("RGB", 30, 25), "tiff_16")
magick("tiff_16", "tiff_rgb16.tif", "-depth", "16")
magick_source(picture("RGB", 24, 16), "tiff_o")
magick("tiff_o", "tiff_orient_botleft.tif", "-orient", "bottom-left")
magick_source(picture("L", 30, 11).point(lambda v: (v >> 6) * 85), "tiff_g2")
magick("tiff_g2", "tiff_grey2.tif", "-colorspace", "gray", "-depth", "2")
