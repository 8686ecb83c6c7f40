#!/usr/bin/env python3
"""Writes the update manifest vectors: NAME.body (a manifest after its
signature line; the tests sign it with a key of their own) and index.txt,
one line per vector: `NAME ok` or `NAME refused TEXT`, TEXT a part of the
updater's message. The packer's feed_plan_test writes every `ok` vector
again from its entries, byte for byte; the updater's ManifestTest reads
them all. Run it from anywhere: python3 make-vectors.py"""
import base64
import os

HERE = os.path.dirname(os.path.abspath(__file__))
SHA = "a" * 64
SHA2 = "0123456789abcdef" * 4
LIMIT = 1 << 40
NOCOOPS = "lib/runtime/lib/server/classes_nocoops.jsa"


def header(fmt=1, date="2026-12-08T03:00:00Z", expires=None, notes=b"Fixed\n", name="notes"):
    lines = [f"vorlane-update {fmt}", f"name {name}", "version 1.1-1", "channel stable",
             "arch amd64", f"date {date}"]
    if expires is not None:
        lines.append(f"expires {expires}")
    lines.append("notes " + base64.b64encode(notes).decode())
    return "".join(line + "\n" for line in lines)


def f(path, size=3, mtime=1700000000, stored=20, mode="0644", sha=SHA):
    return f"file {mode} {size} {sha} {mtime} {stored} {path}\n"


VECTORS = []


def vector(name, expect, body):
    VECTORS.append((name, expect, body.encode() if isinstance(body, str) else body))


# Valid: each is what the packer writes for its entries.
vector("ok-format1", "ok", header() + "link ../lib/launcher bin/notes\n" + "dir 0755 lib\n"
       + f("lib/a") + f("lib/b%20b", mode="0755", sha=SHA2)
       + "remake lib/runtime/lib/server/classes.jsa\n")
vector("ok-format3", "ok", header(fmt=3) + "remake lib/runtime/lib/server/classes.jsa\n"
       + "remake " + NOCOOPS + " -XX%3A-UseCompressedOops\n")
vector("ok-format3-expires", "ok", header(fmt=3, expires="2027-01-08T03:00:00Z") + f("lib/a")
       + "remake " + NOCOOPS + " -XX%3A-UseCompressedOops\n")
vector("ok-format2-expires", "ok",
       header(fmt=2, expires="2027-01-08T03:00:00Z") + "dir 0755 lib\n" + f("lib/a"))
vector("ok-empty", "ok", header(notes=b""))
vector("ok-notes-utf8", "ok", header(notes="Fixed \u00e9t\u00e9.\n* Faster.\n".encode()) + f("a"))
# Raw byte order, where the encoded text sorts otherwise: '%' (0x25) is below
# every plain byte, so é (C3 A9), { (7B) and DEL (7F) would come first.
vector("ok-order-raw-bytes", "ok", header()
       + f("a.txt") + f("a_") + f("a%7B") + f("lib") + f("lib-x") + "dir 0755 lib2\n"
       + f("lib2/a") + f("z") + f("~") + f("%7F") + f("%C3%A9.txt") + f("%F0%9F%98%80"))
vector("ok-percent-paths", "ok", header() + "dir 0755 d\n" + f("d/100%25") + f("d/a%0Ab")
       + "link ../my%20file d/l\n" + f("my%20file"))
vector("ok-sizes-at-limit", "ok",
       header() + f("big", size=LIMIT, stored=LIMIT, mtime=999999999999999999) + f("zero", 0, 0, 0))
vector("ok-modes", "ok", header() + "dir 0700 a\n" + f("a/x", mode="4755") + "dir 1777 t\n")

# Invalid.
vector("bad-order-encoded", "refused is out of order", header() + f("%C3%A9.txt") + f("z"))
vector("bad-order-lib", "refused is out of order", header() + f("lib/a") + f("lib-x"))
vector("bad-repeat", "refused repeats a path", header() + f("a") + f("a"))
vector("bad-format-4", "refused it is format 4; this app reads formats 1, 2 and 3",
       header().replace("vorlane-update 1", "vorlane-update 4"))
