"""Survey files: the reader on the real files, writing and reading back,
errors on bad files, and chains over files."""

import pickle

import numpy as np
import pytest

import vantir3
from conftest import real_file

# File, (traces, samples), format, sample interval (ns) or None, frequency (MHz) or None.
REAL_FILES = [
    ("dzt/gprpy_FILE____032.DZT", (1040, 512), "DZT", 48.0 / 512, 400.0),
    ("dzt/gprdata_cube_FILE____001.DZT", (451, 512), "DZT", 50.0 / 512, 400.0),
    ("dzt/impdar_sample32.DZT", (345, 2048), "DZT", 2300.0 / 2048, 200.0),
    ("dt1/gprpy_ComOffs_XLINE00.DT1", (531, 1500), "DT1", 0.8, 50.0),
    ("dt1/gprpy_WARR_XLINE00.DT1", (164, 1900), "DT1", 0.4, 100.0),
    ("dt1/rgpr_flagogna_raw_XLINE000.DT1", (198, 425), "DT1", 0.8, 100.0),
    ("rd3/impdar_ten_col.rd3", (10, 512), "RD3", None, 500.0),
    ("sgy/rgpr_test_export.sgy", (223, 1000), "SEG-Y", 0.4, None),
]


@pytest.mark.parametrize("relative,shape,fmt,interval,frequency", REAL_FILES)
def test_reader_on_real_files(relative, shape, fmt, interval, frequency):
    path = real_file(relative)
    data, acq = vantir3.read(path)
    assert data.dtype == np.int16 and data.shape == shape and data.flags.c_contiguous
    assert (acq.format, acq.traces, acq.samples) == (fmt, shape[0], shape[1])
    if interval is not None:
        assert acq.sample_interval_ns == pytest.approx(interval)
    if frequency is not None:
        assert acq.antenna_frequency_mhz == pytest.approx(frequency)
    assert data.any()
    # The record is a plain value: copied, compared, pickled, listed.
    assert pickle.loads(pickle.dumps(acq)) == acq
    assert acq.replace(antenna_name="x") != acq
    assert set(acq.to_dict()) == set(vantir3.Acquisition.fields)
    # Caller-supplied facts replace the file's.
    assert vantir3.read(path, sample_interval_ns=0.25)[1].sample_interval_ns == 0.25


def test_write_and_read_back(tmp_path):
    path = real_file("dt1/rgpr_flagogna_raw_XLINE000.DT1")
    data, acq = vantir3.read(path)
    processed = vantir3.dewow(data, antenna_frequency=acq.antenna_frequency_mhz,
                              sample_interval=acq.sample_interval_ns)
    out = tmp_path / "dewowed.DT1"
    vantir3.write(out, processed, acq)
    again, acq2 = vantir3.read(out)
    assert np.array_equal(again, processed)
    for name in ("traces", "samples", "sample_interval_ns", "antenna_frequency_mhz", "antenna_separation_m",
                 "trace_spacing_m", "time_zero_sample"):
        assert getattr(acq2, name) == pytest.approx(getattr(acq, name)), name
    # To another format, from a record built by hand.
    fresh = vantir3.Acquisition(traces=3, samples=8, sample_interval_ns=0.5, antenna_frequency_mhz=250.0)
    small = np.arange(24, dtype=np.int16).reshape(3, 8) * 100
    vantir3.write(tmp_path / "small.DT1", small, fresh)
    assert np.array_equal(vantir3.read(tmp_path / "small.DT1")[0], small)
    with pytest.raises(ValueError, match="acquisition record has"):
        vantir3.write(tmp_path / "x.DZT", small[:2], fresh)
    with pytest.raises(ValueError, match="unknown format"):
        vantir3.write(tmp_path / "x.DZT", small, fresh, format="TIFF")
    assert [vantir3.format_of(n) for n in ("a.dzt", tmp_path / "b.SEGY", "c.rd7")] == ["DZT", "SEG-Y", "RD7"]
    with pytest.raises(vantir3.SurveyError, match="unknown survey format") as e:
        vantir3.format_of("x.tif")
    assert e.value.detail.startswith("unknown survey format '.tif'")
    with pytest.raises(TypeError, match="int16"):
        vantir3.write(tmp_path / "x.DZT", small.astype(np.float32), fresh)
    assert not (tmp_path / "x.DZT").exists()


