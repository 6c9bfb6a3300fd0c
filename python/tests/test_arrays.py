"""Entry points on numpy profiles: results against the library's own
processes (through a chain) and worked values, layouts, dtype refusals and
failures."""

import numpy as np
import pytest

import vantir3
from conftest import FACTS

GPR = dict(antenna_frequency=FACTS["antenna_frequency_mhz"], sample_interval=FACTS["sample_interval_ns"])


def chain(steps, data):
    return vantir3.Chain(steps).run(data, **FACTS)


def test_entry_points_match_the_library_processes(profile):
    # The same algorithm reached as a process (through a chain over the
    # array) and as an entry point gives the same samples.
    assert np.array_equal(vantir3.dewow(profile, window=2.5, **GPR), chain(["DEWOW@:WINDOW=2.50"], profile))
    sec2 = dict(attenuation=3.0, start_gain=2.0, max_gain=200.0)
    assert np.array_equal(
        vantir3.sec2_gain(profile, time_zero_sample=FACTS["time_zero_sample"], **sec2, **GPR),
        chain(["sec2:ATTENU=3,STRTGN=2,MAXGN@=200"], profile))
    # The program's operations run the same entry points on the chain's output.
    assert np.array_equal(vantir3.background_subtract(profile, window=4), chain(["bgsub:4"], profile))
    assert np.array_equal(vantir3.envelope(profile, window=10), chain(["envelope:10"], profile))
    assert np.array_equal(
        vantir3.migrate(profile, velocity=0.1, start_sample=FACTS["time_zero_sample"] - 1,
                        trace_spacing=FACTS["trace_spacing_m"], sample_interval=FACTS["sample_interval_ns"]),
        chain(["migrate:velocity=0.1"], profile))
    geometry = dict(antenna_separation=FACTS["antenna_separation_m"], time_zero_sample=FACTS["time_zero_sample"],
                    sample_interval=FACTS["sample_interval_ns"])
    assert np.array_equal(vantir3.deseparate(profile, velocity=0.1, **geometry), chain(["desep:velocity=0.1"], profile))
    heights = np.linspace(10.0, 10.6, profile.shape[0])
    topo = vantir3.topo_shift(profile, elevation=heights, velocity=0.1, datum=10.6, **geometry)
    assert np.array_equal(topo, vantir3.Chain(["topo:velocity=0.1,datum=10.6"]).run(
        profile, elevations_m=list(heights), **FACTS))
    assert np.array_equal(topo, vantir3.combo_shift(profile, elevation=heights, velocity=0.1, datum=10.6, **geometry))
    assert not np.array_equal(topo, vantir3.deseparate(profile, velocity=0.1, **geometry))


def test_worked_values():
    trace = np.array([[0, 5, -3, 2, 9, -7]], dtype=np.int16)
    assert vantir3.minmax_reduction(trace, samples=2).tolist() == [[9, -7]]
    assert vantir3.minmax_reduction(trace, samples=3).tolist() == [[5, -3, 9]]
    assert vantir3.decimation(np.arange(10, dtype=np.int16)[None, :], samples=4).tolist() == [[0, 3, 5, 8]]
    assert vantir3.average_reduction(np.arange(1, 7, dtype=np.int16)[None, :], size=2).tolist() == [[2, 5]]
    columns = np.array([[1, -1], [2, -2], [3, -3], [4, -4]], dtype=np.int16)  # 4 traces
    assert vantir3.average_reduction(columns, size=2, along="traces").tolist() == [[2, -2], [4, -4]]
    # A constant trace: envelope |c|/sqrt(2) rounded, dewow and background zero.
    flat = np.full((3, 40), 100, dtype=np.int16)
    assert (vantir3.envelope(flat, window=10) == 71).all()
    assert (vantir3.dewow(flat, **GPR) == 0).all()
    assert (vantir3.background_subtract(flat, window=2) == 0).all()
    assert (vantir3.background_subtract(flat, background=np.full(40, 30, np.int16)) == 70).all()
    # SEC2 with time zero at 1, 0.5 ns, 250 MHz: pulse width 6 ns, samples 0..11
    # get the start gain; the maximum is never reached over 20 samples.
    ones = np.full((2, 20), 100, dtype=np.int16)
    out, last = vantir3.sec2_gain(ones, attenuation=0.0, start_gain=2.0, max_gain=500.0, time_zero_sample=1.0,
                                  sample_interval=0.5, antenna_frequency=250.0, last_sample=True)
    assert (out[:, :12] == 200).all() and last == 19


