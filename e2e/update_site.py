#!/usr/bin/env python3
"""A stand-in for the packer's update feed, for the update tests.

    update_site.py SITE KEY.pem TREE NAME VERSION ARCH CHANNEL
        Stores TREE's files under SITE/files/sha256/ and writes its manifest
        as SITE/updates/CHANNEL/ARCH/VERSION and .../latest."""
import base64
import gzip
import hashlib
import os
import re
import subprocess
import sys
import tempfile


def sign(key, body):
    with tempfile.NamedTemporaryFile() as f:
        f.write(body)
        f.flush()
        sig = subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", f.name],
                             check=True, capture_output=True).stdout
    return b"vorlane-update-signature ed25519 " + base64.b64encode(sig) + b"\n" + body


def enc(path):
    return re.sub(rb"[^A-Za-z0-9._~+\-/@,=]", lambda m: b"%%%02X" % m.group(0)[0], path).decode()


def publish(site, key, tree, name, version, arch, channel):
    lines = []
    remade = set()
    for rel in ("lib/runtime/lib/server/classes.jsa", "lib/runtime/lib/server/classes_nocoops.jsa"):
        if os.path.isfile(os.path.join(tree, rel)):
            remade.add(rel.encode())
    for dirpath, dirnames, filenames in os.walk(tree.encode()):
        for n in dirnames + filenames:
            full = os.path.join(dirpath, n)
            rel = os.path.relpath(full, tree.encode())
            st = os.lstat(full)
            if os.path.islink(full):
                lines.append((rel, "link %s %s" % (enc(os.readlink(full)), enc(rel))))
            elif os.path.isdir(full):
                lines.append((rel, "dir %04o %s" % (st.st_mode & 0o7777, enc(rel))))
            elif rel in remade:
                lines.append((rel, "remake %s" % enc(rel)))
            else:
                data = open(full, "rb").read()
                h = hashlib.sha256(data).hexdigest()
                obj = os.path.join(site, "files", "sha256", h[:2], h[2:])
                if not os.path.exists(obj):
                    os.makedirs(os.path.dirname(obj), exist_ok=True)
                    with open(obj, "wb") as o:
                        o.write(gzip.compress(data, 9, mtime=0))
                lines.append((rel, "file %04o %d %s %d %d %s" % (st.st_mode & 0o7777, len(data), h, int(st.st_mtime),
                                                                 os.path.getsize(obj), enc(rel))))
    lines.sort()
    body = ("vorlane-update 1\nname %s\nversion %s\nchannel %s\narch %s\ndate 2026-12-08T03:00:00Z\nnotes %s\n"
            % (name, version, channel, arch, base64.b64encode(("Version " + version).encode()).decode()))
    body += "".join(l + "\n" for _, l in lines)
    signed = sign(key, body.encode())
    out = os.path.join(site, "updates", channel, arch)
    os.makedirs(out, exist_ok=True)
    for n in (version, "latest"):
        with open(os.path.join(out, n), "wb") as f:
            f.write(signed)


publish(*sys.argv[1:8])
