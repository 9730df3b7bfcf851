#!/usr/bin/python3
"""The real selection dialog of wendrel.dll on a real display, as a picture.

In an X server of its own (xvfb-run -a), against a fixture server of tree
ACME where jdoe matches twice, qzlogin.exe runs under Wine's X11 driver with
WENDREL_QZLOGIN_SCREENSHOT: it captures the drawn dialog, then picks the
second row. Checks the dialog's texts (qzlogin's report), the outcome, and
that the picture is the drawn dialog; writes it as PNG. Two more logins
answer with a double-click and with OK and no row.
"""

import argparse
import collections
import json
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

STEP_TIMEOUT = 60  # seconds for any one program the test runs


class Failure(Exception):
    pass


def windows_path(path):
    """A Unix path as Wine sees it on its Z: drive (the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(cmd, env=None, stdout_path=None):
    """Runs cmd with output into files (stderr beside stdout_path), not pipes,
    which a Wine background process would inherit and hold open."""
    err_path = stdout_path + ".stderr" if stdout_path else os.devnull
    with open(stdout_path or os.devnull, "wb") as out, open(err_path, "wb") as err:
        return subprocess.call(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               timeout=STEP_TIMEOUT)


def read_bmp(path):
    """(width, height, rows of (r, g, b) top-down) of a 24-bit BI_RGB BMP."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise Failure("%s is not a BMP file" % path)
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0 or width <= 0 or height == 0:
        raise Failure("unexpected BMP layout: %d bits, compression %d, %dx%d" %
                      (bits, compression, width, height))
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        start = offset + y * stride
        line = data[start:start + width * 3]
        if len(line) != width * 3:
            raise Failure("BMP pixel data cut short")
        rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, len(line), 3)])
    if height > 0:
        rows.reverse()
    return width, abs(height), rows


def write_png(path, width, height, rows):
    """8-bit RGB PNG, filter 0 on every row."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def check_picture(width, height, rows):
    """The dialog as drawn: the size of template 9001 at a usual font, a
    caption bar that differs from the dialog's face, and text in the body."""
    if not (300 <= width <= 1200 and 180 <= height <= 800):
        raise Failure("a picture of %dx%d pixels is not the dialog" % (width, height))
    counts = collections.Counter(pixel for row in rows for pixel in row)
    if len(counts) < 4:
        raise Failure("the picture is blank: %d colours" % len(counts))
    face = counts.most_common(1)[0][0]

    def commonest(row):
        return collections.Counter(row).most_common(1)[0][0]

    # The caption bar: within the top 40 rows, one whose commonest colour is
    # not the face colour.
    if not any(commonest(rows[y]) != face for y in range(2, min(40, height))):
        raise Failure("no caption bar at the top of the picture")
    # Text in the body: more dark pixels than a frame alone would give.
    body_dark = sum(1 for row in rows[40:] for p in row if sum(p) < 3 * 96)
    if body_dark < 400:
        raise Failure("hardly any text in the dialog: %d dark pixels" % body_dark)


