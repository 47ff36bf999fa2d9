# SPDX-License-Identifier: GPL-3.0-or-later
"""The inputs of the side-by-side comparison, made once per run in its work folder.

Every input is made here from generated sources (ffmpeg's lavfi, vips, qpdf, a few lines of
PDF and markup written below): no sample files come from anywhere else.
"""
import math
import os
import random
import subprocess
from pathlib import Path

QUIET = ["-nostdin", "-loglevel", "error", "-y"]


def run(*argv, **kwargs):
    subprocess.run([str(a) for a in argv], check=True, **kwargs)


def env_number(name, default):
    value = os.environ.get(name)
    return type(default)(value) if value else default


def remux_clip(work: Path, megabytes: int) -> Path:
    """An H.264/AAC 1080p MP4 of about `megabytes` MB: 20 s at 20 Mb/s with film grain, so the
    copy moves real data, looped (as a stream copy) to the size asked for."""
    piece = work / "remux-piece.mp4"
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=48000", "-t", "20", "-vf", "noise=alls=8:allf=t", "-c:v", "libx264",
        "-preset", "ultrafast", "-b:v", "20M", "-maxrate", "20M", "-bufsize", "40M", "-g", "30",
        "-c:a", "aac", "-b:a", "128k", piece)
    loops = max(0, math.ceil(megabytes * 1e6 / piece.stat().st_size) - 1)
    clip = work / "remux.mp4"
    run("ffmpeg", *QUIET, "-stream_loop", loops, "-i", piece, "-c", "copy", "-movflags", "+faststart", clip)
    piece.unlink()
    return clip


def long_clip(work: Path, minutes: int) -> Path:
    """A `minutes`-long H.264/AAC MP4 at a low resolution and bit rate with a keyframe every two
    seconds: one encoded minute, looped as a stream copy."""
    piece = work / "trim-piece.mp4"
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30", "-f", "lavfi", "-i",
        "sine=frequency=330:sample_rate=48000", "-t", "60", "-c:v", "libx264", "-preset", "ultrafast",
        "-b:v", "600k", "-g", "60", "-keyint_min", "60", "-c:a", "aac", "-b:a", "96k", piece)
    clip = work / "long.mp4"
    run("ffmpeg", *QUIET, "-stream_loop", max(0, minutes - 1), "-i", piece, "-c", "copy", "-movflags", "+faststart",
        clip)
    piece.unlink()
    return clip


def mkv_clip(work: Path, minutes: int) -> Path:
    """A `minutes`-long H.264/AAC MKV at a low resolution with three B-frames between anchors and
    a closed group of pictures every two seconds: one encoded minute, looped as a stream copy."""
    piece = work / "mkv-piece.mkv"
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30", "-f", "lavfi", "-i",
        "sine=frequency=330:sample_rate=48000", "-t", "60", "-c:v", "libx264", "-preset", "veryfast", "-bf", "3",
        "-b:v", "600k", "-g", "60", "-keyint_min", "60", "-sc_threshold", "0", "-c:a", "aac", "-b:a", "96k", piece)
    clip = work / "long.mkv"
    run("ffmpeg", *QUIET, "-stream_loop", max(0, minutes - 1), "-i", piece, "-c", "copy", clip)
    piece.unlink()
    return clip


def mkv_720p_clip(work: Path, minutes: int) -> Path:
    """A `minutes`-long 720p H.264/AAC MKV at 4 Mb/s with B-frames and a closed group of pictures
    every two seconds: one encoded minute, looped as a stream copy."""
    piece = work / "mkv720-piece.mkv"
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30", "-f", "lavfi", "-i",
        "sine=frequency=330:sample_rate=48000", "-t", "60", "-vf", "noise=alls=6:allf=t", "-c:v", "libx264",
        "-preset", "ultrafast", "-bf", "3", "-b:v", "4M", "-g", "60", "-keyint_min", "60", "-sc_threshold", "0",
        "-c:a", "aac", "-b:a", "128k", piece)
    clip = work / "long720.mkv"
    run("ffmpeg", *QUIET, "-stream_loop", max(0, minutes - 1), "-i", piece, "-c", "copy", clip)
    piece.unlink()
    return clip