# Format 3: remake lines carry the dump's options, percent-encoded; only
# those the packer's archive table makes are run.
vector("bad-remake-option-unknown", "refused line 9 has a remake option this app does not run",
       header(fmt=3) + "remake " + NOCOOPS + " -XX%3A%2BUseZGC\n")
vector("bad-remake-option-raw", "refused line 9 has a byte that is not percent-encoded",
       header(fmt=3) + "remake " + NOCOOPS + " -XX:-UseCompressedOops\n")
vector("bad-remake-option-empty", "refused line 9 has a remake option this app does not run",
       header(fmt=3) + "remake " + NOCOOPS + " \n")
vector("bad-remake-option-twice", "refused line 9 has a remake option this app does not run",
       header(fmt=3) + "remake " + NOCOOPS + " -XX%3A-UseCompressedOops -XX%3A-UseCompressedOops\n")
vector("bad-remake-option-in-format-2", "refused line 10 has 3 fields, not 2",
       header(fmt=2, expires="2027-01-08T03:00:00Z") + "remake " + NOCOOPS + " -XX%3A-UseCompressedOops\n")
vector("bad-format-3-header", "refused line 8 is not 'notes ...'",
       header(fmt=3).replace("notes ", "note "))
vector("bad-format-1-with-expires", "refused line 8 is not 'notes ...'",
       header(fmt=1, expires="2027-01-08T03:00:00Z"))
vector("bad-format-2-without-expires", "refused line 8 is not 'expires ...'", header(fmt=2))
vector("bad-no-format", "refused line 2 is not 'vorlane-update ...'", "name x\n")
vector("bad-crlf", "refused CRLF line ends (a carriage return ends line 2)",
       header().replace("\n", "\r\n") + f("a").replace("\n", "\r\n"))
vector("bad-crlf-entry", "refused CRLF line ends (a carriage return ends line 9)",
       header() + f("a").replace("\n", "\r\n"))
vector("bad-cr-inside", "refused a carriage return in line 3", header(name="no\rtes"))
vector("bad-date-form", "refused line 7 has a date not of the form",
       header(date="2026-12-08 03:00:00Z"))
vector("bad-date-day", "refused line 7 has a date not of the form", header(date="2026-02-29T03:00:00Z"))
vector("ok-date-leap-day", "ok", header(fmt=2, date="2024-02-29T23:59:59Z", expires="2100-02-28T00:00:00Z"))
vector("bad-date-leap-century", "refused line 7 has a date not of the form",
       header(date="1900-02-29T00:00:00Z"))
vector("bad-date-month", "refused line 7 has a date not of the form", header(date="2026-13-01T00:00:00Z"))
vector("bad-date-second", "refused line 7 has a date not of the form", header(date="2026-01-01T00:00:60Z"))
vector("bad-date-sign", "refused line 7 has a date not of the form", header(date="+026-01-01T00:00:00Z"))
vector("bad-date-hour", "refused line 7 has a date not of the form", header(date="2026-12-08T24:00:00Z"))
vector("bad-expires-form", "refused line 8 has a date not of the form",
       header(fmt=2, expires="2027-01-08"))
vector("bad-expires-before-date", "refused line 8 has an expiry that is not after its date",
       header(fmt=2, expires="2026-12-08T03:00:00Z"))
vector("bad-size-over", "refused line 9 has a size over 2^40", header() + f("a", size=LIMIT + 1))
vector("bad-stored-over", "refused line 9 has a size over 2^40", header() + f("a", stored=LIMIT + 1))
vector("bad-number-long", "refused line 9 has a bad number", header() + f("a", mtime=10**18))
vector("bad-number-sign", "refused line 9 has a bad number", header() + f("a", mtime=-1))
vector("bad-number-empty", "refused line 9 has a bad number", header() + f("a", size=""))
vector("bad-mode-short", "refused line 9 has a bad mode", header() + "dir 755 lib\n")
vector("bad-mode-digit", "refused line 9 has a bad mode", header() + "dir 0855 lib\n")
vector("bad-sha-upper", "refused line 9 has no SHA-256", header() + f("a", sha="A" * 64))
vector("bad-sha-short", "refused line 9 has no SHA-256", header() + f("a", sha="a" * 63))
vector("bad-fields-few", "refused line 9 has 2 fields, not 3", header() + "dir 0755\n")
vector("bad-fields-many", "refused line 9 has 4 fields, not 3", header() + "dir 0755 a b\n")
vector("bad-fields-blank", "refused line 9 has 4 fields, not 3", header() + "dir 0755  a\n")
vector("bad-kind", "refused line 9 is of a kind this app does not know: 'fifo'",
       header() + "fifo 0644 a\n")
