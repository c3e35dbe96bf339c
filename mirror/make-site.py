#!/usr/bin/env python3
"""Writes the local copy of the content site into mirror/site/: one small HTML page for
each catalogue entry, and four album movies (.swf) that play several frames in a loop
and load a photo strip of their own from beside them. The stamp, postcard and atlas
pages are written as the site's were: GB2312, with their cards as Flash movies in
<object>/<embed> pairs, beside the page, in a shared folder and on a second host (the
server puts its second address where the pages say $SECOND_HOST$). Every movie plays
two colours of its own. Run from the project root; the output is committed."""
import colorsys
import html
import os

from swf import define_rect_shape, load_once, movie, place

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'site')

STAMPS = "爱迪鹅日 饱睡节 变形日 成年节 飞车节 感恩日 光棍节 假面节 降临日 戒斋日 爱心日 玫瑰节 美酒节 蜜糖节 巧克力节 奇迹日 淘气节 心泉之光日 焰火节 赞美节".split()
CARDS = "冰港 丛林 公园 环球 企鹅岛 温泉 心心连 星星谷 音乐村 植物园".split()
ATLAS = "观赏鱼 咸水鱼 野生花卉 石头鉴赏 淡水鱼".split()
GIFTS = [str(x) for x in list(range(6, 21, 2)) + list(range(21, 31)) + list(range(35, 51, 5))]
ALBUMS = [
    ("小小相册", "/kpfolder/kpphotos/xiaoxiao/kp_message.swf"),
    ("星光相册", "/kpfolder/kpphotos/xguan/xg_message.swf"),
    ("环岛相册", "/kpfolder/kpphotos/huandao/hd_message.swf"),
    ("环球相册", "/kpfolder/kpphotos/huanqiu/hq_message.swf"),
]

PAGE = """<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>
body {{ font-family: sans-serif; margin: 24px; background: {bg}; color: #333; }}
h1 {{ font-size: 20px; }}
.card {{ border: 2px solid #8a6; border-radius: 8px; padding: 16px; background: #fff; }}
</style>
</head>
<body>
<div class="card">
<h1>{catalogue} · {key}</h1>
<p>本地镜像页面: {path}</p>
</div>
</body>
</html>
"""


# A page of the Flash era: GB2312, its card a movie.
FLASH_PAGE = """<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>{title}</title>
</head>
<body bgcolor="{bg}" style="margin:8px">
<center>
<font size="3"><b>{catalogue} · {key}</b></font><br>
{movies}
<br><font size="2" color="#666666">本地镜像页面: {path}</font>
</center>
</body>
</html>
"""

OBJECT_EMBED = """<object classid="clsid:D27CDB6E-AE6D-11cf-96B8-444553540000" codebase="http://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=6,0,29,0" width="{w}" height="{h}">
<param name="movie" value="{src}">
<param name="quality" value="high">
<param name="wmode" value="opaque">
<embed src="{src}" quality="high" wmode="opaque" pluginspage="http://www.macromedia.com/go/getflashplayer" type="application/x-shockwave-flash" width="{w}" height="{h}"></embed>
</object>"""

OBJECT_TYPED = """<object type="application/x-shockwave-flash" data="{src}" width="{w}" height="{h}">
<param name="movie" value="{src}">
<param name="scale" value="exactfit">
<param name="menu" value="false">
</object>"""

EMBED = """<embed src="{src}" type="application/x-shockwave-flash" width="{w}" height="{h}" quality="high"></embed>"""


def flash_colours(index):
    """The two colours movie number index plays, well apart from each other and the rest."""
    hue = (0.11 + index * 0.6180339887) % 1.0
    first = colorsys.hsv_to_rgb(hue, 0.8, 0.95)
    second = colorsys.hsv_to_rgb((hue + 0.5) % 1.0, 0.9, 0.6)
    return [tuple(round(c * 255) for c in rgb) for rgb in (first, second)]


