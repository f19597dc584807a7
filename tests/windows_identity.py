#!/usr/bin/env python3
"""The Windows program under wine against the Linux program.

    python3 tests/windows_identity.py LINUX_KOVREL WINDOWS_KOVREL_EXE [WINDOWS_KOVREL_HOOKED_EXE]

Every case of CASES runs both programs in fresh folders holding the same
input files: every file either leaves must be byte-identical, and so must the
console text on both streams (the seconds figure masked; Windows ends lines
with CR LF) and
the exit status. Then the faults only Windows meets, each with what must
happen, and with the test build of the program (kovrel_hooked.exe) Ctrl-C
at chosen steps of the write stage. Exits 1 on any difference. Needs wine, and for the inputs cjpeg
(libjpeg-turbo-progs), netpbm (tgatoppm, ppmtobmp, pnmquant, pamtogif) and
cwebp (webp).
"""
import difflib
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")

# One case: a name, the input files the folder starts with (names from
# make_inputs), the arguments, and optionally folders or files made first
# (a folder in an output's place). Add a case for every new format, reader
# or option: one line each.
CASES = [
    ("chelsea, default", ["chelsea.tga"], ["chelsea.tga"]),
    ("coffee, default", ["coffee.tga"], ["coffee.tga"]),
    ("every format", ["chelsea.tga"], ["--format=chr,clr,tga,png,sc2,raw,c,asm", "chelsea.tga"]),
    ("dedupe", ["coffee.tga"], ["--dedupe", "--format=raw,c,asm", "coffee.tga"]),
    ("settings", ["coffee.tga"], ["--dither=40", "--brightness=10", "--contrast=-20", "--saturation=30",
                                  "--gamma=1.40", "--palette=v9938", "--format=chr,clr,png", "coffee.tga"]),
    ("palette file", ["chelsea.tga", "my.gpl"], ["--palette=my.gpl", "chelsea.tga"]),
    ("palette of lines", ["coffee.tga", "colours.txt"], ["--palette=colours.txt", "--format=sc2", "coffee.tga"]),
    ("png with alpha", ["alpha.png"], ["--background=3366cc", "--format=chr,clr,tga,sc2", "alpha.png"]),
    ("png, fitted", ["alpha.png"], ["--fit=letterbox", "--aspect=tv", "--place=centre", "--format=sc2,c",
                                    "alpha.png"]),
    ("jpeg with exif orientation", ["turned.jpg"], ["--fit=crop", "--format=chr,clr,png,asm", "turned.jpg"]),
    ("small picture placed", ["small.tga"], ["--place=centre", "--format=sc2,raw,asm", "small.tga"]),
    ("odd size", ["odd.tga"], ["--format=chr,clr,tga,c", "odd.tga"]),
    ("in a sub folder", ["sub/ab.tga"], ["--format=chr,clr,c", "sub/ab.tga"]),
    ("gif", ["coffee.gif"], ["--format=chr,clr,png,sc2", "coffee.gif"]),
    ("bmp", ["chelsea.bmp"], ["--format=chr,clr,png,c", "chelsea.bmp"]),
    ("webp, lossy", ["coffee.webp"], ["--format=chr,clr,png,asm", "coffee.webp"]),
    ("webp, lossless with alpha", ["alpha.webp"], ["--background=204060", "--fit=letterbox", "alpha.webp"]),
    ("linear", ["coffee.tga"], ["--method=linear", "--format=chr,clr,png", "coffee.tga"]),
    ("linear, stucki", ["chelsea.tga"], ["--method=linear", "--kernel=stucki", "--format=chr,clr,png",
                                         "chelsea.tga"]),
    ("ordered", ["chelsea.tga"], ["--method=ordered", "--format=chr,clr,png", "chelsea.tga"]),
    ("optimise, small", ["small.tga"], ["--method=optimise", "--report", "--format=chr,clr,png", "small.tga"]),
    ("report", ["coffee.tga"], ["--report", "coffee.tga"]),
    ("all table formats", ["odd.tga"], ["--format=ti,a99,sc2,raw,c,asm,png", "odd.tga"]),
    ("output base name", ["chelsea.tga", "sub/"], ["--output=sub/title", "--format=chr,clr,ti,a99,c",
                                                   "chelsea.tga"]),
    ("batch with a bad file", ["small.tga", "odd.tga", "text.tga"], ["--batch", "--format=chr,clr,png",
                                                                      "small.tga", "text.tga", "odd.tga"]),
    ("batch, quiet", ["small.tga", "cut.tga", "text.tga"], ["--batch", "--quiet", "small.tga", "cut.tga",
                                                            "text.tga"]),
    # Error cases: the same message and exit status, no file written.
    ("cut-short tga", ["cut.tga"], ["cut.tga"]),
    ("not a picture", ["text.tga"], ["text.tga"]),
    ("missing picture", [], ["missing.tga"]),
    ("bad option", ["chelsea.tga"], ["--dither=150", "chelsea.tga"]),
    ("bad palette file", ["chelsea.tga", "bad.gpl"], ["--palette=bad.gpl", "chelsea.tga"]),
    ("no picture", [], []),
    ("too large for the screen", ["wide.tga"], ["--format=sc2", "wide.tga"]),
    ("folder in an output's place", ["chelsea.tga", "chelsea.CLR/"], ["chelsea.tga"]),
    ("quiet, an error", ["text.tga"], ["--quiet", "text.tga"]),
    ("bad method", ["chelsea.tga"], ["--method=best", "chelsea.tga"]),
]

