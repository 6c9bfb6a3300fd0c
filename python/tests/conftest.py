"""Shared fixtures: the package under test (from the build tree), small
profiles with known acquisition facts, and the real survey files."""

import os
import shutil

import numpy as np
import pytest

import vantir3

# The tests run on the build tree's package (PYTHONPATH set by CTest), never
# on an installed copy.
assert os.path.abspath(vantir3.__file__).startswith(
    tuple(os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p)
), "vantir3 imported from %s, not from PYTHONPATH" % vantir3.__file__

FACTS = dict(sample_interval_ns=0.4, antenna_frequency_mhz=250.0, time_zero_sample=5.0,
             antenna_separation_m=0.5, trace_spacing_m=0.05)


@pytest.fixture
def profile():
    """A radar-like profile of 24 traces x 96 samples, C-contiguous int16."""
    t = np.arange(24)[:, None]
    i = np.arange(96)[None, :]
    rng = np.random.default_rng(7)
    v = 20000 * np.exp(-0.03 * i) * np.sin(0.5 * i + 0.2 * t) + 300 * np.sin(0.05 * i) + rng.normal(0, 40, (24, 96))
    return np.clip(np.rint(v), -32768, 32767).astype(np.int16)


@pytest.fixture
def acquisition(profile):
    return vantir3.Acquisition(traces=profile.shape[0], samples=profile.shape[1], **FACTS)


def data_dir():
    for name in ("VANTIR3_TEST_DATA", "VANTIR3_TEST_DATA_DEFAULT"):
        d = os.environ.get(name)
        if d and os.path.isdir(d):
            return d
    return None


def real_file(relative):
    """A file of the shared data folder; skips when absent or when its
    format cannot be read yet."""
    d = data_dir()
    path = os.path.join(d, relative) if d else None
    if path is None or not os.path.isfile(path):
        pytest.skip("test data absent: %s" % relative)
    try:
        vantir3.read(path)
    except vantir3.SurveyError as e:
        if "not available yet" in str(e):
            pytest.skip("format not readable yet: %s" % e)
        raise
    return path


@pytest.fixture
def broken_copy(tmp_path):
    """A copy of a real file cut short, so that its header no longer fits."""
    def make(relative, keep_bytes):
        src = real_file(relative)
        dst = tmp_path / ("broken_" + os.path.basename(src))
        with open(src, "rb") as f:
            dst.write_bytes(f.read(keep_bytes))
        for ext in (".HD", ".hd", ".rad"):
            companion = os.path.splitext(src)[0] + ext
            if os.path.exists(companion):
                shutil.copy(companion, os.path.splitext(str(dst))[0] + ext)
        return str(dst)
    return make


def pytest_configure(config):
    # Writes that lose facts on purpose are everywhere in these tests; the
    # warning itself is tested where it is wanted (under its own filters).
    config.addinivalue_line("filterwarnings", "ignore::vantir3.FactsNotKeptWarning")
