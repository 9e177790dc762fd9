#!/usr/bin/env python3
"""Writes the deb-src twins of the machine's apt entries for Debian's own archive, for the private
apt state that tools/windows-dosbox.sh looks source packages up in. Reads the machine's files only.

    deb_src_entries.py RELEASE POLICY FOLDER SOURCES...

RELEASE is the machine's Debian codename (bookworm); POLICY a file holding `apt-cache policy`,
whose "release" lines give the origin each archive's Release file states; FOLDER receives
debian-src.list and debian-src.sources; SOURCES are the machine's entry files, one-line (.list)
or deb822 (.sources). An entry is twinned when it is enabled, of type deb, its suite is RELEASE
or one of its updates (RELEASE-security, ...), and apt read "o=Debian" in that suite's Release
file at that address. Its options (signed-by among them) stay as they are. An archive of any
other origin is never asked: it may have no source index, or trust only keys of its own.
"""
import os
import re
import sys


def debian_archives(policy):
    """The (address, suite) pairs whose Release file says Origin: Debian."""
    found, last = set(), None
    for line in policy.splitlines():
        words = line.split()
        if len(words) >= 3 and words[0].isdigit() and "://" in words[1]:
            last = (words[1].rstrip("/"), words[2].rsplit("/", 1)[0])
        elif words[:1] == ["release"] and last and "o=Debian" in words[1].split(","):
            found.add(last)
    return found


def ours(release, suite):
    return suite == release or suite.startswith(release + "-")


def twin_one_line(text, wanted):
    """deb [options] URI SUITE COMPONENTS... lines, as deb-src lines with the same options."""
    for line in text.splitlines():
        match = re.match(r"\s*deb(\s+\[[^]]*\])?\s+(\S+)\s+(\S+)(.*)", line)
        if match and wanted(match.group(2), match.group(3)):
            yield "deb-src" + line.strip()[3:]


def stanzas(text):
    """Each deb822 stanza as (field, value) pairs in order; a value's continuation lines kept."""
    for block in re.split(r"\n\s*\n", text):
        fields = []
        for line in block.splitlines():
            if line.startswith("#"):
                continue
            if line[:1].isspace() and fields:
                fields[-1][1] += "\n" + line
            elif ":" in line:
                name, value = line.split(":", 1)
                fields.append([name.strip(), value.strip()])
        if fields:
            yield fields


def twin_deb822(text, wanted):
    """deb822 stanzas of type deb, one deb-src stanza for each wanted address and suite."""
    for fields in stanzas(text):
        value = {name.lower(): v for name, v in fields}
        if "deb" not in value.get("types", "").split() or value.get("enabled", "yes") == "no":
            continue
        for uri in value.get("uris", "").split():
            for suite in value.get("suites", "").split():
                if not wanted(uri, suite):
                    continue
                chosen = {"types": "deb-src", "uris": uri, "suites": suite}
                # A value that starts on the next line (an inline key) keeps no space before it.
                yield "".join(f"{name}: {chosen.get(name.lower(), v)}\n".replace(": \n", ":\n", 1)
                              for name, v in fields)


def main(release, policy, folder, *sources):
    with open(policy) as file:
        debian = debian_archives(file.read())

    def wanted(uri, suite):
        return ours(release, suite) and (uri.rstrip("/"), suite) in debian

    lines, blocks = [], []
    for name in sources:
        try:
            with open(name) as file:
                text = file.read()
        except OSError:
            continue
        if name.endswith(".sources"):
            blocks += twin_deb822(text, wanted)
        else:
            lines += twin_one_line(text, wanted)
    with open(os.path.join(folder, "debian-src.list"), "w") as file:
        file.writelines(line + "\n" for line in lines)
    with open(os.path.join(folder, "debian-src.sources"), "w") as file:
        file.write("\n".join(blocks))
    if not lines and not blocks:
        sys.exit(f"apt knows no entry of Debian's own archive for {release} (apt-get update fills its lists)")


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
