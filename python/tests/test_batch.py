"""Batches of survey files on a two-worker local Dask cluster, one file broken."""

import numpy as np
import pytest

import vantir3
from conftest import real_file

distributed = pytest.importorskip("distributed")


def test_batch_reports_the_broken_file_and_finishes_the_others(tmp_path, broken_copy):
    good = [real_file("dt1/rgpr_flagogna_raw_XLINE000.DT1"), real_file("dt1/rgpr_2012_10_06_cornino_yyline3.DT1")]
    broken = broken_copy("dt1/rgpr_2012_10_06_cornino_cmp.DT1", 1000)
    steps = ["dewow", "agc:WINDOW=2"]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        rows = vantir3.batch([good[0], broken, good[1]], steps, tmp_path / "out", client=client)
    assert [r["path"] for r in rows] == [good[0], broken, good[1]]
    assert [r["ok"] for r in rows] == [True, False, True]
    assert rows[1]["error"].startswith("SurveyError: ") and "broken_rgpr_2012_10_06_cornino_cmp" in rows[1]["error"]
    assert rows[1]["traces"] is None and rows[1]["not_kept"] is None
    for row, path in zip((rows[0], rows[2]), good):
        data, acq = vantir3.read(path)
        out, _ = vantir3.read(row["output"])
        assert (row["traces"], row["samples"], row["channels"], row["not_kept"]) == data.shape + (1, [])
        assert np.array_equal(out, vantir3.Chain(steps).run(data, acq))


def test_batch_on_its_own_local_cluster(tmp_path):
    path = real_file("dt1/rgpr_flagogna_raw_XLINE000.DT1")
    rows = vantir3.batch([path], "envelope:10", tmp_path)
    assert rows[0]["ok"] and rows[0]["error"] is None and rows[0]["seconds"] > 0
    data, acq = vantir3.read(path)
    assert np.array_equal(vantir3.read(rows[0]["output"])[0], vantir3.envelope(data, window=10))


def test_batch_into_another_format(tmp_path):
    # An f32 SEG-Y into DZT: the outputs take the inputs' stems, and the
    # samples go in as they are (an integer format cannot hold the values).
    path = real_file("sgy/rgpr_test_export.sgy")
    rows = vantir3.batch([path], ["dewow"], tmp_path, out_format="DZT", antenna_frequency_mhz=250)
    assert rows[0]["ok"], rows[0]["error"]
    assert rows[0]["output"] == str(tmp_path / "rgpr_test_export.DZT")
    data, acq = vantir3.read(path, antenna_frequency_mhz=250)
    out, out_acq = vantir3.read(rows[0]["output"])
    assert out_acq.format == "DZT" and out_acq.scale == 1.0
    assert any(lost.startswith("amplitude scale") for lost in rows[0]["not_kept"]), rows[0]["not_kept"]
    assert np.array_equal(out[:, 2:], vantir3.Chain("dewow").run(data, acq)[:, 2:])
    with pytest.raises(ValueError, match="out_format 'tif': unknown survey format"):
        vantir3.batch([path], ["dewow"], tmp_path, out_format="tif")
    with pytest.raises(ValueError, match="same output name"):
        vantir3.batch([path, tmp_path / "rgpr_test_export.DT1"], ["dewow"], tmp_path, out_format="sgy")


def test_batch_refuses_bad_steps_before_scheduling(tmp_path):
    with pytest.raises(ValueError, match="unknown step"):
        vantir3.batch(["a.DZT"], ["nope"], tmp_path)
    with pytest.raises(ValueError, match="same output name"):
        vantir3.batch(["a/x.DZT", "b/x.DZT"], ["dewow"], tmp_path)


def test_batch_gives_every_file_the_facts_it_lacks(tmp_path, profile, acquisition):
    path = tmp_path / "lacking.sgy"
    vantir3.write(path, profile, acquisition.replace(antenna_frequency_mhz=float("nan")))
    steps = ["dewow", "agc"]
    rows = vantir3.batch([path], steps, tmp_path / "out")
    assert not rows[0]["ok"] and "antenna_frequency_mhz=" in rows[0]["error"]
    rows = vantir3.batch([path], steps, tmp_path / "out", antenna_frequency_mhz=250)
    assert rows[0]["ok"], rows[0]["error"]
    data, acq = vantir3.read(path, antenna_frequency_mhz=250)
    assert np.array_equal(vantir3.read(rows[0]["output"])[0], vantir3.Chain(steps).run(data, acq))


def test_batch_writes_every_channel_unless_one_is_given(tmp_path, profile, acquisition):
    path = tmp_path / "two.DZT"
    vantir3.write(path, [profile, profile[::-1].copy()], [acquisition, acquisition])
    steps = ["dewow"]
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        both = vantir3.batch([path], steps, tmp_path / "both", client=client)
        refused = vantir3.batch([path], steps, tmp_path / "sgy", client=client, out_format="sgy")
        second = vantir3.batch([path], steps, tmp_path / "sgy", client=client, out_format="sgy", channel=1)
    assert both[0]["ok"], both[0]["error"]
    for c in range(2):
        expected = vantir3.Chain(steps).run_file(path, channel=c)[0]
        assert np.array_equal(vantir3.read(both[0]["output"], c)[0][:, 2:], expected[:, 2:])
    assert not refused[0]["ok"] and refused[0]["error"].startswith("SurveyError: ")
    assert "SEG-Y files hold one channel, not 2; channel=N" in refused[0]["error"]
    assert second[0]["ok"], second[0]["error"]
    assert np.array_equal(vantir3.read(second[0]["output"])[0], vantir3.Chain(steps).run_file(path, channel=1)[0])