def test_averaged_trace_and_statistics(profile):
    out, averaged = vantir3.dewow(profile, averaged=True, **GPR)
    assert averaged.shape == (profile.shape[1],)
    assert np.array_equal(averaged, np.trunc(out.astype(np.int64).sum(axis=0) / profile.shape[0]).astype(np.int16))

    s = vantir3.statistics(profile, mode=vantir3.STATS_MINMAX | vantir3.STATS_SUM | vantir3.STATS_EXTREMES,
                           extremes=3, per_trace=True)
    assert (s.count, s.min_value, s.max_value, s.sum) == (profile.size, profile.min(), profile.max(), profile.sum())
    assert s.low_extreme == np.sort(profile, axis=None)[2] and s.high_extreme == np.sort(profile, axis=None)[-3]
    assert s.per_index.shape == (profile.shape[0],)
    assert (s.per_index["count"] == profile.shape[1]).all()
    assert np.array_equal(s.per_index["max_value"], profile.max(axis=1))
    assert vantir3.statistics(profile).per_index is None

    env, es = vantir3.envelope(profile, stats_mode=vantir3.STATS_MINMAX, per_sample=True)
    assert es.max_value == env.max() and es.per_index.shape == (profile.shape[1],)
    assert np.array_equal(es.per_index["min_value"], env.min(axis=0))


def test_sec2_auto_matches_the_chain_step(profile):
    params = vantir3.sec2_auto(profile, time_zero_sample=FACTS["time_zero_sample"], max_gain_spec=0.5,
                               tail_fraction=0.25, target_slope=0.0, attenuation_step=0.1,
                               pulse_peak_percent=50, overall_peak_percent=80, **GPR)
    assert set(params) == {"attenuation", "start_gain", "max_gain"}
    # sec2:auto in a chain takes the same set-up (printed at the declared
    # precisions) and applies it.
    expected = vantir3.sec2_gain(profile, attenuation=round(params["attenuation"], 2),
                                 start_gain=round(params["start_gain"], 2), max_gain=round(params["max_gain"]),
                                 time_zero_sample=FACTS["time_zero_sample"], **GPR)
    assert np.array_equal(chain(["sec2:auto"], profile), expected)
    with pytest.raises(vantir3.StatusError) as e:
        vantir3.sec2_auto(profile, time_zero_sample=1.0, max_gain_spec=0.5, tail_fraction=1.5, target_slope=0.0,
                          attenuation_step=0.1, pulse_peak_percent=50, overall_peak_percent=80, **GPR)
    assert e.value.status == -202 and e.value.operation == "sec2_auto" and "tail_fraction" in str(e.value)


@pytest.mark.parametrize("layout", ["fortran", "transposed", "strided", "reversed", "readonly"])
def test_other_layouts_give_the_same_result(profile, layout):
    expected = vantir3.dewow(profile, **GPR)
    if layout == "fortran":
        view = np.asfortranarray(profile)
    elif layout == "transposed":
        view = np.ascontiguousarray(profile.T).T
    elif layout == "strided":
        wide = np.zeros((profile.shape[0], profile.shape[1] * 2), np.int16)
        wide[:, ::2] = profile
        view = wide[:, ::2]
    elif layout == "reversed":
        view = np.ascontiguousarray(profile[:, ::-1])[:, ::-1]  # negative sample stride
    else:
        view = profile.copy()
        view.flags.writeable = False
    assert view.flags.c_contiguous == (layout == "readonly")
    assert np.array_equal(vantir3.dewow(view, **GPR), expected)
    assert np.array_equal(vantir3.minmax_reduction(view, samples=10), vantir3.minmax_reduction(profile, samples=10))


