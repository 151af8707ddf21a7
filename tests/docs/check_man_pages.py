"""Checks the manual pages of docs/man against the library they describe.

  check_man_pages.py SOURCE_DIR GENERATED_INCLUDE_DIR CC

- every export of QUIB_EXPORT_LIST and quiblink.def has a page of its own, man3/NAME.3, with
  the sections NAME (a summary no other page has), SYNOPSIS (a header that declares it),
  DESCRIPTION (each parameter marked [in] or [out] as its type says), RETURN VALUE, THREADS,
  EXAMPLE and SEE ALSO; quiblink(7) names every page;
- groff formats every page without a warning;
- every result code a page names exists in quiblink_results.h, with the value the page gives,
  and quiblink(7) lists every code and alias of that table with its value;
- every page a SEE ALSO names exists;
- every EXAMPLE renders as its source reads, and compiles against the public headers.

Prints one line per failure and "N passed, N failed".
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "RETURN VALUE", "THREADS", "EXAMPLE", "SEE ALSO"]


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAILED: " + what)
        return ok


def exports(source):
    """(name, parameters) of every export, from QUIB_EXPORT_LIST; quiblink.def must agree."""
    listed = []
    with open(os.path.join(source, "src/exports/export_list.h")) as f:
        for line in f:
            m = re.match(r"\s*X\(([^,]+(?:\*)?), (\w+), \((.*)\), \d+\)", line)
            if m:
                listed.append((m.group(2), m.group(3)))
    with open(os.path.join(source, "src/exports/quiblink.def")) as f:
        defined = re.findall(r"^\s*_(\w+)@\d+\s*=", f.read(), re.M)
    return listed, defined


def result_codes(source):
    """Every name of the table with its value: the codes, and the aliases with their code's."""
    with open(os.path.join(source, "include/quiblink/quiblink_results.h")) as f:
        table = f.read()
    codes = {name: int(value) for name, value in re.findall(r"X\((RC_\w+), (-?\d+),", table)}
    for alias, name in re.findall(r"X\((RC_\w+), (RC_\w+),", table):
        if name in codes:
            codes[alias] = codes[name]
    return codes


def sections(text):
    """The page's .SH sections in order, each with its source lines."""
    found = []
    for line in text.split("\n"):
        m = re.match(r'\.SH\s+"?([^"]+)"?\s*$', line)
        if m:
            found.append((m.group(1), []))
        elif found:
            found[-1][1].append(line)
    return found


def render(path, width="200n"):
    result = subprocess.run(["groff", "-man", "-Tutf8", "-P-cbou", "-rLL=" + width, path],
                            capture_output=True, text=True)
    return result.stdout


def unescape(line):
    for escaped, plain in (("\\&", ""), ("\\e", "\\"), ("\\-", "-"), ("\\(aq", "'"),
                           ("\\(ga", "`"), ("\\(ti", "~"), ("\\(ha", "^")):
        line = line.replace(escaped, plain)
    return line


def rendered_example(text):
    """The EXAMPLE section of a rendered page, without its indentation."""
    lines = text.split("\n")
    start = lines.index("EXAMPLE") + 1
    end = lines.index("SEE ALSO")
    body = lines[start:end]
    while body and not body[-1].strip():
        body.pop()
    indent = min(len(l) - len(l.lstrip()) for l in body if l.strip())
    return [l[indent:] for l in body]


def check_page(c, path, name, parameters, codes, pages, summaries, includes, cc):
    with open(path) as f:
        text = f.read()
    page = os.path.basename(path)
    c.check(not text.startswith(".so"), page + " is a link to another page, not a page of its own")
    c.check(text.startswith(".TH %s 3 " % name), page + ": .TH does not name " + name)
    found = sections(text)
    titles = [title for title, _ in found]
    c.check(titles == SECTIONS, "%s: sections %s, expected %s" % (page, titles, SECTIONS))
    body = dict(found)

    summary = [l for l in body.get("NAME", []) if l.startswith(name + " \\- ")]
    if c.check(len(summary) == 1, page + ": NAME is not `%s \\- summary`" % name):
        line = summary[0]
        c.check(line not in summaries, page + ": its summary is another page's too")
        summaries.add(line)

    synopsis = "\n".join(body.get("SYNOPSIS", []))
    headers = re.findall(r"#include <quiblink/(\w+\.h)>", synopsis)
    c.check(any(re.search(r"\b%s\(" % name, includes.get(h, "")) for h in headers),
            page + ": SYNOPSIS includes no header that declares " + name)
    c.check(re.search(r'\.BI? "[^"]*\b%s\(' % name, synopsis) is not None,
            page + ": SYNOPSIS does not show the prototype")

    description = "\n".join(body.get("DESCRIPTION", []))
    for parameter in [p.strip() for p in parameters.split(",")]:
        if parameter == "void":
            continue
        pname = re.search(r"(\w+)$", parameter).group(1)
        writes = "*" in parameter and not parameter.startswith("const") and pname != "user"
        marker = '.IR %s " [%s]"' % (pname, "out" if writes else "in")
        c.check(marker in description, "%s: no `%s` for the parameter %s" % (page, marker, parameter))