def main(argv):
    ap = argparse.ArgumentParser()
    for name in ("wine-run", "qzlogin", "extension", "fixture", "work-dir", "png"):
        ap.add_argument("--" + name, required=True)
    args = ap.parse_args(argv)
    if not os.environ.get("DISPLAY"):
        raise Failure("no X display: run under xvfb-run -a")

    work = os.path.abspath(args.work_dir)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    env = dict(os.environ, WENDREL_WINE_GRAPHICS="x11")
    prefix = os.path.join(os.path.dirname(os.path.abspath(args.wine_run)),
                          "wineprefix-x11-graphics")
    wineserver = ["/usr/lib/wine/wineserver"]
    server_env = dict(env, WINEPREFIX=prefix)

    def stop_wine():
        # Wine's desktop process is bound to this run's display, which goes
        # when the test ends: the next run starts a fresh one.
        if os.path.isdir(prefix):
            subprocess.call(wineserver + ["-k"], env=server_env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=STEP_TIMEOUT)
            subprocess.call(wineserver + ["-w"], env=server_env, timeout=STEP_TIMEOUT)

    fixture_dir = os.path.join(work, "directory")
    stop_wine()
    try:
        if run([args.fixture, "start", fixture_dir, "--ttl", "120", "--server", "ACME"]) != 0:
            raise Failure("the directory fixture did not start: " +
                          open(os.path.join(fixture_dir, "result.txt")).read())
        with open(os.path.join(fixture_dir, "fixture.json")) as f:
            server = json.load(f)["servers"][0]

        reg = os.path.join(work, "config.reg")
        key = "HKEY_LOCAL_MACHINE\\Software\\Tarvos"
        with open(reg, "w", newline="\r\n") as f:
            f.write("Windows Registry Editor Version 5.00\n\n"
                    "[%s\\Graphical Login\\QZLGE\\LDAP Contextless]\n"
                    "\"Contextless Login Enabled\"=dword:00000001\n"
                    "\"Display Context\"=dword:00000001\n"
                    "\"Display Full Name\"=dword:00000001\n"
                    "\"Display Email\"=dword:00000001\n\n"
                    "[%s\\LDAP\\Servers]\n\"0\"=\"%s\"\n\n"
                    "[%s\\LDAP\\Servers\\settings]\n\"Port 0\"=dword:%08x\n\n"
                    "[%s\\LDAP\\Trees]\n\"0\"=\"ACME\"\n" %
                    (key, key, server["host"], key, server["port"], key))
        run([args.wine_run, "reg", "delete", "HKLM\\Software\\Tarvos", "/f"], env=env)
        if run([args.wine_run, "reg", "import", windows_path(reg)], env=env) != 0:
            raise Failure("reg import of the configuration failed")

        bmp = os.path.join(work, "dialog.bmp")
        report_path = os.path.join(work, "report.json")
        login_env = dict(env, WENDREL_QZLOGIN_SCREENSHOT=windows_path(bmp))
        def login(script, env):
            """Report and standard error of jdoe's login answered by `script`."""
            status = run([args.wine_run, args.qzlogin, "--extension",
                          windows_path(args.extension), "--user", "jdoe", "--tree", "ACME",
                          "--json"] + script, env=env, stdout_path=report_path)
            with open(report_path + ".stderr", errors="replace") as f:
                stderr = f.read()
            if status != 0:
                raise Failure("qzlogin.exe exited with %d:\n%s" % (status, stderr))
            with open(report_path, encoding="utf-8") as f:
                return json.load(f), stderr

        started = time.monotonic()
        report, stderr = login(["--select", "1"], login_env)
        elapsed = time.monotonic() - started

        # What the controls of the dialog showed.
        dialogs = report["dialogs"]
        if len(dialogs) != 1:
            raise Failure("%d selection dialogs, expected 1:\n%s" % (len(dialogs), stderr))
        # Rows sorted by user name; the list puts an equal name before the
        # rows already there, so the second user found (eng) comes first.
        expected = {
            "caption": "Context Selection for tree: ACME",
            "prompt": "Please select a user name",
            "columns": [{"title": "User Name", "width": 100},
                        {"title": "User Context", "width": 150},
                        {"title": "EMail Name", "width": 150},
                        {"title": "Full Name", "width": 150}],
            "rows": [["jdoe", "eng.ACME", "jane.doe@acme.example", "Jane Doe"],
                     ["jdoe", "sales.ACME", "jdoe@acme.example", "John Doe"]],
            "result": 1,
        }
        shown = {name: dialogs[0].get(name) for name in expected}
        if shown != expected:
            raise Failure("the dialog showed %r, expected %r" % (shown, expected))
        # The row the script chose, not the one selected at opening: the
        # answer waits until the dialog's initialisation has returned.
        record = report["record"]
        if record["user"] != "jdoe" or record["context"] != "sales.ACME":
            raise Failure("the second row was chosen, but the host received %r" % record)

        # A double-click on a row, and OK with no row selected: nobody.
        for script, context in ((["--dblclick", "1"], "sales.ACME"), (["--select-none"], "")):
            report, _ = login(script, env)
            if report["record"]["context"] != context or report["dialogs"][0]["result"] != 1:
                raise Failure("%s: the host received %r" % (" ".join(script), report["record"]))

        if not os.path.exists(bmp):
            raise Failure("qzlogin.exe wrote no picture:\n%s" % stderr)
        width, height, pixels = read_bmp(bmp)
        check_picture(width, height, pixels)
        write_png(args.png, width, height, pixels)
        print("selection dialog: %dx%d pixels in %s (login %.1f s)" %
              (width, height, args.png, elapsed))
    finally:
        run([args.fixture, "cleanup", fixture_dir])
        stop_wine()
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (Failure, OSError, ValueError, KeyError, subprocess.TimeoutExpired) as e:
        sys.stderr.write("selection_dialog_screenshot: %s\n" % e)
        sys.exit(1)
