#!/usr/bin/env python3
"""Whole program against whole program: `velko render FILE.cd` and `cmark
FILE.md` on the same text, side by side.

Three mixes are written at each size, once as Markdown and once as a record
script that `velko build` turns into a CD file:

  plain   paragraphs of plain words;
  styled  paragraphs of alternating plain and bold or italic runs of 2-5
          words;
  lists   a lead paragraph and a bulleted list of 3-8 items, in turn;
  tables  a paragraph holding a link (a V4 URL hotspot, which renders as an
          anchor; "[text](url)") and ending in an image (an embedded GIF;
          "![](src)"), then a section (a section hotspot and its bar,
          rendered without options as a rule and its content; a thematic
          break "---") holding a table of 6 columns and 3-6 rows of 1-3
          words a cell (a pipe table, which cmark without extensions reads
          as text), in turn.

Both forms hold the same words and the same styled elements: every run and
every list item is written on both sides, and neighbouring runs of one style
never occur, so neither side merges what the other keeps apart. The script
checks this on the outputs before it times anything: the same text once the
tags are stripped (whitespace aside, since the two put different white
space between blocks, and a pipe table's "|" and "-", which cmark writes as
text) and the same count of bold, italic, list-item, anchor and rule
elements.

Then the two commands run alternately, one warm-up pair and at least seven
timed pairs, each with its output thrown away, and the script prints per
mix and size: the median wall time of each, the median of the ratios of the
pairs (velko / cmark), MB of Markdown text per second, and the median peak
resident memory of each. The ratio's targets: 0.5 for the tables mix.

Standard library only. Usage:
  bench/compare_cmark.py [--velko build/release/tools/velko] [--cmark cmark]
                         [--sizes 1,10,50] [--mixes plain,styled,lists]
                         [--pairs 7] [--work DIR]
"""

import argparse
import os
import random
import re
import statistics
import subprocess
import sys
import time

WORDS = (
    "rich text body record table cell font chunk engine note walk item store "
    "paragraph words render output document run list byte quick brown fox lazy "
    "markup stream header linear quarter figure report region target audit"
).split()

MEGABYTE = 1000 * 1000


def words(rng, low, high):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(low, high)))


# Each generator yields blocks: ("p", [(style, text), ...]) or ("li", [...]).
# Styles are "", "b" and "i"; runs of a paragraph alternate plain and styled,
# and a styled run is never next to one of the same style.

def plain_blocks(rng):
    while True:
        yield "p", [("", words(rng, 40, 120))]


def styled_blocks(rng):
    while True:
        runs = []
        for index in range(rng.randint(6, 16)):
            if index % 2 == 0:
                runs.append(("", words(rng, 2, 5)))
            else:
                runs.append((rng.choice("bi"), words(rng, 2, 5)))
        yield "p", runs


def list_blocks(rng):
    while True:
        yield "p", [("", words(rng, 20, 60))]
        for _ in range(rng.randint(3, 8)):
            yield "li", [("", words(rng, 4, 12))]


TABLE_COLUMNS = 6
LINK_URL = "http://example.com/page"
IMAGE_SOURCE = "/images/picture.gif"


def table_blocks(rng):
    while True:
        yield "p", [("", words(rng, 10, 30)), ("a", words(rng, 2, 4)),
                    ("", words(rng, 5, 15)), ("img", "")]
        yield "table", [[words(rng, 1, 3) for _ in range(TABLE_COLUMNS)]
                        for _ in range(rng.randint(3, 6))]


MIXES = {"plain": plain_blocks, "styled": styled_blocks, "lists": list_blocks,
         "tables": table_blocks}


def pipe_table(rows):
    lines = []
    for index, row in enumerate(rows):
        lines.append("".join("| %s " % cell for cell in row) + "|")
        if index == 0:
            lines.append("|---" * len(row) + "|")
    return "\n" + "\n".join(lines) + "\n"


def table_script(rows):
    lines = ["TABLEBEGIN"]
    for row, cells in enumerate(rows):
        for column, cell in enumerate(cells):
            lines += ["TABLECELL row=%d column=%d" % (row, column), "PABREF id=1",
                      'TEXT text="%s"' % cell]
    return "\n".join(lines + ["TABLEEND"]) + "\n"