def card_movie(index, w, h):
    frames = []
    for i, rgb in enumerate(flash_colours(index)):
        frames.append(define_rect_shape(i + 1, 0, 0, w * 20, h * 20, rgb) + place(i + 1, 1, i > 0))
    return movie(w, h, 4, frames)


def flash_pages():
    """(catalogue, key, page path, background, [(markup, movie path on its host, index, w, h)])"""
    n = 0
    for i, k in enumerate(STAMPS, 1):
        yield "邮票鉴赏", k, "/kppostcard/card%d.html" % i, "#fdf3e1", [
            (OBJECT_EMBED, "card%d.swf" % i, "/kppostcard/card%d.swf" % i, n, 320, 240)]
        n += 1
    for i, k in enumerate(CARDS, 1):
        shared = "/kpfolder/flash/postcard%d.swf" % i
        yield "明信片鉴赏", k, "/kptemp/card%d.html" % i, "#e8f4fd", [(OBJECT_TYPED, shared, shared, n, 320, 240)]
        n += 1
    for i, k in enumerate(ATLAS, 1):
        other = "/kpfolder/flash/atlas%d.swf" % i
        yield "图谱鉴赏", k, "/kpfolder/swf/x0%d.html" % i, "#eafbe9", [
            (OBJECT_EMBED, "x0%d.swf" % i, "/kpfolder/swf/x0%d.swf" % i, n, 180, 135),
            (EMBED, "http://$SECOND_HOST$" + other, other, n + 1, 180, 135)]
        n += 2


def pages():
    for k in GIFTS:
        yield "各级礼包", k, "/kphtml/gift%s.html" % k, "#f6ecfb"


def write(path, data):
    full = os.path.join(ROOT, path.lstrip('/'))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, 'wb') as f:
        f.write(data)


# Each album plays four full-stage colours; tests tell the frames apart by colour.
ALBUM_COLOURS = [
    [(220, 40, 40), (40, 160, 60), (40, 80, 220), (230, 200, 30)],
    [(240, 130, 20), (120, 40, 180), (20, 170, 170), (200, 60, 140)],
    [(90, 60, 30), (250, 160, 160), (60, 200, 120), (30, 30, 90)],
    [(180, 220, 40), (250, 100, 60), (70, 130, 180), (150, 150, 150)],
]
PHOTO_COLOUR = (255, 255, 255)
STAGE = (400, 300)


def album_movie(colours):
    w, h = STAGE
    frames = []
    for i, rgb in enumerate(colours):
        frames.append(define_rect_shape(i + 1, 0, 0, w * 20, h * 20, rgb) + place(i + 1, 1, i > 0))
    # The photo strip is loaded from beside the movie, as the site's albums do.
    return movie(w, h, 4, frames, extra_first_frame=load_once('photos.swf', '_level1'))


def photo_strip():
    """A white square in the stage's top-left corner, drawn above the album's frames."""
    w, h = STAGE
    shape = define_rect_shape(1, 0, 0, 80 * 20, 60 * 20, PHOTO_COLOUR)
    return movie(w, h, 4, [shape + place(1, 1, False)])


def main():
    for catalogue, key, path, bg, movies in flash_pages():
        markup = "\n".join(m.format(src=src, w=w, h=h) for m, src, _, _, w, h in movies)
        page = FLASH_PAGE.format(title=html.escape("%s · %s" % (catalogue, key)), catalogue=html.escape(catalogue),
                                 key=html.escape(key), path=html.escape(path), bg=bg, movies=markup)
        write(path, page.encode('gbk'))  # what gb2312 pages are read as
        for _, _, movie_path, index, w, h in movies:
            write(movie_path, card_movie(index, w, h))
    for catalogue, key, path, bg in pages():
        title = "%s · %s" % (catalogue, key)
        write(path, PAGE.format(title=html.escape(title), catalogue=html.escape(catalogue),
                                key=html.escape(key), path=html.escape(path), bg=bg).encode())
    for (key, path), colours in zip(ALBUMS, ALBUM_COLOURS):
        write(path, album_movie(colours))
        write(os.path.dirname(path) + '/photos.swf', photo_strip())


if __name__ == '__main__':
    main()