def avi_clip(work: Path, minutes: int) -> Path:
    """A `minutes`-long AVI as older cameras and tools write it: MPEG-4 ASP without B-frames and
    MP3, 640x360 at 25 pictures a second, a keyframe every 2 s: one encoded minute, looped as a
    stream copy."""
    piece = work / "avi-piece.avi"
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25", "-f", "lavfi", "-i",
        "sine=frequency=330:sample_rate=44100", "-t", "60", "-c:v", "mpeg4", "-q:v", "4", "-bf", "0", "-g", "50",
        "-c:a", "libmp3lame", "-b:a", "128k", piece)
    clip = work / "long.avi"
    run("ffmpeg", *QUIET, "-stream_loop", max(0, minutes - 1), "-i", piece, "-c", "copy", clip)
    piece.unlink()
    return clip


def ogg_clip(work: Path, minutes: int) -> Path:
    """A `minutes`-long Opus sound in Ogg: one encoded minute, looped as a stream copy."""
    piece = work / "ogg-piece.ogg"
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=48000", "-t", "60", "-c:a", "libopus",
        "-b:a", "96k", piece)
    clip = work / "long.ogg"
    run("ffmpeg", *QUIET, "-stream_loop", max(0, minutes - 1), "-i", piece, "-c", "copy", clip)
    piece.unlink()
    return clip


def keyframe_near(clip: Path, seconds: float) -> float:
    """The time of the first video keyframe at or after `seconds` (within ten seconds)."""
    done = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-skip_frame", "nokey",
                           "-show_entries", "frame=pts_time", "-read_intervals", f"{seconds}%+10", "-of", "csv=p=0",
                           str(clip)], check=True, capture_output=True, text=True)
    times = [float(t) for t in done.stdout.replace(",", " ").split()]
    times = [t for t in times if t >= seconds - 0.001]
    if not times:
        raise RuntimeError(f"no keyframe in {clip} after {seconds} s")
    return min(times)


WORDS = ("the river carried light timber past quiet towns while engineers measured every bridge and wrote "
         "careful notes about water level stone weight iron rails winter storms harvest schedules market "
         "prices ferry routes lantern oil signal flags northern valleys copper mines railway clerks").split()


def sentence(rng: random.Random, words: int) -> str:
    return " ".join(rng.choice(WORDS) for _ in range(words)).capitalize() + "."