SECONDS = re.compile(rb"in \d+\.\d\d seconds")
WINE_NOTE = re.compile(rb"^wine: Unhandled .*\n", re.M)


def tga(width, height, colour):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 24, 0)
    rows = []
    for y in reversed(range(height)):  # bottom-up
        rows.append(b"".join(bytes(reversed(colour(x, y))) for x in range(width)))
    return header + b"".join(rows)


def png_rgba(width, height, colour):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + b"".join(bytes(colour(x, y)) for x in range(width)) for y in range(height))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def exif_orientation(jpeg, orientation):
    """jpeg with an APP1 EXIF segment (little-endian TIFF) saying orientation."""
    tiff = b"II" + struct.pack("<HI", 42, 8) + struct.pack("<H", 1)
    tiff += struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0) + struct.pack("<I", 0)
    body = b"Exif\0\0" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body + jpeg[2:]


def make_inputs(folder):
    def put(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    for name in ("chelsea.tga", "coffee.tga"):
        shutil.copy(os.path.join(EXAMPLES, name), folder)
    with open(os.path.join(folder, "chelsea.tga"), "rb") as f:
        chelsea = f.read()
    put("cut.tga", chelsea[:len(chelsea) // 3])
    put("text.tga", b"not a picture at all\n")
    put("my.gpl", b"GIMP Palette\nName: test\n#\n" + b"".join(
        b"%d %d %d\tc%d\n" % ((i * 37) % 256, (i * 91) % 256, (i * 53) % 256, i) for i in range(16)))
    put("colours.txt", b"".join(b"#%02x%02x%02x\n" % ((i * 17) % 256, 255 - i * 15, (i * 71) % 256)
                                for i in range(1, 16)))
    put("bad.gpl", b"GIMP Palette\n1 2 three\n")
    put("alpha.png", png_rgba(200, 150, lambda x, y: (x, y, 255 - x, (x + 2 * y) % 256)))
    put("small.tga", tga(100, 60, lambda x, y: (x * 2, 255 - y * 4, (x ^ y) & 255)))
    put("odd.tga", tga(83, 45, lambda x, y: (y * 5, x * 3, 128)))
    put("wide.tga", tga(300, 100, lambda x, y: (x % 256, y, 0)))
    os.mkdir(os.path.join(folder, "sub"))
    put("sub/ab.tga", tga(64, 40, lambda x, y: (255 - x * 3, y * 6, x * 2)))
    ppm = subprocess.run(["tgatoppm", os.path.join(folder, "coffee.tga")], check=True,
                         capture_output=True).stdout
    jpeg = subprocess.run(["cjpeg", "-quality", "85"], input=ppm, check=True, capture_output=True).stdout
    put("turned.jpg", exif_orientation(jpeg, 6))
    # The other readers' inputs, made by their own encoders.
    def convert(command, data):
        return subprocess.run(command, input=data, check=True, capture_output=True).stdout
    chelsea_ppm = convert(["tgatoppm"], chelsea)
    put("chelsea.bmp", convert(["ppmtobmp"], chelsea_ppm))
    put("coffee.gif", convert(["pamtogif"], convert(["pnmquant", "256"], ppm)))
    put("coffee.ppm", ppm)
    subprocess.run(["cwebp", "-quiet", "-q", "80", "coffee.ppm", "-o", "coffee.webp"], cwd=folder, check=True)
    subprocess.run(["cwebp", "-quiet", "-lossless", "alpha.png", "-o", "alpha.webp"], cwd=folder, check=True)


def text_difference(linux, windows):
    lines = difflib.unified_diff(linux.decode(errors="replace").splitlines(),
                                 windows.decode(errors="replace").splitlines(), "Linux", "wine", lineterm="", n=0)
    return "\n".join(list(lines)[:12])


class Runner:
    def __init__(self, linux, windows, work):
        self.linux = os.path.abspath(linux)
        self.windows = os.path.abspath(windows)
        self.work = work
        self.inputs = os.path.join(work, "inputs")
        os.mkdir(self.inputs)
        make_inputs(self.inputs)
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        LC_ALL="C.UTF-8")
        self.env.setdefault("WINEPREFIX", os.path.join(work, "wine"))
        self.compared = 0
        self.failures = []

    def folder(self, name, inputs):
        path = os.path.join(self.work, name)
        os.makedirs(path)
        for item in inputs:
            if item.endswith("/"):
                os.makedirs(os.path.join(path, item))
                continue
            os.makedirs(os.path.dirname(os.path.join(path, item)), exist_ok=True)
            shutil.copy(os.path.join(self.inputs, item), os.path.join(path, item))
        return path

    def run(self, windows, folder, args):
        command = ["wine", self.windows] if windows else [self.linux]
        done = subprocess.run(command + args, cwd=folder, env=self.env, capture_output=True, timeout=300)
        # Both streams: under --quiet the errors and warnings go to standard
        # error.
        out = SECONDS.sub(b"in N seconds", done.stdout + b"--- standard error\n" + done.stderr)
        if windows:
            out = out.replace(b"\r\n", b"\n")
            # Wine's own helper processes share the console, and wine 8's
            # driver host (winedevice.exe, in ntoskrnl.exe) now and then
            # faults at start, saying so on standard error. Such a line is
            # shown, not compared: a fault in kovrel.exe itself ends it with
            # the fault's status, and the exit status is still compared.
            for line in WINE_NOTE.findall(out):
                print("note %s: %s" % (" ".join(args), line.decode(errors="replace").strip()))
            out = WINE_NOTE.sub(b"", out)
        return done.returncode, out

    def fail(self, case, what):
        self.failures.append(case)
        print("FAIL %s: %s" % (case, what))

    def report(self, case, detail=""):
        if case not in self.failures:
            print("ok   %-30s %s" % (case, detail))

    def compare_folders(self, case, left, right, rename=lambda name: name):
        def files(top):
            found = {}
            for base, _, names in os.walk(top):
                for name in names:
                    path = os.path.join(base, name)
                    found[os.path.relpath(path, top)] = path
            return found
        mine, theirs = files(left), files(right)
        expected = {rename(name): path for name, path in mine.items()}
        if set(expected) != set(theirs):
            self.fail(case, "files differ: %s against %s" % (sorted(expected), sorted(theirs)))
            return
        for name, path in expected.items():
            with open(path, "rb") as a, open(theirs[name], "rb") as b:
                if a.read() != b.read():
                    self.fail(case, "%s differs" % name)
            self.compared += 1

    def identity(self, index, case):
        name, inputs, args = case
        left = self.folder("%02d-linux" % index, inputs)
        right = self.folder("%02d-windows" % index, inputs)
        linux = self.run(False, left, args)
        windows = self.run(True, right, args)
        if linux[0] != windows[0]:
            self.fail(name, "exit status %d on Linux, %d under wine" % (linux[0], windows[0]))
        if linux[1] != windows[1]:
            self.fail(name, "console text differs:\n" + text_difference(linux[1], windows[1]))
        self.compare_folders(name, left, right)
        self.report(name, "exit %d" % linux[0])

    # The faults only Windows meets, each against what must happen.
    def windows_faults(self):
        # A second run in the same folder: the outputs of the first must not
        # be taken for the input.
        case = "rerun in the same folder"
        left = self.folder("rerun-linux", ["chelsea.tga"])
        right = self.folder("rerun-windows", ["chelsea.tga"])
        self.run(False, left, ["chelsea.tga"])
        for attempt in (1, 2):
            status, out = self.run(True, right, ["chelsea.tga"])
            if status != 0:
                self.fail(case, "run %d exit %d: %s" % (attempt, status, out.decode(errors="replace")))
        self.compare_folders(case, left, right)
        self.report(case)

        # sub\ab.tga names the file ab.tga in sub: the outputs go beside it
        # with the names and C symbol that sub/ab.tga gives.
        case = "backslash path"
        left = self.folder("backslash-linux", ["sub/ab.tga"])
        right = self.folder("backslash-windows", ["sub/ab.tga"])
        args = ["--format=chr,clr,tga,c,sc2"]
        expected = self.run(False, left, args + ["sub/ab.tga"])
        got = self.run(True, right, args + ["sub\\ab.tga"])
        got = (got[0], got[1].replace(b"sub\\ab", b"sub/ab"))
        if got != expected:
            self.fail(case, "exit %d against %d\n%s" % (got[0], expected[0], text_difference(expected[1], got[1])))
        self.compare_folders(case, left, right)
        self.report(case)

        # A drive letter: the whole path as Windows spells it (wine's Z: is /).
        case = "drive letter"
        left = self.folder("drive-linux", ["sub/ab.tga"])
        right = self.folder("drive-windows", ["sub/ab.tga"])
        self.run(False, left, args + ["sub/ab.tga"])
        spelt = "Z:" + os.path.join(right, "sub", "ab.tga").replace("/", "\\")
        status, out = self.run(True, right, args + [spelt])
        if status != 0:
            self.fail(case, "exit %d: %s" % (status, out.decode(errors="replace")))
        self.compare_folders(case, left, right)
        self.report(case)

        # A name outside the code page.
        case = "non-ASCII name"
        cat = "\u732b.tga"
        left = self.folder("unicode-linux", [])
        right = self.folder("unicode-windows", [])
        for top in (left, right):
            shutil.copy(os.path.join(self.inputs, "coffee.tga"), os.path.join(top, cat))
        args = ["--format=chr,clr,tga,png,c", cat]
        expected = self.run(False, left, args)
        got = self.run(True, right, args)
        if got != expected:
            self.fail(case, "exit %d against %d\n%s" % (got[0], expected[0], text_difference(expected[1], got[1])))
        self.compare_folders(case, left, right)
        self.report(case)

        # A read-only output: Windows will not replace it, so the run fails
        # with every file as it was and no temporary file left.
        case = "read-only target"
        right = self.folder("readonly-windows", ["chelsea.tga"])
        status, _ = self.run(True, right, ["--format=chr,clr,tga", "chelsea.tga"])
        if status != 0:
            self.fail(case, "the first run failed")
            return
        with open(os.path.join(right, "chelsea.CHR"), "wb") as f:
            f.write(b"old pattern table")
        os.chmod(os.path.join(right, "chelsea.CLR"), 0o444)
        before = {name: open(os.path.join(right, name), "rb").read() for name in os.listdir(right)}
        status, out = self.run(True, right, ["--dither=50", "--format=chr,clr,tga", "chelsea.tga"])
        after = {name: open(os.path.join(right, name), "rb").read() for name in os.listdir(right)}
        if status != 1 or b"chelsea.CLR" not in out:
            self.fail(case, "exit %d: %s" % (status, out.decode(errors="replace")))
        if after != before:
            self.fail(case, "files changed: %s" % sorted(set(after.items()) ^ set(before.items())))
        self.compared += len(after)
        self.report(case)


# Ctrl-C at a step of the write stage (KOVREL_TEST_PAUSE in
# image/output_file.cpp): the step, the environment, and whether the outputs
# must end all old or all new. Wine's GenerateConsoleCtrlEvent does not send
# Ctrl-Break (it fails with ERROR_INVALID_HANDLE), so that is not tried here;
# the program handles both alike.
STOPS = [
    ("Ctrl-C while staging", "staged 2", {}, "old"),
    ("Ctrl-C while writing", "chunk 3", {}, "old"),
    ("Ctrl-C during the renames", "placed 1", {}, "new"),
]
STOPPED = 0xC000013A & 0xFF  # STATUS_CONTROL_C_EXIT, as wine passes it to Linux


def stop_tests(runner, hooked):
    """Runs the hooked program in a console (a pseudo-terminal through
    script(1)), since only a console delivers Ctrl-C."""
    new = runner.folder("stop-new", ["chelsea.tga"])
    runner.run(False, new, ["chelsea.tga"])
    for index, (case, step, extra, outcome) in enumerate(STOPS):
        folder = runner.folder("stop-%d" % index, ["chelsea.tga"])
        runner.run(True, folder, ["--dither=50", "chelsea.tga"])
        before = {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}
        env = dict(runner.env, KOVREL_TEST_PAUSE=step, **extra)
        command = shlex.join(["wine", os.path.abspath(hooked), "chelsea.tga"])
        done = subprocess.run(["script", "-qec", command, "/dev/null"], cwd=folder, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        after = {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}
        if done.returncode != STOPPED:
            runner.fail(case, "exit status %d, not %d" % (done.returncode, STOPPED))
        if outcome == "old" and after != before:
            runner.fail(case, "files changed: %s" % sorted(set(after) ^ set(before) or
                                                           [n for n in after if after[n] != before.get(n)]))
        if outcome == "new":
            runner.compare_folders(case, new, folder)
        runner.compared += len(after) if outcome == "old" else 0
        runner.report(case, "exit %d" % done.returncode)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory(prefix="kovrel-wine-") as work:
        runner = Runner(sys.argv[1], sys.argv[2], work)
        subprocess.run(["wineboot", "--init"], env=runner.env, capture_output=True)
        try:
            for index, case in enumerate(CASES):
                runner.identity(index, case)
            runner.windows_faults()
            if len(sys.argv) == 4:
                stop_tests(runner, sys.argv[3])
        finally:
            subprocess.run(["wineserver", "-k"], env=runner.env, capture_output=True)
        print("%d cases, 5 Windows faults and %d stop requests; %d files compared; %d failed" % (
            len(CASES), len(STOPS) if len(sys.argv) == 4 else 0, runner.compared, len(set(runner.failures))))
        sys.exit(1 if runner.failures else 0)


if __name__ == "__main__":
    main()