IMAGE_SCRIPT = ("BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
                'IMAGESEGMENT data="GIF"\nEND sig=CDGRAPHIC')


def markdown_of(kind, runs, previous_kind):
    if kind == "table":
        # The section: a thematic break, the table under it.
        return "\n---" + pipe_table(runs)
    text = []
    for index, (style, run) in enumerate(runs):
        # A blank between runs, inside the plain run's text on the CD side.
        sep = " " if index + 1 < len(runs) else ""
        if style == "b":
            text.append("**" + run + "**" + sep)
        elif style == "i":
            text.append("*" + run + "*" + sep)
        elif style == "a":
            text.append("[" + run + "](" + LINK_URL + ")" + sep)
        elif style == "img":
            text.append("![](" + IMAGE_SOURCE + ")" + sep)
        else:
            text.append(run + sep)
    line = "".join(text)
    if kind == "li":
        return ("" if previous_kind == "li" else "\n") + "- " + line + "\n"
    return "\n" + line + "\n"


def script_of(kind, runs):
    if kind == "table":
        # The table in a section: its hotspot, its bar, the table, the end.
        return ("HOTSPOTBEGIN sig=CDV4HOTSPOTBEGIN type=13\nSECTIONBAR title=\"Section\"\n" +
                table_script(runs) + "HOTSPOTEND sig=CDV4HOTSPOTEND\n")
    lines = ["PARAGRAPH", "PABREF id=2" if kind == "li" else "PABREF id=1"]
    for index, (style, run) in enumerate(runs):
        sep = " " if index + 1 < len(runs) else ""
        if style == "a":
            lines += ['HOTSPOTBEGIN sig=CDV4HOTSPOTBEGIN type=11 flags=0x1000 data="%s"' % LINK_URL,
                      'TEXT text="%s%s"' % (run, sep), "HOTSPOTEND sig=CDV4HOTSPOTEND"]
            continue
        if style == "img":
            lines.append(IMAGE_SCRIPT)
            if sep:
                lines.append('TEXT text=" "')
            continue
        attributes = {"b": " attributes=bold", "i": " attributes=italic"}.get(style, "")
        lines.append('TEXT%s text="%s%s"' % (attributes, run, sep))
    return "\n".join(lines) + "\n"


def write_inputs(mix, megabytes, work, velko):
    base = os.path.join(work, "%s_%dMB" % (mix, megabytes))
    md, cd = base + ".md", base + ".cd"
    if os.path.exists(md) and os.path.exists(cd):
        return md, cd
    rng = random.Random(2026 + megabytes)
    target = megabytes * MEGABYTE
    size = 0
    previous = None
    script = base + ".cdscript"
    with open(md, "w") as md_file, open(script, "w") as script_file:
        script_file.write("PABDEF id=1\nPABDEF id=2 left=1800 flags=0x0400\n")
        for kind, runs in MIXES[mix](rng):
            text = markdown_of(kind, runs, previous)
            md_file.write(text)
            script_file.write(script_of(kind, runs))
            previous = kind
            size += len(text)
            if size >= target:
                break
    subprocess.run([velko, "build", script, "-o", cd], check=True, stdout=subprocess.DEVNULL)
    os.remove(script)
    return md, cd


