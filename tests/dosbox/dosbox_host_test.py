#!/usr/bin/env python3
"""The launcher's dosbox.conf texts and the stand-in PB.exe, tried with the host's DOSBox 0.74.

Each text is written by render_dosbox_conf (the launcher's own rendering, run under Wine) and
handed to DOSBox the way the launcher hands it over, plus a command that makes DOSBox write out
the configuration it ended up with. Every setting of the text must come back with the same
value: a key DOSBox does not know is missing from its output, and a value it refuses comes back
as its default. DOSBox must then have run the stand-in PB.exe and closed by itself.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest

ARGS = None

# DOSBox is given this long to end by itself; ending at all is what is tested, not how fast.
DOSBOX_TIME_LIMIT = 120

# Display heights that pick each of the three texts, and the size each text names.
TEXTS = [(480, "640x480"), (1080, "1280x800"), (1600, "2560x1600")]

RAN_LINE = "stand-in PB.EXE ran"


def parse_conf(text):
    """Sections of a DOSBox configuration: {section: {key: value}}, plus the autoexec lines."""
    sections = {}
    autoexec = []
    section = None
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            section = stripped[1:-1].lower()
            sections.setdefault(section, {})
        elif section == "autoexec":
            if stripped and not stripped.startswith("#"):
                autoexec.append(stripped)
        elif stripped and not stripped.startswith("#"):
            key, _, value = stripped.partition("=")
            sections.setdefault(section, {})[key.strip()] = value.strip()
    return sections, autoexec


def differences(given_text, loaded_text):
    """Every setting of `given_text` that DOSBox did not take as it was written."""
    given, given_autoexec = parse_conf(given_text)
    loaded, loaded_autoexec = parse_conf(loaded_text)
    problems = []
    for section, settings in given.items():
        if section not in loaded:
            problems.append(f"[{section}] is not a section DOSBox knows")
            continue
        for key, value in settings.items():
            if key not in loaded[section]:
                problems.append(f"[{section}] {key} is not a setting DOSBox knows")
            elif loaded[section][key] != value:
                problems.append(
                    f"[{section}] {key}={value} was refused: DOSBox kept {loaded[section][key]!r}")
    if given_autoexec != loaded_autoexec:
        problems.append(f"autoexec {given_autoexec} came back as {loaded_autoexec}")
    return problems


def dosbox_environment(home):
    env = dict(os.environ)
    env.update(SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", HOME=home)
    return env


class Machine:
    """A folder holding the stand-in PB.exe and a dosbox.conf, as C:\\PB35 does."""

    def __init__(self, name, conf_text):
        self.folder = os.path.join(ARGS.work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(os.path.join(self.folder, "home"))
        shutil.copyfile(ARGS.stand_in_pb, self.path("PB.exe"))
        with open(self.path("dosbox.conf"), "wb") as conf:
            conf.write(conf_text)

    def path(self, name):
        return os.path.join(self.folder, name)

    def start_dosbox(self):
        """DOSBox with the launcher's options, first writing out what it loaded.

        The written file is named relative to DOSBox's host folder, so that no space in the
        work path can split the DOS command."""
        command = [ARGS.dosbox, self.path("PB.exe"), "-noconsole", "-exit",
                   "-conf", self.path("dosbox.conf"), "-c", "config -writeconf loaded.conf"]
        return subprocess.Popen(command, cwd=self.folder, env=dosbox_environment(self.path("home")),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace")

    def marker_lines(self):
        # DOSBox creates the file under the name the DOS program gave, upper case.
        try:
            with open(self.path("PB_RAN.TXT"), encoding="ascii") as marker:
                return marker.read().splitlines()
        except FileNotFoundError:
            return None

    def read(self, name):
        with open(self.path(name), encoding="latin-1", newline="") as file:
            return file.read()


def finish(testcase, process):
    """Waits for DOSBox to end by itself; its exit code and output."""
    try:
        output, _ = process.communicate(timeout=DOSBOX_TIME_LIMIT)
    except subprocess.TimeoutExpired:
        process.kill()
        output, _ = process.communicate()
        testcase.fail(f"DOSBox did not end by itself; its output:\n{output}")
    return process.returncode, output


class ConfTextsLoadedByDosbox(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(ARGS.work, exist_ok=True)
        command = [ARGS.wine_session, "run", ARGS.render_conf]
        for height, _ in TEXTS:
            command += [str(height), os.path.join(ARGS.work, f"rendered-{height}.conf")]
        result = subprocess.run(command, capture_output=True, text=True, check=False)
        if result.returncode != 0:
            raise RuntimeError(f"render_dosbox_conf failed: {result.stdout}{result.stderr}")
        cls.texts = {}
        for height, _ in TEXTS:
            with open(os.path.join(ARGS.work, f"rendered-{height}.conf"), "rb") as rendered:
                cls.texts[height] = rendered.read()

    def test_every_text_is_taken_as_written_and_runs_pb(self):
        for height, resolution in TEXTS:
            with self.subTest(text=resolution):
                text = self.texts[height]
                self.assertIn(f"fullresolution={resolution}\r\n".encode(), text)
                machine = Machine(f"text-{resolution}", text)
                code, output = finish(self, machine.start_dosbox())
                self.assertEqual(
                    differences(text.decode("latin-1"), machine.read("loaded.conf")), [], output)
                self.assertNotIn("not a valid value", output)
                self.assertEqual(code, 0, output)
                self.assertEqual(machine.marker_lines(), [RAN_LINE], output)

    def test_comparison_sees_unknown_keys_and_refused_values(self):
        # The check above is only worth something if DOSBox's output shows these faults.
        text = self.texts[1080].replace(b"output=openglnb\r\n", b"output=openglx\r\n")
        text = text.replace(b"memsize=16\r\n", b"memsize=16\r\nmemsise=32\r\n")
        machine = Machine("faulty-text", text)
        code, output = finish(self, machine.start_dosbox())
        self.assertEqual(code, 0, output)
        found = differences(text.decode("latin-1"), machine.read("loaded.conf"))
        self.assertIn("[sdl] output=openglx was refused: DOSBox kept 'surface'", found)
        self.assertIn("[dosbox] memsise is not a setting DOSBox knows", found)


class StandInPb(unittest.TestCase):
    def test_holds_while_the_hold_file_is_there(self):
        machine = Machine("hold", self.conf())
        with open(machine.path("PB_HOLD.TXT"), "w", encoding="ascii"):
            pass
        process = machine.start_dosbox()
        deadline = time.monotonic() + DOSBOX_TIME_LIMIT
        while (machine.marker_lines() != [RAN_LINE, "holding"] and process.poll() is None
               and time.monotonic() < deadline):
            time.sleep(0.05)
        self.assertEqual(machine.marker_lines(), [RAN_LINE, "holding"])
        self.assertIsNone(process.poll(), "DOSBox ended while PB.exe was to hold")
        os.remove(machine.path("PB_HOLD.TXT"))
        code, output = finish(self, process)
        self.assertEqual(code, 0, output)
        self.assertEqual(machine.marker_lines(), [RAN_LINE, "holding", "released"])

    @staticmethod
    def conf():
        # The smallest valid configuration: DOSBox's defaults.
        return b"[dosbox]\r\n"


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dosbox", required=True)
    parser.add_argument("--stand-in-pb", required=True)
    parser.add_argument("--render-conf", required=True)
    parser.add_argument("--wine-session", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
