#!/usr/bin/python3
"""Quality of the antialiased reduction: PSNR of kestrix's and vipsthumbnail's
reductions against PIL's Lanczos reduction of the fully decoded picture.

    bench/quality.py [KESTRIX] [--crop PNG]     default build/cli/kestrix

With --crop, also writes a side-by-side crop of the first picture's two
kestrix reductions (exact sampler left, Lanczos right) to PNG.

Makes photo-like pictures of SIZE (default 4032x3024, a 12-megapixel phone
photo) with fine detail (film grain, fabric hatching, small print, a zone
plate) under WORK (default /tmp/kestrix-quality), saves each as a quality-92
4:2:0 JPEG, reduces it to width 640 and prints the PSNR (dB, over R, G and
B) of: kestrix in the modern mode (its default), kestrix --classic, and
vipsthumbnail, each against the reference at its own output size. Outputs are written at JPEG quality 100 with 4:2:0 chroma by
every tool, so that the encoders add the same small error to all three.
Needs python3-pil and libvips-tools.
"""
import math
import os
import subprocess
import sys

from PIL import Image, ImageChops, ImageDraw, ImageStat

HERE = os.path.dirname(os.path.abspath(__file__))
ARGS = sys.argv[1:]
CROP = None
if "--crop" in ARGS:
    CROP = ARGS[ARGS.index("--crop") + 1]
    del ARGS[ARGS.index("--crop"):ARGS.index("--crop") + 2]
KESTRIX = ARGS[0] if ARGS else os.path.join(HERE, "..", "build", "cli", "kestrix")
WORK = os.environ.get("WORK", "/tmp/kestrix-quality")
W, H = (int(v) for v in os.environ.get("SIZE", "4032x3024").split("x"))
TARGET = 640
CORPUS = os.path.join(HERE, "..", "..", "shared", "corpora", "libjpeg-turbo")


def base_photo(name):
    """A real small photo from the corpora, enlarged, or a smooth scene."""
    path = os.path.join(CORPUS, name)
    if os.path.exists(path):
        return Image.open(path).convert("RGB").resize((W, H), Image.BICUBIC)
    sky = Image.linear_gradient("L").resize((W, H)).convert("RGB")
    return Image.merge("RGB", [sky.getchannel(0), sky.getchannel(0).point(lambda v: 255 - v // 2),
                               Image.new("L", (W, H), 140)])


def add_detail(picture, seed):
    """Fine detail that a two-tap sampler aliases: grain, hatching, print."""
    draw = ImageDraw.Draw(picture)
    # Fabric: thin diagonal lines 3 and 4 pixels apart in one quarter.
    for x in range(-H, W // 2, 3 + seed % 2):
        draw.line([(x, H // 2), (x + H // 2, H)], fill=(40, 30, 20), width=1)
    # Fence: vertical bars 5 pixels apart in another.
    for x in range(W // 2, W, 5):
        draw.line([(x, 0), (x, H // 3)], fill=(250, 250, 240), width=2)
    # Small print.
    for row in range(0, H // 2, 14):
        draw.text((20, row), "Folvane Kestrix 0123456789 resample " * 6, fill=(10, 10, 10))
    # A zone plate (rings of rising frequency) in a square.
    side = H // 3
    ring = Image.new("L", (side, side))
    ring.putdata([int(127.5 + 127.5 * math.cos(((x - side / 2) ** 2 + (y - side / 2) ** 2) * math.pi / (side * 1.6)))
                  for y in range(side) for x in range(side)])
    picture.paste(Image.merge("RGB", [ring] * 3), (W - side - 10, H - side - 10))
    grain = Image.effect_noise((W, H), 18).convert("RGB")
    return ImageChops.add(ImageChops.subtract(picture, Image.new("RGB", (W, H), (9, 9, 9))),
                          grain.point(lambda v: v // 14))


def psnr(full, b):
    """PSNR of b against PIL's Lanczos reduction of `full` to b's size."""
    a = full.resize(b.size, Image.LANCZOS)
    sq = sum(ImageStat.Stat(ImageChops.difference(a, b)).sum2)
    mse = sq / (a.size[0] * a.size[1] * 3)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def main():
    os.makedirs(WORK, exist_ok=True)
    pictures = [("bird", "shira_bird8.bmp", 0), ("building", "historic-big_building16.ppm", 1),
                ("monkey", "monkey16.png", 2), ("tree", "historic-big_tree8.bmp", 3)]
    print(f"{W}x{H} -> width {TARGET}; PSNR in dB against PIL Image.LANCZOS of the full decode")
    print(f"{'picture':10} {'kestrix':>8} {'classic':>8} {'vips':>8}")
    totals = [0.0, 0.0, 0.0]
    for name, base, seed in pictures:
        source = os.path.join(WORK, f"{name}.jpg")
        if not os.path.exists(source):
            add_detail(base_photo(base), seed).save(source, quality=92, subsampling=2)
        full = Image.open(source).convert("RGB")
        outs = [os.path.join(WORK, f"{name}-{tool}.jpg") for tool in ("kestrix", "classic", "vips")]
        subprocess.run([KESTRIX, "max-width", source, outs[0], "--width", str(TARGET), "--quality", "100"], check=True)
        subprocess.run([KESTRIX, "max-width", source, outs[1], "--width", str(TARGET), "--quality", "100",
                        "--classic"], check=True)
        subprocess.run(["vipsthumbnail", source, "--size", f"{TARGET}x",
                        "-o", outs[2] + "[Q=100,subsample-mode=on]"], check=True)
        scores = [psnr(full, Image.open(out).convert("RGB")) for out in outs]
        totals = [t + s for t, s in zip(totals, scores)]
        print(f"{name:10} " + " ".join(f"{s:8.2f}" for s in scores))
    print(f"{'mean':10} " + " ".join(f"{t / len(pictures):8.2f}" for t in totals))
    if CROP:
        write_crop(os.path.join(WORK, f"{pictures[0][0]}-classic.jpg"),
                   os.path.join(WORK, f"{pictures[0][0]}-kestrix.jpg"), CROP)


def write_crop(exact, lanczos, path):
    """The same 320 x 240 region of both reductions, side by side, labelled."""
    box = (250, 160, 570, 400)
    left, right = Image.open(exact).crop(box), Image.open(lanczos).crop(box)
    out = Image.new("RGB", (650, 262), "white")
    out.paste(left, (0, 22))
    out.paste(right, (330, 22))
    draw = ImageDraw.Draw(out)
    draw.text((4, 5), "--classic / --filter exact (Folvane's bytes)", fill="black")
    draw.text((334, 5), "default: --filter lanczos", fill="black")
    out.save(path, optimize=True)


if __name__ == "__main__":
    main()
