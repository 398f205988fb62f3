"""Check files of 10 MB in the shapes that cost a linter most, for
bench_lint.py (d): each is a mistake or a pattern repeated until the file is
full, or one value that big. What each stresses is in its name and comment."""

SIZE = 10 << 20


def _filled(head, item, tail=""):
    parts, size, i = [head], len(head), 0
    while size < SIZE:
        parts.append(item(i))
        size += len(parts[-1])
        i += 1
    return "".join(parts) + tail


def _fields(item, head="[quorvane]\naction = x\n", size=SIZE):
    return _filled(head, item)[:size].rsplit("\n", 1)[0] + "\n"


SHAPES = {
    # a million options of three letters: what the reader keeps per option
    "tiny options": lambda: _fields(lambda i: f"a{i}=v\n"),
    # a million sections
    "sections": lambda: _filled("", lambda i: f"[s{i}]\n"),
    # one value of 10 MB
    "one long value": lambda: "[quorvane]\naction = x\nv = " + "y" * SIZE + "\n",
    # five million "%(" and one ")s": one reference named 10 MB long
    "open references": lambda: "[quorvane]\naction = x\nv = " + "%(" * (SIZE // 2) + ")s\n",
    # the same in the description, which a finding of [default] names
    "open references, description": lambda: (
        "[default]\ndescription = " + "%(" * (SIZE // 2) + ")s\n[quorvane]\naction = x\n"),
    # five million "%%": the run copies the rest of the value at each
    "doubled percents": lambda: "[quorvane]\naction = x\nv = " + "%%" * (SIZE // 2) + "\n",
    # half a million fields, each a reference to nothing, and as many near names
    "failing fields": lambda: _fields(lambda i: f"f{i} = %(f{i}x)s\n"),
    # a 5 MB value of [DEFAULT] that every field refers to
    "large default": lambda: (
        "[DEFAULT]\nbig = " + "x" * (SIZE // 2) + "\n" + _fields(lambda i: f"f{i} = %(big)s\n",
                                                                 size=SIZE // 2)),
    # the same with a lone "%" at its end: every field fails in it
    "large default, failing": lambda: (
        "[DEFAULT]\nbig = " + "x" * (SIZE // 2) + "%\n" + _fields(lambda i: f"f{i} = %(big)s\n",
                                                                  size=SIZE // 2)),
    # a value of a million references to an empty one, then a letter
    "empty references": lambda: (
        "[DEFAULT]\ne =\nbig = " + "%(e)s" * (SIZE // 10) + "x\n"
        + _fields(lambda i: f"f{i} = %(big)s\n", size=SIZE // 2)),
    # references ten to a value nine deep, and fields referring to the deep ones
    "multiplying references": lambda: (
        "[DEFAULT]\n" + "".join(f"v{i} = " + f"%(v{i + 1})s" * 10 + "\n" for i in range(9))
        + "v9 = yyyy\n" + _fields(lambda i: f"f{i} = %(v{i % 4 + 3})s\n")),
    # each option refers to the next: a chain as long as the file
    "chain of references": lambda: _fields(lambda i: f"a{i} = %(a{i + 1})s\n") + "a_end = z\n",
    # each refers to the tenth after it, the last ones to nothing
    "chains to nothing": lambda: _fields(lambda i: f"a{i} = %(a{i + 10})s\n"),
    # indented option lines, all continuing the first value
    "continued lines": lambda: _fields(lambda i: f"  k{i} = v\n"),
    # a comment after every value
    "comments after values": lambda: _fields(lambda i: f"f{i} = v # c\n"),
    # options of [default] that refer to each other
    "default options": lambda: (
        _filled("[default]\n", lambda i: f"o{i} = %(o{i + 1})s\n") + "[quorvane]\naction = x\n"),
}
