#!/usr/bin/env python3
"""The three dosbox.conf texts as the launcher renders them have their layout: every setting in its
section, and only the comment lines free. That DOSBox 0.74-3 for Windows takes each as written, the
i686 launcher tests show by running it."""
import os
import re
import subprocess
import unittest

# Where things are, from the test's environment (tests/CMakeLists.txt).
RENDER_CONF, WINE_SESSION, WORK = (os.environ[name] for name in ("RENDER_CONF", "WINE_SESSION", "WORK"))
# Each section: its number of comment lines and its settings, R standing for the screen size.
SECTIONS = [
    ("sdl", 17, "fullscreen=false fulldouble=true fullresolution=R windowresolution=R "
                "output=openglnb autolock=true sensitivity=100 waitonerror=true "
                "priority=higher,normal mapperfile=mapper-0.74.map usescancodes=true"),
    ("dosbox", 8, "language= machine=svga_s3 captures=capture memsize=16"),
    ("render", 5, "frameskip=0 aspect=false scaler=none"),
    ("cpu", 16, "core=auto cputype=auto cycles=auto cycleup=10 cycledown=20"),
    ("mixer", 6, "nosound=false rate=44100 blocksize=1024 prebuffer=20"),
    ("midi", 6, "mpu401=intelligent mididevice=default midiconfig="),
    ("sblaster", 17, "sbtype=sb16 sbbase=220 irq=7 dma=1 hdma=5 sbmixer=true oplmode=auto "
                     "oplemu=default oplrate=44100"),
    ("gus", 13, "gus=false gusrate=44100 gusbase=240 gusirq=5 gusdma=3 ultradir=C:\\ULTRASND"),
    ("speaker", 8, "pcspeaker=true pcrate=44100 tandy=auto tandyrate=44100 disney=true"),
    ("joystick", 13, "joysticktype=auto timed=true autofire=false swap34=false buttonwrap=false"),
    ("serial", 17, "serial1=dummy serial2=dummy serial3=disabled serial4=disabled"),
    ("dos", 4, "xms=true ems=true umb=true keyboardlayout=auto"),
    ("ipx", 1, "ipx=false"),
]
# The display heights that choose each text, and the screen size it names.
TEXTS = {480: "640x480", 1080: "1280x800", 1600: "2560x1600"}


def layout(size):
    """The whole text as a pattern: only the comment lines inside the sections are free."""
    pattern = re.escape(
        "# This is the configurationfile for DOSBox 0.74. (Please use the latest version of "
        "DOSBox)\r\n# Lines starting with a # are commentlines and are ignored by DOSBox.\r\n"
        "# They are used to (briefly) document the effect of each option.\r\n\r\n")
    for name, comments, settings in SECTIONS:
        lines = "".join(f"{setting}\r\n" for setting in settings.replace("=R", "=" + size).split())
        pattern += rf"\[{name}\]\r\n(#[ -~]*\r\n){{{comments}}}\r\n" + re.escape(lines + "\r\n")
    return pattern + re.escape("[autoexec]\r\n# Lines in this section will be run at startup.\r\n"
                               "# You can put your MOUNT lines here.\r\n\r\n\r\n")


class DosboxTexts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        paths = {height: os.path.join(WORK, f"{height}.conf") for height in TEXTS}
        subprocess.run([WINE_SESSION, "run", RENDER_CONF] +
                       [part for height, path in paths.items() for part in (str(height), path)],
                       check=True, capture_output=True, timeout=120)
        cls.texts = {}
        for height, path in paths.items():
            with open(path, "rb") as rendered:
                cls.texts[TEXTS[height]] = rendered.read().decode("ascii")

    def test_layout_and_settings(self):
        for size, text in self.texts.items():
            self.assertRegex(text, "^" + layout(size) + r"\Z", size)


if __name__ == "__main__":
    unittest.main(verbosity=2)
