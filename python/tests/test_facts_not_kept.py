"""Writing tells which facts of the records the written file does not keep:
a FactsNotKeptWarning after write() and Chain.run_file(), and run_file's
summary lists them."""

import os
import warnings

import numpy as np
import pytest

import vantir3
from conftest import real_file


def written(call, *args, **kwargs):
    """The call's result and the FactsNotKeptWarnings it issued (every one,
    whatever the filters around the test)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call(*args, **kwargs)
    return result, [w for w in caught if issubclass(w.category, vantir3.FactsNotKeptWarning)]


def test_write_warns_of_what_the_format_drops(tmp_path, profile, acquisition):
    assert issubclass(vantir3.FactsNotKeptWarning, UserWarning)
    marked = acquisition.replace(antenna_separation_m=1.0, marks=[(0, 1), (5, 1), (9, 1)])
    # A DZT records no antenna separation (its trace words keep the marks).
    out = tmp_path / "c.DZT"
    _, caught = written(vantir3.write, out, profile, marked)
    assert [str(w.message) for w in caught] == ["%s (DZT) does not keep: antenna separation 1 m" % out]
    assert caught[0].filename == __file__  # the caller's line, not the package's
    # DT1 has no place for marks.
    _, caught = written(vantir3.write, tmp_path / "c.DT1", profile, marked)
    assert len(caught) == 1 and str(caught[0].message).endswith("(DT1) does not keep: marks of 3 traces")
    # What a DZT holds goes back into a DZT without a word.
    data, back = vantir3.read(out)
    assert written(vantir3.write, tmp_path / "again.DZT", data, back) == (1.0, [])
    # The format given, not the extension, names what was written.
    _, caught = written(vantir3.write, tmp_path / "c.out", profile, marked, format="SEG-Y")
    assert str(caught[0].message).startswith("%s (SEG-Y) does not keep: " % (tmp_path / "c.out"))


def test_run_file_lists_and_warns_once(tmp_path):
    path = real_file("dt1/rgpr_flagogna_raw_XLINE000.DT1")
    chain = vantir3.Chain("dewow")
    out = str(tmp_path / "out.DZT")
    summary, caught = written(chain.run_file, path, out)
    assert "antenna separation 1 m" in summary["not_kept"]
    assert [str(w.message) for w in caught] == [
        "%s (DZT) does not keep: %s" % (out, ", ".join(summary["not_kept"]))]
    assert caught[0].filename == __file__
    # Into its own format nothing is lost.
    assert written(chain.run_file, path, tmp_path / "out.DT1")[0]["not_kept"] == []
    assert written(chain.run_file, path, tmp_path / "again.DT1")[1] == []


def test_a_warning_made_an_error_propagates_after_writing(tmp_path, profile, acquisition):
    marked = acquisition.replace(antenna_separation_m=float("nan"), marks=[(2, 1)])
    with warnings.catch_warnings():
        warnings.simplefilter("error", vantir3.FactsNotKeptWarning)
        with pytest.raises(vantir3.FactsNotKeptWarning, match="marks of 1 trace$"):
            vantir3.write(tmp_path / "m.sgy", profile, marked)
        vantir3.write(tmp_path / "m.DZT", profile, marked)  # kept: no error
        with pytest.raises(vantir3.FactsNotKeptWarning, match=r"m\.DT1 \(DT1\) does not keep: marks of 1 trace"):
            vantir3.Chain("agc").run_file(tmp_path / "m.DZT", tmp_path / "m.DT1")
    assert np.array_equal(vantir3.read(tmp_path / "m.sgy")[0], profile)
    assert os.path.exists(tmp_path / "m.DT1")
