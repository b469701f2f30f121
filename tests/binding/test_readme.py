"""The README's code samples run as written, in order, in an empty folder, and every result the
README states beside a sample line (a comment that begins with a Python literal, as in
`velk.select_nodes_on_line(...)   # [0, 1, 2]`) is the value that line gives."""

import ast
import os
import pathlib
import re

import velk

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def stated_result(comment):
    """The literal a sample comment begins with ("[3]: a rotated box" states [3], "27: lattice
    points" states 27), or None for prose."""
    text = comment.lstrip("#").strip()
    for candidate in (text, text.split(":")[0]):
        try:
            return (ast.literal_eval(candidate),)
        except (ValueError, SyntaxError):
            continue
    return None


def test_readme_samples_run_and_give_the_results_they_state(tmp_path, monkeypatch):
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
    assert blocks
    monkeypatch.chdir(tmp_path)
    namespace = {"velk": velk}
    checked = []
    for block in blocks:
        lines = block.splitlines()
        for statement in ast.parse(block).body:
            line = lines[statement.end_lineno - 1]
            comment = line[line.index("#"):] if "#" in line else ""
            stated = stated_result(comment) if isinstance(statement, ast.Expr) else None
            if stated is None:
                exec(compile(ast.Module([statement], []), str(README), "exec"), namespace)
                continue
            value = eval(compile(ast.Expression(statement.value), str(README), "eval"), namespace)
            assert value == stated[0], line
            checked.append(line)
    assert len(checked) >= 6  # the results the tour states
    assert os.listdir(tmp_path)  # the file samples wrote their files here


def test_a_stated_result_is_told_from_prose():
    assert stated_result("# [3]: a rotated box") == ([3],)
    assert stated_result("# (642, 1280)") == ((642, 1280),)
    assert stated_result("# 27: lattice points") == (27,)
    assert stated_result("# boxed summary: node and face counts") is None
    assert stated_result("# new Mesh of the nodes with x >= 0.5") is None