def check_codes(c, path, text, codes):
    page = os.path.basename(path)
    for name, value in re.findall(r'\.BR (RC_\w+) " \((\\?-?\d+)\)"', text):
        value = int(value.replace("\\-", "-"))
        c.check(codes.get(name) == value,
                "%s: %s (%d), but quiblink_results.h has %s" % (page, name, value, codes.get(name)))
    for name in set(re.findall(r"\bRC_[A-Z_]+\b", text)) - {"RC_UNKNOWN"}:
        c.check(name in codes, "%s names %s, which quiblink_results.h does not have" % (page, name))


def main(source, generated, cc):
    c = Checks()
    man = os.path.join(source, "docs/man")
    listed, defined = exports(source)
    c.check(len(listed) >= 23 and [n for n, _ in listed] == defined,
            "QUIB_EXPORT_LIST and quiblink.def list different exports")
    codes = result_codes(source)
    includes = {}
    for header in os.listdir(os.path.join(source, "include/quiblink")):
        with open(os.path.join(source, "include/quiblink", header)) as f:
            includes[header] = f.read()
    pages = {f[:-2] for f in os.listdir(os.path.join(man, "man3")) if f.endswith(".3")}
    all_pages = [os.path.join(man, "man3", p + ".3") for p in sorted(pages)]
    all_pages.append(os.path.join(man, "man7/quiblink.7"))

    summaries = set()
    names = sorted(set(n for n, _ in listed) | set(defined))
    for name, parameters in listed:
        path = os.path.join(man, "man3", name + ".3")
        if c.check(os.path.isfile(path), "no page man3/%s.3 for the export %s" % (name, name)):
            check_page(c, path, name, parameters, codes, pages, summaries, includes, cc)
    for extra in sorted(pages - set(names)):
        c.check(False, "man3/%s.3 describes no export" % extra)

    with open(os.path.join(man, "man7/quiblink.7")) as f:
        overview = f.read()
    for name in names:
        c.check(".BR %s (3)" % name in overview, "quiblink(7) does not name %s(3)" % name)
    for code, value in sorted(codes.items()):
        listed = '.BR %s " (%s)"' % (code, str(value).replace("-", "\\-"))
        c.check(listed in overview, "quiblink(7) does not list %s (%d)" % (code, value))

    scratch = tempfile.mkdtemp()
    try:
        for path in all_pages:
            page = os.path.basename(path)
            with open(path) as f:
                text = f.read()
            warnings = subprocess.run(["groff", "-man", "-ww", "-z", "-Tutf8", path],
                                      capture_output=True, text=True).stderr
            c.check(warnings == "", "%s: groff warns:\n%s" % (page, warnings))
            if shutil.which("man"):
                warnings = subprocess.run(["man", "--warnings", "-l", "-P", "cat", path],
                                          capture_output=True, text=True,
                                          env=dict(os.environ, MANWIDTH="80")).stderr
                c.check(warnings == "", "%s: man --warnings warns:\n%s" % (page, warnings))
            check_codes(c, path, text, codes)
            for ref, section in re.findall(r"^\.BR ([\w\\-]+) \((\d)\)", text, re.M):
                ref = ref.replace("\\-", "-")
                known = (section == "3" and ref in pages) or (section == "7" and ref == "quiblink") \
                    or (section == "1" and ref in ("quiblink", "quiblink-sim"))
                c.check(known, "%s refers to %s(%s), which is not a page of the library's" %
                        (page, ref, section))
            if not path.endswith(".3"):
                continue
            source_lines = []
            in_example = False
            for line in text.split("\n"):
                if line == ".EX":
                    in_example = True
                elif line == ".EE":
                    in_example = False
                elif in_example:
                    source_lines.append(unescape(line))
            shown = rendered_example(render(path))
            c.check(shown == source_lines, "%s: the EXAMPLE renders otherwise than its source:\n%s" %
                    (page, "\n".join(a + "  <->  " + b for a, b in zip(shown, source_lines) if a != b)))
            program = os.path.join(scratch, page + ".c")
            with open(program, "w") as f:
                f.write("\n".join(shown) + "\n")
            compiled = subprocess.run([cc, "-std=c99", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
                                       "-I" + os.path.join(source, "include"), "-I" + generated,
                                       program], capture_output=True, text=True)
            c.check(compiled.returncode == 0, "%s: the EXAMPLE does not compile:\n%s" %
                    (page, compiled.stderr))
    finally:
        shutil.rmtree(scratch)

    print("%d passed, %d failed" % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