def test_gps_times_travel_with_positions(tmp_path):
    data, acq = vantir3.read(real_file("rd3/impdar_ten_col.rd3"))
    # Trace 7 of the .COR: 2019-07-26 16:58:43 UTC.
    assert acq.trace_times[6] == (20190726, 16 * 3600 + 58 * 60 + 43) and acq.trace_time_basis == "UTC"
    stamps = vantir3.trace_datetimes(acq)
    assert stamps[6] == np.datetime64("2019-07-26T16:58:43") and np.isnat(stamps[0]) and len(stamps) == 10
    timed = acq.replace(trace_times=[(20240229, 45959.25) if t == 6 else (0, float("nan")) for t in range(10)])
    for name in ("again.rd3", "again.DZT"):
        vantir3.write(tmp_path / name, data, timed)
        assert vantir3.read(tmp_path / name)[1].trace_times[6] == (20240229, 45959.25), name


def test_bad_files_raise_survey_errors(tmp_path, broken_copy):
    with pytest.raises(vantir3.SurveyError) as e:
        vantir3.read(tmp_path / "missing.DZT")
    assert isinstance(e.value, ValueError) and e.value.file.endswith("missing.DZT")
    (tmp_path / "notes.txt").write_text("not a survey")
    with pytest.raises(vantir3.SurveyError, match="notes.txt"):
        vantir3.read(tmp_path / "notes.txt")
    cut = broken_copy("dzt/gprpy_FILE____032.DZT", 700)
    with pytest.raises(vantir3.SurveyError) as e:
        vantir3.read(cut)
    assert e.value.file == cut and str(e.value).startswith(cut)
    with pytest.raises(vantir3.SurveyError):
        vantir3.read(real_file("dt1/gprpy_WARR_XLINE00.DT1"), channel=3)
    # A fact given in place of the file's must be one a survey can have.
    with pytest.raises(vantir3.SurveyError, match="trace spacing: the value -0.5 m is not positive"):
        vantir3.read(real_file("dt1/gprpy_WARR_XLINE00.DT1"), trace_spacing_m=-0.5)
    with pytest.raises(vantir3.SurveyError, match="antenna separation: the value inf m is not zero or positive"):
        vantir3.read(real_file("dt1/gprpy_WARR_XLINE00.DT1"), antenna_separation_m=float("inf"))
    assert vantir3.read(real_file("dt1/gprpy_WARR_XLINE00.DT1"), antenna_separation_m=0)[1].antenna_separation_m == 0


def test_chain_over_a_file(tmp_path):
    path = real_file("dt1/rgpr_flagogna_raw_XLINE000.DT1")
    data, acq = vantir3.read(path)
    for steps in (["dewow", "agc:WINDOW=2,MAXGN@=200"], ["dewow", "bgsub:20", "envelope:10"]):
        chain = vantir3.Chain(steps)
        expected = chain.run(data, acq)
        # Through the file-backed source, in blocks of 37 traces (whole when a
        # step needs the section).
        got, got_acq = chain.run_file(path, block_traces=37)
        assert np.array_equal(got, expected) and got_acq == acq
        summary = chain.run_file(path, tmp_path / "out.DT1", block_traces=50)
        assert summary["traces"] == acq.traces and summary["steps"] == chain.steps
        assert np.array_equal(vantir3.read(tmp_path / "out.DT1")[0], expected)
        assert summary["scale"] == 1.0
    assert not np.array_equal(expected, data)
    with pytest.raises(ValueError, match="replace its input"):
        vantir3.Chain("dewow").run_file(path, path)