def output_of(command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout.decode("latin-1")


def check_like_for_like(md, cd, velko, cmark):
    """The same text and the same styled elements on both sides."""
    ours = output_of([velko, "render", cd])
    theirs = output_of([cmark, md])
    body = re.search(r"<body[^>]*>(.*)</body>", ours, re.S)
    ours = body.group(1) if body else ours

    def text(html):
        # A pipe table's delimiters are text to cmark without extensions.
        return re.sub(r"[\s|-]+", "", re.sub(r"<[^>]*>", "", html))

    def count(html, names):
        return sum(len(re.findall(r"<%s[\s>]" % name, html)) for name in names)

    problems = []
    if text(ours) != text(theirs):
        problems.append("the texts differ")
    for what, names in (("bold", ("b", "strong")), ("italic", ("i", "em")),
                        ("list item", ("li",)), ("anchor", ("a",)), ("rule", ("hr",))):
        a, b = count(ours, names), count(theirs, names)
        if a != b:
            problems.append("%s elements: velko %d, cmark %d" % (what, a, b))
    return problems


def run_once(command, devnull):
    """Wall seconds and peak resident memory (bytes) of one whole run."""
    start = time.monotonic()
    pid = os.posix_spawnp(command[0], command, os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1),
                                        (os.POSIX_SPAWN_DUP2, devnull, 2)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        raise RuntimeError("%s exited with %d" % (" ".join(command), status))
    return wall, usage.ru_maxrss * 1024


def measure(ours_command, theirs_command, pairs):
    """Runs in a fresh interpreter of its own: a child's peak memory counts
    the memory of the process it was started from, so that process is kept
    small. Prints one line per pair, and first the peak of a run of `true`,
    the floor under every peak."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    print("floor %d" % run_once(["true"], devnull)[1])
    run_once(ours_command, devnull)
    run_once(theirs_command, devnull)
    for _ in range(pairs):
        a = run_once(ours_command, devnull)
        b = run_once(theirs_command, devnull)
        print("pair %r %d %r %d" % (a[0], a[1], b[0], b[1]))


def compare(md, cd, velko, cmark, pairs):
    request = repr(([velko, "render", cd], [cmark, md], pairs))
    lines = subprocess.run([sys.executable, "-I", "-S", os.path.abspath(__file__),
                            "--measure", request],
                           check=True, stdout=subprocess.PIPE).stdout.decode().splitlines()
    floor = int(lines[0].split()[1])
    ours, theirs, ratios = [], [], []
    for line in lines[1:]:
        _, a_wall, a_peak, b_wall, b_peak = line.split()
        ours.append((float(a_wall), int(a_peak)))
        theirs.append((float(b_wall), int(b_peak)))
        ratios.append(float(a_wall) / float(b_wall))
    return ours, theirs, ratios, floor


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--measure":
        import ast
        measure(*ast.literal_eval(sys.argv[2]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--velko", default="build/release/tools/velko")
    parser.add_argument("--cmark", default="cmark")
    parser.add_argument("--sizes", default="1,10,50")
    parser.add_argument("--mixes", default="plain,styled,lists")
    parser.add_argument("--pairs", type=int, default=7)
    parser.add_argument("--work", default="build/compare_cmark")
    args = parser.parse_args()
    if args.pairs < 7:
        parser.error("at least seven pairs")
    os.makedirs(args.work, exist_ok=True)

    print("| mix | MB | velko s | cmark s | velko/cmark | velko MB/s | cmark MB/s "
          "| velko peak MB | cmark peak MB |")
    print("|---|---|---|---|---|---|---|---|---|")
    failed = False
    floor = 0
    for mix in args.mixes.split(","):
        for megabytes in (int(size) for size in args.sizes.split(",")):
            md, cd = write_inputs(mix, megabytes, args.work, args.velko)
            problems = check_like_for_like(md, cd, args.velko, args.cmark)
            if problems:
                print("%s %d MB is not like for like: %s" % (mix, megabytes, "; ".join(problems)),
                      file=sys.stderr)
                failed = True
                continue
            ours, theirs, ratios, floor = compare(md, cd, args.velko, args.cmark, args.pairs)
            text_mb = os.path.getsize(md) / MEGABYTE
            ours_s = statistics.median(wall for wall, _ in ours)
            theirs_s = statistics.median(wall for wall, _ in theirs)
            print("| %s | %d | %.3f | %.3f | %.2f | %.1f | %.1f | %.1f | %.1f |" % (
                mix, megabytes, ours_s, theirs_s, statistics.median(ratios),
                text_mb / ours_s, text_mb / theirs_s,
                statistics.median(peak for _, peak in ours) / MEGABYTE,
                statistics.median(peak for _, peak in theirs) / MEGABYTE))
            sys.stdout.flush()
    print("\nPeak memory is the operating system's count for each run; a run of `true`"
          " from the same place peaks at %.1f MB, the floor under both." % (floor / MEGABYTE))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
