#!/usr/bin/env python3
"""Writes a test site for the scan and download benchmarks and the end-to-end tests.

  make_site.py pages DIR N [--images-per-page 10] [--fanout 4]
      N HTML pages in five directory levels; page 0 is DIR/index.html. Every
      page links its children in the page tree (relative, partly into
      subdirectories), its parent (a "../" link or a sibling link), and
      carries IMAGES links to pictures (half IMG SRC, half A HREF), each
      address unique on the site. The picture files themselves are not written.

  make_site.py files DIR N URL_PREFIX [--size BYTES] [--max-size BYTES]
      N small picture files DIR/f00000.jpg ... plus DIR/list.bls (CR LF lines,
      URL_PREFIX + name) and DIR/list.txt (LF lines) naming them. With
      --max-size the sizes spread evenly between the two, the same every run.

  make_site.py gallery DIR [--pictures 12]
      DIR/gallery/index.html, where each original (orig/, 1600 x 1200 JPEG,
      1.5 MB) is a link wrapping its thumbnail (thumbs/, 160 x 120), beside
      small icons (icons/, 16 x 16 GIF) and banners (banners/, 380 x 120 PNG,
      1 MB) shown inline; and DIR/dup/ with one picture under three names
      (same.jpg, same-copy.jpg, other-name.jpg), one of another content
      (unique.jpg) and list.txt of their paths. The picture files carry a
      true header with their size; the rest is filler no decoder reads.
"""
import argparse
import os
import sys

LEVELS = 5  # directory levels, the site's root folder counting as the first


def page_dirs(n, fanout):
    """Directory (relative to the site root, '' or ending in '/') of each page."""
    dirs = [''] * n
    level = [0] * n
    for i in range(1, n):
        parent = (i - 1) // fanout
        level[i] = level[parent] + 1
        if level[i] < LEVELS:
            dirs[i] = dirs[parent] + 'd%d/' % ((i - 1) % fanout)
        else:
            dirs[i] = dirs[parent]
    return dirs


def page_name(i):
    return 'index.html' if i == 0 else 'p%d.html' % i


def rel(from_dir, to_path):
    return os.path.relpath(to_path, from_dir or '.').replace(os.sep, '/')


def write_pages(root, n, images, fanout):
    dirs = page_dirs(n, fanout)
    for d in set(dirs):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    filler = ('<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod '
              'tempor incididunt ut labore et dolore magna aliqua.</p>\n') * 4
    for i in range(n):
        here = dirs[i]
        out = ['<!DOCTYPE html>\n<html><head><title>Seite %d</title>\n' % i,
               '<meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1">\n',
               '<link rel="stylesheet" href="style.css"></head>\n<body>\n',
               '<h1>Seite %d</h1>\n' % i, filler, '<ul>\n']
        for c in range(fanout * i + 1, min(n, fanout * i + fanout + 1)):
            out.append('<li><a href="%s">Seite %d</a></li>\n' % (rel(here, dirs[c] + page_name(c)), c))
        if i > 0:
            p = (i - 1) // fanout
            out.append('<li><a href="%s">zur&uuml;ck</a></li>\n' % rel(here, dirs[p] + page_name(p)))
        out.append('</ul>\n<div class="bilder">\n')
        for k in range(images):
            name = 'bilder/p%d_%d.jpg' % (i, k)
            if k % 2 == 0:
                out.append('<img src="%s" width="120" height="90" alt="Bild %d">\n' % (name, k))
            else:
                out.append('<a href="%s">Bild %d gro&szlig;</a>\n' % (name, k))
        out.append('</div>\n' + filler + '</body></html>\n')
        with open(os.path.join(root, here, page_name(i)), 'w', encoding='latin-1') as f:
            f.write(''.join(out))