def text_pdf(path: Path, pages: int, title: str, seed: int) -> Path:
    """A Letter-size PDF of `pages` pages, each with a heading and about 45 lines of running text
    in Helvetica, written by hand and then given object streams and compressed streams by qpdf,
    as most PDFs are."""
    rng = random.Random(seed)
    objects = {1: b"<< /Type /Catalog /Pages 2 0 R >>",
               3: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"}
    kids = []
    number = 4
    for page in range(1, pages + 1):
        lines = [f"BT /F1 18 Tf 72 730 Td ({title}, page {page}) Tj ET"]
        y = 700
        while y > 60:
            text = sentence(rng, 13)[:95]
            lines.append(f"BT /F1 11 Tf 72 {y} Td ({text}) Tj ET")
            y -= 14
        content = "\n".join(lines).encode("ascii")
        objects[number] = (f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                           f"/Resources << /Font << /F1 3 0 R >> >> /Contents {number + 1} 0 R >>").encode()
        objects[number + 1] = b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream"
        kids.append(number)
        number += 2
    objects[2] = f"<< /Type /Pages /Kids [{' '.join(f'{k} 0 R' for k in kids)}] /Count {pages} >>".encode()
    raw = path.with_suffix(".raw.pdf")
    with open(raw, "wb") as out:
        out.write(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        for key in sorted(objects):
            offsets[key] = out.tell()
            out.write(b"%d 0 obj\n" % key + objects[key] + b"\nendobj\n")
        xref = out.tell()
        out.write(b"xref\n0 %d\n0000000000 65535 f \n" % (number))
        for key in range(1, number):
            out.write(b"%010d 00000 n \n" % offsets[key])
        out.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (number, xref))
    run("qpdf", "--object-streams=generate", "--compress-streams=y", raw, path)
    raw.unlink()
    return path


def photos(work: Path, count: int, megapixels: float, quality: int) -> list:
    """`count` photographic JPEGs of `megapixels` MP (4:3): test-card frames with film grain,
    written by libvips at `quality` with the standard tables, so the quality a reader estimates
    from them is the one given."""
    folder = work / "photos"
    folder.mkdir()
    width = int(round(math.sqrt(megapixels * 1e6 * 4 / 3) / 8)) * 8
    height = width * 3 // 4
    run("ffmpeg", *QUIET, "-f", "lavfi", "-i", f"testsrc2=size={width}x{height}:rate=1", "-frames:v", count,
        "-vf", "noise=alls=12:allf=u", folder / "photo%02d.ppm")
    made = []
    for frame in sorted(folder.glob("*.ppm")):
        jpeg = frame.with_suffix(".jpg")
        run("vips", "jpegsave", frame, jpeg, "--Q", quality)
        frame.unlink()
        made.append(jpeg)
    return made


def markdown_text(sections: int) -> str:
    rng = random.Random(7)
    parts = ["# Field report on the northern railway", ""]
    for section in range(1, sections + 1):
        parts += [f"## Section {section}: {sentence(rng, 4)[:-1]}", ""]
        for _ in range(3):
            parts += [" ".join(sentence(rng, rng.randint(8, 16)) for _ in range(6)), ""]
        parts += ["- " + sentence(rng, 6) for _ in range(4)] + [""]
        parts += ["| Station | Distance (km) | Trains a day |", "|---|---:|---:|"]
        parts += [f"| {rng.choice(WORDS).capitalize()} {i} | {rng.randint(3, 400)} | {rng.randint(1, 40)} |"
                  for i in range(1, 7)] + [""]
    return "\n".join(parts)


def html_text(sections: int) -> str:
    rng = random.Random(11)
    parts = ["<!DOCTYPE html>", "<html><head><meta charset=\"utf-8\"><title>Field report</title></head><body>",
             "<h1>Field report on the northern railway</h1>"]
    for section in range(1, sections + 1):
        parts.append(f"<h2>Section {section}: {sentence(rng, 4)[:-1]}</h2>")
        for _ in range(3):
            parts.append("<p>" + " ".join(sentence(rng, rng.randint(8, 16)) for _ in range(6)) + "</p>")
        parts.append("<ul>" + "".join(f"<li>{sentence(rng, 6)}</li>" for _ in range(4)) + "</ul>")
        rows = "".join(f"<tr><td>{rng.choice(WORDS).capitalize()} {i}</td><td>{rng.randint(3, 400)}</td>"
                       f"<td>{rng.randint(1, 40)}</td></tr>" for i in range(1, 7))
        parts.append("<table border=\"1\"><tr><th>Station</th><th>Distance (km)</th><th>Trains a day</th></tr>"
                     + rows + "</table>")
    parts.append("</body></html>")
    return "\n".join(parts)


def documents(work: Path, drive: Path, sections: int) -> dict:
    """A Markdown and an HTML report of a few pages (headings, paragraphs, a list and a table in
    each section) and a DOCX made from the HTML by Kolvex itself."""
    folder = work / "documents"
    folder.mkdir()
    md = folder / "report.md"
    md.write_text(markdown_text(sections), encoding="utf-8")
    html = folder / "report.html"
    html.write_text(html_text(sections), encoding="utf-8")
    made = work / "docx-made"
    made.mkdir()
    run(drive, "--to", "docx", "--quiet", "--out", made, html, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    docx = folder / "report.docx"
    (made / "report.docx").rename(docx)
    made.rmdir()
    return {"docx": docx, "md": md, "html": html}
