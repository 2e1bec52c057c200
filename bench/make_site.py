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
    a = ap.parse_args()
    if a.cmd == 'pages':
        if a.n < 1 or a.fanout < 1:
            sys.exit('n and fanout must be positive')
        write_pages(a.dir, a.n, a.images_per_page, a.fanout)
    else:
        write_files(a.dir, a.n, a.prefix, a.size, a.max_size)


if __name__ == '__main__':
    main()
