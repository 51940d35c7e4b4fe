#!/usr/bin/env python3
"""Writes a simulator seed with GROUPS groups of TEMPLATES templates of about SIZE bytes each."""
import json
import random
import sys

groups, templates, size, path = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
rng = random.Random(7)
words = ["<div>", "</div>", "{exp:channel:entries}", "{title}", "lorem", "ipsum", "dolor", "\n", "class=\"x\""]


def content():
    parts, length = [], 0
    while length < size:
        word = rng.choice(words)
        parts.append(word)
        length += len(word) + 1
    return " ".join(parts)[:size]


seed = {"cms": "ee", "groups": [
    {"name": f"group-{g:03}", "is_special": g == 0,
     "templates": [{"name": f"template-{t:03}.html", "content": content()} for t in range(templates)]}
    for g in range(groups)]}
with open(path, "w") as out:
    json.dump(seed, out)
