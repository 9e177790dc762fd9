#!/usr/bin/env python3
"""The DOSBox build's apt entries: deb-src twins of Debian's own archive for the release only."""
import os, subprocess, sys, tempfile

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "tools", "deb_src_entries.py")
POLICY = """ 500 http://deb.debian.org/debian bookworm/main amd64 Packages
     release v=12.15,o=Debian,a=oldstable,n=bookworm,l=Debian,c=main,b=amd64
 500 http://security.debian.org/debian-security bookworm-security/main amd64 Packages
     release o=Debian,n=bookworm-security,l=Debian-Security,c=main,b=amd64
 500 https://apt.example.org/repo bookworm/main amd64 Packages
     release o=Example,n=bookworm,c=main,b=amd64
"""
LIST = """deb [arch=amd64 signed-by=/k/debian.gpg] http://deb.debian.org/debian/ bookworm main
deb-src http://deb.debian.org/debian bookworm main
deb [signed-by=/k/example.gpg] https://apt.example.org/repo bookworm main
"""
SOURCES = """Types: deb
URIs: http://security.debian.org/debian-security https://apt.example.org/repo
Suites: bookworm-security bookworm
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm
Enabled: no
"""
with tempfile.TemporaryDirectory() as folder:
    paths = [os.path.join(folder, name) for name in ("policy", "machine.list", "machine.sources")]
    for path, text in zip(paths, (POLICY, LIST, SOURCES)):
        open(path, "w").write(text)
    run = lambda release, *files: subprocess.run([sys.executable, SCRIPT, release, paths[0], folder, *files])
    assert run("bookworm", *paths[1:]).returncode == 0
    twins = [open(os.path.join(folder, name)).read() for name in ("debian-src.list", "debian-src.sources")]
    # Options stay (signed-by, an inline key); other origins, a deb-src line, a disabled entry: none.
    assert twins == ["deb-src [arch=amd64 signed-by=/k/debian.gpg] http://deb.debian.org/debian/ bookworm main\n",
                     "Types: deb-src\nURIs: http://security.debian.org/debian-security\nSuites: bookworm-security\n"
                     "Components: main\nSigned-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n"], twins
    assert run("trixie", paths[2]).returncode != 0  # nothing of Debian's for the release: a failure