def write_files(root, n, prefix, size, max_size):
    os.makedirs(root, exist_ok=True)
    top = max(size, max_size or size)
    body = bytes((j * 7) & 0xFF for j in range(top))
    names = ['f%05d.jpg' % i for i in range(n)]
    for i, name in enumerate(names):
        # A fixed stride through the range: sizes vary, yet no two runs differ.
        length = size + (i * 7919) % (top - size + 1)
        with open(os.path.join(root, name), 'wb') as f:
            f.write(body[:length])
    with open(os.path.join(root, 'list.bls'), 'wb') as f:
        f.write(b''.join((prefix + name + '\r\n').encode() for name in names))
    with open(os.path.join(root, 'list.txt'), 'w') as f:
        f.write(''.join(prefix + name + '\n' for name in names))


def filler(size, seed):
    """Bytes without 0xFF, so no JPEG marker hides in them."""
    return bytes(((j * 131 + seed * 17) ^ (j >> 8)) % 255 for j in range(size))


def jpeg(width, height, size, seed):
    sof = b'\xff\xc0\x00\x11\x08' + height.to_bytes(2, 'big') + width.to_bytes(2, 'big') + \
        b'\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01'
    sos = b'\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00'
    head = b'\xff\xd8' + sof + sos
    return head + filler(max(0, size - len(head) - 2), seed) + b'\xff\xd9'


def png(width, height, size, seed):
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    head = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
    rest = size - len(head) - 12 - 12
    return head + chunk(b'IDAT', filler(max(0, rest), seed)) + chunk(b'IEND', b'')


def gif(width, height, size, seed):
    head = b'GIF89a' + width.to_bytes(2, 'little') + height.to_bytes(2, 'little') + b'\x00\x00\x00'
    return head + filler(max(0, size - len(head) - 1), seed) + b';'


def write_gallery(root, n):
    def put(rel_path, data):
        path = os.path.join(root, rel_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
    out = ['<html><head><title>Galerie</title></head><body>\n']
    for i in range(n):
        put('gallery/orig/p%02d.jpg' % i, jpeg(1600, 1200, 1500 * 1024, i))
        put('gallery/thumbs/p%02d.jpg' % i, jpeg(160, 120, 6 * 1024, 100 + i))
        out.append('<a href="orig/p%02d.jpg"><img src="thumbs/p%02d.jpg" width="160" height="120"></a>\n' % (i, i))
    for i in range(8):
        put('gallery/icons/i%d.gif' % i, gif(16, 16, 400, 200 + i))
        out.append('<img src="icons/i%d.gif" alt="">\n' % i)
    for i in range(4):
        put('gallery/banners/b%d.png' % i, png(380, 120, 1024 * 1024, 300 + i))
        out.append('<img src="banners/b%d.png" alt="">\n' % i)
    out.append('</body></html>\n')
    put('gallery/index.html', ''.join(out).encode())
    same = jpeg(1024, 768, 300 * 1024, 400)
    for name in ('same.jpg', 'same-copy.jpg', 'other-name.jpg'):
        put('dup/' + name, same)
    put('dup/unique.jpg', jpeg(1024, 768, 300 * 1024, 401))
    put('dup/list.txt', ''.join('/dup/%s\n' % name
                                for name in ('same.jpg', 'same-copy.jpg', 'unique.jpg', 'other-name.jpg')).encode())


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest='cmd', required=True)
    p = sub.add_parser('pages')
    p.add_argument('dir')
    p.add_argument('n', type=int)
    p.add_argument('--images-per-page', type=int, default=10)
    p.add_argument('--fanout', type=int, default=4)
    f = sub.add_parser('files')
    f.add_argument('dir')
    f.add_argument('n', type=int)
    f.add_argument('prefix')
    f.add_argument('--size', type=int, default=2048)
    f.add_argument('--max-size', type=int, default=0)
    g = sub.add_parser('gallery')
    g.add_argument('dir')
    g.add_argument('--pictures', type=int, default=12)
    a = ap.parse_args()
    if a.cmd == 'gallery':
        write_gallery(a.dir, a.pictures)
    elif a.cmd == 'pages':
        if a.n < 1 or a.fanout < 1:
            sys.exit('n and fanout must be positive')
        write_pages(a.dir, a.n, a.images_per_page, a.fanout)
    else:
        write_files(a.dir, a.n, a.prefix, a.size, a.max_size)


if __name__ == '__main__':
    main()
