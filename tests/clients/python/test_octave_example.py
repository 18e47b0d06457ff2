"""The MATLAB client of clients/matlab, run in GNU Octave against an embedded viewer: it
reads the values the Python client reads, and the headings the CSV names."""

import os
import shutil
import subprocess

import numpy as np
import pytest

import nodra

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "..", "clients", "matlab")


@pytest.mark.parametrize("name,channels", [("i16-le", [1]), ("f32-be", [2, 3])])
def test_octave_reads_what_python_reads(embedded_url, expected, name, channels):
    octave = shutil.which("octave-cli") or shutil.which("octave")
    if octave is None:
        pytest.skip("GNU Octave is not installed (scripts/install-deps installs it)")
    path = expected[name].path
    script = ("addpath('%s'); [t, v, n] = nodra_values('%s', '%s', [%s]);"
              "printf('%%s\\n', strjoin(n, '|')); printf('%%.17g\\n', [t v]');"
              % (os.path.abspath(EXAMPLE), embedded_url, path, " ".join(map(str, channels))))
    run = subprocess.run([octave, "--no-gui", "--norc", "--quiet", "--eval", script],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    got = np.array(lines[1:], dtype=float).reshape(-1, len(channels) + 1)
    f = nodra.connect(embedded_url).open(path)
    assert lines[0].split("|")[0] == "time [s]"
    assert len(lines[0].split("|")) == len(channels) + 1
    # The CSV's shortest decimal form of each time, as Octave's textscan parses it: within an ulp or two.
    np.testing.assert_allclose(got[:, 0], f[channels[0]].time(), rtol=4e-16 * 4, atol=0)
    for column, number in enumerate(channels, start=1):
        np.testing.assert_array_equal(got[:, column].astype(np.float32), expected[name].channel(number))
