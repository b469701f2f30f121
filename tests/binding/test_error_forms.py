"""Display and debug forms of errors as they reach Python: escapes in message texts and the
operating-system form with its kind name."""

import os

import pytest

import velk
from helpers import panic_text

POINTS = [[0, 0, 0], [1, 0, 0], [0, 1, 0]]


@pytest.mark.parametrize("name, shown", [
    ('a"b\\c', 'a\\"b\\\\c'),
    ("tab\there\r\n", "tab\\there\\r\\n"),
    ("nul\x00bell\x07", "nul\\0bell\\u{7}"),
    ("\x85\u200b\ufeff", "\\u{85}\\u{200b}\\u{feff}"),
    ("é\U0001F534 ünï", "é\U0001F534 ünï"),
])
def test_message_texts_are_escaped_in_debug_forms(name, shown):
    text = panic_text(lambda: velk.RbfDeformer(POINTS, POINTS, name))
    assert text == ('called `Result::unwrap()` on an `Err` value: '
                    f'Deformation("Unsupported kernel: {shown}")')


def test_operating_system_failures_name_their_kind(tmp_path):
    loop = tmp_path / "loop"
    os.symlink(loop, loop)
    text = panic_text(lambda: velk.write_obj(POINTS, [[0, 1, 2]], str(loop)))
    assert text.startswith("called `Result::unwrap()` on an `Err` value: FileSystem(Os { code: 40, "
                           "kind: FilesystemLoop, message: \"")
    with pytest.raises(OSError) as info:
        velk.Mesh.from_obj(str(tmp_path / "missing.obj"))
    assert str(info.value) == "\U0001F534 IO error: No such file or directory (os error 2)"


def test_failure_diagnostic_names_the_calling_binding(tmp_path):
    import subprocess
    import sys

    code = "import velk\ntry:\n    velk.generate_icosphere(0.0, (0, 0, 0), 1)\nexcept BaseException:\n    pass\n"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert "py_primitives.cpp" in result.stderr
    assert 'MeshGeneration("' in result.stderr
