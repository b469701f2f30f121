"""The README's code samples run as written, in order, in an empty folder."""

import os
import pathlib
import re

import velk

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_readme_samples_run(tmp_path, monkeypatch):
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)
    assert blocks
    monkeypatch.chdir(tmp_path)
    namespace = {"velk": velk}
    for block in blocks:
        exec(compile(block, str(README), "exec"), namespace)
    assert os.listdir(tmp_path)  # the file samples wrote their files here
