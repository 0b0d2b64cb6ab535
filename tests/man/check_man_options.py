#!/usr/bin/env python3
"""Checks that ondrel-cli's man page source and the program's help agree.

Usage: check_man_options.py CLI SCD

The help the program prints is the truth: every subcommand, long and short
option and positional argument it lists must be described in the man page,
in the section of its subcommand, and every option the page names for a
subcommand (in its section, in a shared group it takes, or in an example
command) must exist in that subcommand's help. Exit 0 when they agree, 1 with
the list of differences, 2 when the check cannot run.

Layout of the page this relies on (docs/man/ondrel-cli.1.scd):
  # OPTIONS          the program's own options (--help, --version)
  # COMMANDS         one "## SUB" per subcommand
  # SHARED OPTIONS   one "## Group name" per group of options several take
A subcommand's section takes groups with a paragraph starting "Also takes"
that names them in bold (*Image options*). An option or argument is described
by a line that starts with it: "*-v*, *--verbose*" or "_IMAGE_...".

ONDREL_MAN_PENDING (space-separated "sub:--option") lists options that are
documented before the program has them; they are let through and reported.
"""

import os
import re
import shlex
import subprocess
import sys

LONG = re.compile(r"(?<![\w-])(--[A-Za-z0-9][A-Za-z0-9-]*)")
ANY_OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z0-9][A-Za-z0-9-]*)")
POSITIONAL_LINE = re.compile(r"^\[?_([A-Z][A-Z0-9_]*)_")
BOLD = re.compile(r"\*([^*]+)\*")

problems = []  # differences found, reported together at the end
notes = []


class Help:
    def __init__(self):
        self.longs = set()
        self.shorts = set()
        self.positionals = set()
        self.subcommands = []

    def options(self):
        return self.longs | self.shorts


def die(message):
    # The check could not run: not a difference, so not status 1.
    print(f"check_man_options: {message}", file=sys.stderr)
    sys.exit(2)


def run_help(cli, args):
    try:
        done = subprocess.run([cli] + args + ["--help"], capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.SubprocessError) as e:
        die(f"cannot run {cli}: {e}")
    if done.returncode != 0:
        die(f"{' '.join([cli] + args + ['--help'])} exited with {done.returncode}:\n{done.stderr}")
    return parse_help(done.stdout)


def parse_help(text):
    # CLI11's layout: a "Name:" heading at column 0, then one item per line
    # indented by two spaces; wrapped descriptions are indented further.
    help_ = Help()
    section = None
    for line in text.splitlines():
        if line and not line[0].isspace():
            section = line[:-1] if line.endswith(":") else None
            continue
        if section is None or not line.startswith("  ") or line.startswith("   "):
            continue
        first = line.split()[0]
        if section == "Subcommands":
            help_.subcommands.append(first)
        elif section == "Positionals":
            help_.positionals.add(first)
        elif first.startswith("-"):
            for name in first.split(","):
                (help_.longs if name.startswith("--") else help_.shorts).add(name)
    return help_


class Section:
    def __init__(self, title):
        self.title = title
        self.lines = []  # text lines, literal blocks left out

    def paragraphs(self):
        out, current = [], []
        for line in self.lines + [""]:
            if line.strip():
                current.append(line.strip())
            elif current:
                out.append(" ".join(current))
                current = []
        return out

    def defined(self):
        # Options and arguments described here: those a line starts with.
        options, positionals = set(), set()
        for line in self.lines:
            # Descriptions are indented; a described item starts its line.
            if line.startswith((" ", "\t")):
                continue
            text = line.rstrip()
            if text.startswith("*-"):
                head = text.split("\t")[0]
                # The option names come before any placeholder (_KIND_) or prose.
                names = re.match(r"^(\*-[^*]+\*(?:,\s*\*-[^*]+\*)*)", head)
                if names:
                    options.update(ANY_OPTION.findall(names.group(1)))
            m = POSITIONAL_LINE.match(text)
            if m:
                positionals.add(m.group(1))
        return options, positionals

    def mentioned(self):
        found = set()
        for line in self.lines:
            found.update(LONG.findall(line))
        return found


def parse_scd(path):
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError as e:
        die(f"cannot read {path}: {e}")
    top = {}  # "# TITLE" -> {"": Section, "sub": Section}
    current_top = None
    current = None
    literal = False
    all_examples = []
    for line in lines:
        if line.startswith("; ") or line == ";":
            continue
        if line.strip() == "```":
            literal = not literal
            continue
        if literal:
            all_examples.append(line)
            continue
        if line.startswith("# "):
            current_top = line[2:].strip()
            current = Section(current_top)
            top[current_top] = {"": current}
            continue
        if line.startswith("## ") and current_top is not None:
            title = line[3:].strip()
            current = Section(title)
            if title in top[current_top]:
                problems.append(f"{path}: two sections \"## {title}\" under \"# {current_top}\"")
            top[current_top][title] = current
            continue
        if current is not None:
            current.lines.append(line)
    return top, all_examples


def example_commands(lines):
    # The page's literal blocks as shell lines: scdoc escapes undone, lines
    # ended by a backslash joined with the next.
    joined, pending = [], ""
    for raw in lines:
        line = re.sub(r"\\(.)", r"\1", raw)
        if line.endswith("\\"):
            pending += line[:-1] + " "
            continue
        joined.append(pending + line)
        pending = ""
    if pending:
        joined.append(pending)
    commands = []
    for line in joined:
        try:
            lexer = shlex.shlex(line, posix=True, punctuation_chars=True)
            lexer.whitespace_split = True
            tokens = list(lexer)
        except ValueError:
            continue
        # Each simple command of the line (split at |, ;, &&, ...).
        command = []
        for token in tokens + [";"]:
            if token and set(token) <= set("|&;<>()"):
                # Variables set for the command (NAME=value) come before it.
                while command and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", command[0]):
                    command.pop(0)
                if command and os.path.basename(command[0]) == "ondrel-cli":
                    commands.append((line.strip(), command[1:]))
                command = []
            else:
                command.append(token)
    return commands