def test_out_argument(profile):
    out = np.empty_like(profile)
    assert vantir3.dewow(profile, out=out, **GPR) is out
    assert np.array_equal(out, vantir3.dewow(profile, **GPR))
    with pytest.raises(ValueError, match="shaped"):
        vantir3.dewow(profile, out=np.empty((2, 2), np.int16), **GPR)
    with pytest.raises(ValueError, match="share memory"):
        vantir3.dewow(profile, out=profile, **GPR)
    with pytest.raises(ValueError, match="C-contiguous"):
        vantir3.dewow(profile, out=np.empty_like(profile, order="F"), **GPR)
    with pytest.raises(TypeError):
        vantir3.dewow(profile, out=np.empty(profile.shape, np.int32), **GPR)


def test_refusals(profile):
    # Other dtypes are never converted (a float would be truncated).
    for bad in (profile.astype(np.float64), profile.astype(np.int32), profile.astype(np.uint16),
                profile.astype(">i2"), profile.tolist()):
        with pytest.raises(TypeError, match="int16|numpy"):
            vantir3.envelope(bad)
    with pytest.raises(ValueError, match="2-D"):
        vantir3.envelope(profile[0])
    with pytest.raises(ValueError, match="no samples"):
        vantir3.envelope(np.zeros((0, 5), np.int16))
    with pytest.raises(ValueError, match="antenna_frequency"):
        vantir3.dewow(profile, antenna_frequency=float("nan"), sample_interval=0.4)
    with pytest.raises(ValueError, match="window"):
        vantir3.background_subtract(profile, window=1)
    with pytest.raises(ValueError, match="fewer than a trace"):
        vantir3.background_subtract(profile, background=np.zeros(5, np.int16))
    with pytest.raises(ValueError, match="elevation"):
        vantir3.topo_shift(profile, elevation=[1.0, 2.0], antenna_separation=0.5, time_zero_sample=1,
                           sample_interval=0.4)
    with pytest.raises(ValueError, match="output size"):
        vantir3.average_reduction(profile, size=1000)
    with pytest.raises(TypeError):
        vantir3.dewow(profile, 1.5, 250.0, 0.4)  # the parameters are keyword-only


def test_library_failures_raise_status_errors(profile):
    with pytest.raises(vantir3.StatusError) as e:
        vantir3.decimation(profile, samples=profile.shape[1])
    assert e.value.status == -1 and e.value.operation == "decimation"
    assert "nothing to reduce" in str(e.value)
    assert isinstance(e.value, RuntimeError)
    with pytest.raises(vantir3.StatusError, match="minmax_reduction failed"):
        vantir3.minmax_reduction(profile, samples=profile.shape[1])


def test_gil_is_released_during_a_call(profile):
    # Two threads each run a long call; both finish with the right result
    # (a call holding the lock would still be correct, so this checks that
    # releasing it does not break anything when threads share an input).
    import threading
    big = np.tile(profile, (40, 4))
    expected = vantir3.dewow(big, **GPR)
    results = []
    threads = [threading.Thread(target=lambda: results.append(vantir3.dewow(big, **GPR))) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 2 and all(np.array_equal(r, expected) for r in results)


def test_arrays_in_library_memory(profile):
    # Large blocks (4 MiB and more) are handed out again once released: a
    # new zero array must be zero even where a dropped array had samples,
    # and an array (or a view of it) must keep its memory while it lives.
    shape = (2048, 1024)
    filled = vantir3.zeros(shape)
    assert filled.dtype == np.int16 and filled.shape == shape and filled.flags.c_contiguous
    assert filled.flags.writeable and not filled.any()
    filled[...] = 7
    del filled
    assert not vantir3.zeros(shape).any()
    big = np.tile(profile, (86, 11))[:2048, :1024].copy()
    view = vantir3.dewow(big, **GPR)[100:110]
    expected = view.copy()
    for _ in range(3):
        vantir3.dewow(big + 1, **GPR)
        vantir3.zeros(shape)[...] = -1
    assert np.array_equal(view, expected)
    # Results pickle (the batch sends them between processes) and serve as
    # inputs and outputs like any array.
    import pickle
    assert np.array_equal(pickle.loads(pickle.dumps(view)), expected)
    out = vantir3.zeros(profile.shape)
    assert vantir3.envelope(vantir3.dewow(profile, **GPR), out=out) is out
    assert np.array_equal(out, vantir3.envelope(vantir3.dewow(profile, **GPR)))
    assert vantir3.zeros((0, 5)).shape == (0, 5)
    with pytest.raises(ValueError, match="negative"):
        vantir3.zeros((-1, 5))