@pytest.fixture
def two_channels(tmp_path, profile, acquisition):
    """A two-channel DZT written by write(): two different profiles, the
    second channel recorded at another antenna frequency. Returns the path,
    the profiles and the records. A DZT trace's two leading samples are its
    scan counter and mark word, which read() gives as the first radar
    sample: the profiles hold that sample there, so that they read back
    exactly."""
    second = (profile // 3)[::-1].copy()
    profiles = [profile.copy(), second]
    for p in profiles:
        p[:, :2] = p[:, 2:3]
    records = [acquisition, acquisition.replace(antenna_frequency_mhz=500.0)]
    path = tmp_path / "two.DZT"
    assert vantir3.write(path, profiles, records) == [1.0, 1.0]
    return path, profiles, records


def test_write_several_channels(tmp_path, two_channels):
    path, profiles, records = two_channels
    for c, (expected, record) in enumerate(zip(profiles, records)):
        data, acq = vantir3.read(path, c)
        assert np.array_equal(data, expected)
        assert (acq.channel_count, acq.channel, acq.antenna_frequency_mhz) == (2, c, record.antenna_frequency_mhz)
    assert (records[0].channel_count, records[1].channel) == (1, 0)  # the caller's records are left as given
    # A sequence of one profile is a one-channel file, and its scales a list.
    assert vantir3.write(tmp_path / "one.DZT", (profiles[1],), [records[1]]) == [1.0]
    assert vantir3.read(tmp_path / "one.DZT")[1].channel_count == 1
    # A (channels, traces, samples) array is its channels' profiles.
    assert vantir3.write(tmp_path / "stacked.DZT", np.stack(profiles), records) == [1.0, 1.0]
    assert np.array_equal(vantir3.read(tmp_path / "stacked.DZT", 1)[0], profiles[1])

    bad = tmp_path / "bad.DZT"
    with pytest.raises(ValueError, match=r"2 profiles but 1 acquisition record \(one of each per channel\)"):
        vantir3.write(bad, profiles, records[:1])
    with pytest.raises(ValueError, match=r"data\[1\] is shaped \(23, 96\) but data\[0\] \(24, 96\)"):
        vantir3.write(bad, [profiles[0], profiles[1][:23]], records)
    with pytest.raises(ValueError, match=r"data\[1\] is shaped \(24, 96\) but acquisition record\[1\] has 9 traces"):
        vantir3.write(bad, profiles, [records[0], records[1].replace(traces=9)])
    with pytest.raises(TypeError, match=r"acquisition\[1\] must be an Acquisition, not dict"):
        vantir3.write(bad, profiles, [records[0], {}])
    with pytest.raises(vantir3.SurveyError, match="SEG-Y files hold one channel, not 2"):
        vantir3.write(tmp_path / "bad.sgy", profiles, records)
    assert not bad.exists() and not (tmp_path / "bad.sgy").exists()


def test_chain_over_every_channel_of_a_file(tmp_path, two_channels):
    path = two_channels[0]
    # The dewow depends on each channel's frequency and the automatic SEC2
    # set-up on each channel's data: a channel processed with another's facts
    # or set-up would differ. The migration takes the whole section at once.
    for chain in (vantir3.Chain(["dewow", "sec2:auto"]), vantir3.Chain("migrate:velocity=0.1")):
        summary = chain.run_file(path, tmp_path / "out.DZT", block_traces=5)
        assert (summary["channels"], summary["scales"], summary["scale"]) == (2, [1.0, 1.0], 1.0)
        for c in range(2):
            got, acq = vantir3.read(tmp_path / "out.DZT", c)
            alone, alone_acq = chain.run_file(path, channel=c)
            assert alone_acq == vantir3.read(path, c)[1] and (acq.channel_count, acq.channel) == (2, c)
            assert np.array_equal(got[:, 2:], alone[:, 2:])
            # The same channel written on its own, as a one-channel file.
            one = chain.run_file(path, tmp_path / "one.DZT", channel=c, block_traces=7)
            assert (one["channels"], one["scales"]) == (1, [1.0])
            again, again_acq = vantir3.read(tmp_path / "one.DZT")
            assert (again_acq.channel_count, again_acq.channel) == (1, 0) and np.array_equal(again, got)
    # Without an output, channel 0 unless another is given.
    assert np.array_equal(chain.run_file(path)[0], chain.run_file(path, channel=0)[0])
    assert not np.array_equal(chain.run_file(path)[0], chain.run_file(path, channel=1)[0])

    # Only DZT holds several channels; one of them goes anywhere.
    with pytest.raises(vantir3.SurveyError, match="SEG-Y files hold one channel, not 2; channel=N processes one"):
        chain.run_file(path, tmp_path / "out.sgy")
    assert not (tmp_path / "out.sgy").exists()
    assert chain.run_file(path, tmp_path / "out.sgy", channel=1)["channels"] == 1
    assert np.array_equal(vantir3.read(tmp_path / "out.sgy")[0], chain.run_file(path, channel=1)[0])
    with pytest.raises(vantir3.SurveyError, match="channel 2 does not exist"):
        chain.run_file(path, tmp_path / "out.DZT", channel=2)


def test_each_channel_needs_its_own_facts(tmp_path, two_channels):
    _, profiles, records = two_channels
    path = tmp_path / "lacking.DZT"
    vantir3.write(path, profiles, [records[0], records[1].replace(antenna_frequency_mhz=float("nan"))])
    chain = vantir3.Chain("dewow")
    with pytest.raises(ValueError, match="channel 1: step 'dewow'.*antenna_frequency_mhz="):
        chain.run_file(path, tmp_path / "out.DZT")
    assert not (tmp_path / "out.DZT").exists()
    assert chain.run_file(path, tmp_path / "out.DZT", channel=0)["channels"] == 1


def test_samples_an_output_type_cannot_scale_are_written_as_they_are(tmp_path):
    # An f32 SEG-Y's processed samples times its scale are fractions, which
    # a DZT's integer samples cannot hold: the samples themselves are
    # written, at scale 1; an f32 output keeps the scale.
    path = real_file("sgy/rgpr_test_export.sgy")
    data, acq = vantir3.read(path)
    assert acq.scale == 1.0 / 512
    chain = vantir3.Chain(["dewow", "agc"])
    expected = chain.run(data, acq.replace(antenna_frequency_mhz=250))
    summary = chain.run_file(path, tmp_path / "out.DZT", antenna_frequency_mhz=250)
    assert summary["scale"] == 1.0
    got, got_acq = vantir3.read(tmp_path / "out.DZT")
    assert got_acq.scale == 1.0 and np.array_equal(got[:, 2:], expected[:, 2:])
    summary = chain.run_file(path, tmp_path / "out.sgy", antenna_frequency_mhz=250)
    assert summary["scale"] == acq.scale
    # write does the same, and says which scale it used; without fitting,
    # the integer format refuses the fractions.
    assert vantir3.write(tmp_path / "raw.rd3", data, acq) == 1.0
    assert np.array_equal(vantir3.read(tmp_path / "raw.rd3")[0], data)
    assert vantir3.write(tmp_path / "raw.DT1", data, acq) == acq.scale
    with pytest.raises(vantir3.SurveyError, match="i16 samples cannot hold exactly"):
        vantir3.write(tmp_path / "refused.rd3", data, acq, fit_samples=False)
    assert not (tmp_path / "refused.rd3").exists()


def test_facts_a_file_lacks_are_given_to_run_file(tmp_path, profile, acquisition):
    # A SEG-Y without the antenna frequency, which the dewow needs.
    lacking = acquisition.replace(antenna_frequency_mhz=float("nan"))
    path = tmp_path / "lacking.sgy"
    vantir3.write(path, profile, lacking)
    chain = vantir3.Chain(["dewow", "agc"])
    with pytest.raises(ValueError, match="give it with antenna_frequency_mhz="):
        chain.run_file(path)
    data, acq = vantir3.read(path, antenna_frequency_mhz=250)
    expected = chain.run(data, acq)
    got, got_acq = chain.run_file(path, antenna_frequency_mhz=250, block_traces=5)
    assert np.array_equal(got, expected) and got_acq.antenna_frequency_mhz == 250


def test_chain_refusals(profile):
    with pytest.raises(ValueError, match="unknown step 'wobble'"):
        vantir3.Chain(["wobble"])
    with pytest.raises(ValueError, match="MAXGN@"):
        vantir3.Chain(["agc:MAXGN@=40000"])
    with pytest.raises(ValueError, match="no steps"):
        vantir3.Chain([])
    # A step lacking an acquisition fact it needs is refused before running.
    with pytest.raises(ValueError, match="step 'dewow'.*give it with antenna_frequency_mhz="):
        vantir3.Chain("dewow").run(profile, vantir3.Acquisition(sample_interval_ns=0.4))
    chain = vantir3.Chain(["DEWOW@:WINDOW=1.50", "const:GAIN@@=2"])
    assert chain.steps == ["dewow WINDOW=1.50", "const GAIN@@=2"]
    assert pickle.loads(pickle.dumps(chain)).steps == chain.steps


def test_catalogue():
    rows = vantir3.catalogue()
    assert len(rows) == 13 and [r.kind for r in rows].count("process") == 7
    agc = next(r for r in rows if r.code == "AGC@@@")
    assert agc.name == "AGC Gain" and agc.level == 2
    window, maxgain = agc.parameters
    assert (window.code, window.default, window.minimum, window.maximum, window.resolution) == (
        "WINDOW", 1.5, 0.1, 1000.0, 0.1)
    assert maxgain.suggestions == ["20", "50", "200", "500", "2000", "5000"] and maxgain.label == "Maximum Gain"
    desep = next(r for r in rows if r.code == "ANDSEP")
    assert desep.parameters[0].units == "m/ns"
    assert next(r for r in rows if r.code == "GAIN@@").parameters == []
    assert "bgsub" in vantir3.catalogue_text()