vector("bad-empty-line", "refused line 9 is of a kind this app does not know: ''", header() + "\n")
vector("bad-raw-utf8", "refused line 9 has a byte that is not percent-encoded", header() + f("\u00e9"))
vector("bad-lower-hex", "refused line 9 has a byte that is not percent-encoded", header() + f("%c3%a9"))
vector("bad-cut-percent", "refused line 9 has a byte that is not percent-encoded", header() + f("a%4"))
vector("bad-tab", "refused line 9 has a byte that is not percent-encoded", header() + f("a\tb"))
vector("bad-path-dotdot", "refused line 9 has a bad path", header() + f("lib/../x"))
vector("bad-path-dot", "refused line 9 has a bad path", header() + f("./x"))
vector("bad-path-absolute", "refused line 9 has a bad path", header() + f("%2Fetc%2Fpasswd"))
vector("bad-path-empty-part", "refused line 9 has a bad path", header() + f("a//b"))
vector("bad-path-trailing-slash", "refused line 9 has a bad path", header() + "dir 0755 a/\n")
vector("bad-path-nul", "refused line 9 has a bad path", header() + f("a%00b"))
vector("bad-path-not-utf8", "refused line 9 has a path that is not UTF-8", header() + f("%FF"))
vector("bad-path-too-long", "refused line 9 has a path or link over 4096 bytes",
       header() + f("a" * 4097))
vector("bad-under-file", "refused line 10 puts a path under a file or a link",
       header() + f("a") + f("a/b"))
vector("bad-under-link", "refused line 11 puts a path under a file or a link",
       header() + "link b a\n" + f("a-x") + "dir 0755 a/c\n" + f("b"))
vector("bad-link-out", "refused line 9 has a link that points out of the tree",
       header() + "link ../../outside bin/x\n")
vector("bad-link-absolute", "refused line 9 has a link that points out of the tree",
       header() + "link %2Fusr%2Fbin%2Fjava bin/x\n")
vector("bad-link-through-link", "refused line 10 has a link that points through another link",
       header() + "link . s\n" + "link s/s/s/s/../../../.. x\n")
vector("bad-link-empty", "refused line 9 has a link that points out of the tree",
       header() + "link  bin/x\n")
vector("bad-notes-base64", "refused its notes are not base64",
       header().replace("notes Rml4ZWQK", "notes Rml4ZWQ!"))
vector("bad-notes-all-padding", "refused its notes are not base64",
       header().replace("notes Rml4ZWQK", "notes ===="))
vector("bad-no-line-end", "refused its last line has no line end", header() + f("a")[:-1])
vector("bad-cut-short", "refused it is cut short", "vorlane-update 1\nname notes\n")
vector("bad-empty", "refused it is cut short", "")
vector("bad-header-not-utf8", "refused line 3 is not UTF-8", header().encode().replace(b"name notes", b"name \xff"))
vector("bad-header-order", "refused line 3 is not 'name ...'",
       header().replace("name notes\nversion 1.1-1", "version 1.1-1\nname notes"))
vector("bad-line-too-long", "refused line 3 is longer than 65536 bytes", header(name="n" * 65532))


def main():
    for old in os.listdir(HERE):
        if old.endswith(".body"):
            os.remove(os.path.join(HERE, old))
    with open(os.path.join(HERE, "index.txt"), "w") as index:
        index.write("# Written by make-vectors.py: NAME ok | NAME refused TEXT (a part of the message)\n")
        for name, expect, body in VECTORS:
            with open(os.path.join(HERE, name + ".body"), "wb") as out:
                out.write(body)
            index.write(f"{name} {expect}\n")


if __name__ == "__main__":
    main()
