#!/usr/bin/env python3
"""The committed icon is exactly what tools/make_icon.py draws."""
import os
import subprocess
import sys
import tempfile

root = sys.argv[1]
with tempfile.TemporaryDirectory() as folder:
    drawn = os.path.join(folder, "launcher.ico")
    subprocess.run([sys.executable, os.path.join(root, "tools", "make_icon.py"), drawn], check=True)
    with open(drawn, "rb") as a, open(os.path.join(root, "resources", "launcher.ico"), "rb") as b:
        if a.read() != b.read():
            sys.exit("resources/launcher.ico differs from what tools/make_icon.py draws")
print("1 passed, 0 failed")