def main():
    if len(sys.argv) != 3:
        die(__doc__.split("\n\n")[1])
    cli, scd = sys.argv[1], sys.argv[2]

    pending = set()
    for item in os.environ.get("ONDREL_MAN_PENDING", "").split():
        sub, sep, option = item.partition(":")
        if not sep or not option.startswith("-"):
            problems.append(f"ONDREL_MAN_PENDING: \"{item}\" is not of the form sub:--option")
            continue
        pending.add((sub, option))

    main_help = run_help(cli, [])
    helps = {sub: run_help(cli, [sub]) for sub in main_help.subcommands}
    if not helps:
        problems.append(f"{cli} --help lists no subcommands")

    top, examples = parse_scd(scd)
    for needed in ("OPTIONS", "COMMANDS"):
        if needed not in top:
            problems.append(f"{scd}: no \"# {needed}\" section")
    commands = {k: v for k, v in top.get("COMMANDS", {}).items() if k}
    groups = {k: v for k, v in top.get("SHARED OPTIONS", {}).items() if k}

    def allowed(sub, option, help_):
        if option in help_.options():
            return True
        if (sub, option) in pending:
            notes.append(f"pending: {sub} {option} is documented but not yet in the help")
            return True
        return False

    # The program's own options.
    if "OPTIONS" in top:
        section = top["OPTIONS"][""]
        defined, _ = section.defined()
        for option in sorted(main_help.options() - defined):
            problems.append(f"global option {option}: in the help, not described under # OPTIONS")
        for option in sorted(defined | section.mentioned()):
            if not allowed("", option, main_help):
                problems.append(f"global option {option}: under # OPTIONS, not in the help")

    for sub in sorted(set(commands) - set(helps)):
        problems.append(f"## {sub}: a section under # COMMANDS, but no such subcommand in the help")

    for sub, help_ in helps.items():
        if sub not in commands:
            problems.append(f"{sub}: a subcommand in the help, but no \"## {sub}\" under # COMMANDS")
            continue
        section = commands[sub]
        taken = []
        for paragraph in section.paragraphs():
            if not paragraph.startswith("Also takes"):
                continue
            for name in BOLD.findall(paragraph):
                name = " ".join(name.split())
                match = [g for g in groups if g.lower() == name.lower()]
                if match:
                    taken.append(match[0])
                elif name != "SHARED OPTIONS":
                    problems.append(f"{sub}: takes \"{name}\", which is no \"## \" group under # SHARED OPTIONS")

        # Where each option and argument is described or named, for the report.
        places = [(f"## {sub}", section)] + [(f"the group {g}", groups[g]) for g in taken]
        defined, positionals, mentioned = {}, {}, {}
        for place, part in places:
            p_options, p_positionals = part.defined()
            for option in p_options:
                if option in defined:
                    problems.append(f"{sub} {option}: described both in {defined[option]} and in {place}")
                defined.setdefault(option, place)
            for name in p_positionals:
                positionals.setdefault(name, place)
            for option in part.mentioned():
                mentioned.setdefault(option, place)
        everywhere = " or ".join(place for place, _ in places)

        for option in sorted(help_.options() - set(defined)):
            problems.append(f"{sub} {option}: in the help, not described in {everywhere}")
        for option in sorted(defined):
            if not allowed(sub, option, help_):
                problems.append(f"{sub} {option}: described in {defined[option]}, not in the help")
        for option in sorted(set(mentioned) - set(defined)):
            if not allowed(sub, option, help_):
                problems.append(f"{sub} {option}: named in {mentioned[option]}, not in the help")
        for name in sorted(help_.positionals - set(positionals)):
            problems.append(f"{sub} {name}: an argument in the help, not described in {everywhere}")
        for name in sorted(set(positionals) - help_.positionals):
            problems.append(f"{sub} {name}: an argument described in {positionals[name]}, not in the help")

    # Example commands must run as written, as far as their options go.
    for line, args in example_commands(examples):
        sub = next((a for a in args if not a.startswith("-")), None)
        if sub is None or args.index(sub) != 0:
            sub = ""
        help_ = helps.get(sub) if sub else main_help
        if help_ is None:
            problems.append(f"example \"{line}\": no subcommand \"{sub}\"")
            continue
        for arg in args:
            if arg.startswith("-") and arg != "-":
                option = arg.split("=", 1)[0]
                if not allowed(sub, option, help_):
                    problems.append(f"example \"{line}\": {sub or 'ondrel-cli'} has no option {option}")

    for (sub, option) in sorted(pending):
        if sub in helps and option in helps[sub].options():
            notes.append(f"ONDREL_MAN_PENDING: {sub}:{option} is in the help now; the entry can go")

    for note in dict.fromkeys(notes):
        print(f"note: {note}")
    if problems:
        print(f"{scd} and {cli} --help differ:")
        for p in problems:
            print(f"  - {p}")
        print(f"{len(problems)} difference(s)")
        return 1
    count = sum(len(h.options()) for h in helps.values())
    print(f"man page and help agree: {len(helps)} subcommands, {count} options")
    return 0


if __name__ == "__main__":
    sys.exit(main())
