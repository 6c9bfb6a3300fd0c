"""VANTIR3: ground-penetrating-radar processing on numpy arrays.

Profiles are numpy int16 arrays shaped (traces, samples). A C-contiguous
array reaches the library without a copy; another int16 layout is copied
once into C order; any other dtype raises TypeError (samples are never
converted implicitly). Library failures raise StatusError naming the
operation and the reason; unreadable survey files raise SurveyError.
Writing a file whose format cannot hold some facts of its records (e.g. a
DZT's marks in DT1) warns with FactsNotKeptWarning, naming them.

    >>> import vantir3
    >>> data, acq = vantir3.read("line1.DZT")
    >>> out = vantir3.dewow(data, window=1.5, antenna_frequency=acq.antenna_frequency_mhz,
    ...                     sample_interval=acq.sample_interval_ns)
    >>> out = vantir3.Chain(["dewow", "sec2:ATTENU=3"]).run(data, acq)
    >>> table = vantir3.batch(paths, ["dewow", "agc"], "processed/")
"""

import os

import numpy as np

from ._vantir3 import (  # noqa: F401  (the public names of the module)
    FORMATS,
    STATS_EXTREMES,
    STATS_MINMAX,
    STATS_SUM,
    Acquisition,
    CatalogueEntry,
    FactsNotKeptWarning,
    NativeHeader,
    Parameter,
    Stats,
    StatusError,
    SurveyError,
    average_reduction,
    background_subtract,
    catalogue,
    catalogue_text,
    combo_shift,
    decimation,
    deseparate,
    dewow,
    envelope,
    format_of,
    ground_zero_sample_idx,
    migrate,
    minmax_reduction,
    read,
    sec2_auto,
    sec2_gain,
    statistics,
    topo_shift,
    write,
    zeros,
)
from ._vantir3 import _Chain
from .batch import batch  # noqa: F401


def trace_datetimes(acquisition):
    """The acquisition's trace times (``Acquisition.trace_times``) as a numpy
    ``datetime64[us]`` array, one entry per listed trace: NaT where a trace
    has no time, or a time of day without a day. Empty when the file
    records no times."""
    times = acquisition.trace_times
    out = np.full(len(times), np.datetime64("NaT"), dtype="datetime64[us]")
    if not times:
        return out
    dates = np.array([t[0] for t in times], dtype=np.int64)
    seconds = np.array([t[1] for t in times], dtype=np.float64)
    known = (dates > 0) & np.isfinite(seconds)
    for date in np.unique(dates[known]):
        day = np.datetime64("%04d-%02d-%02d" % (date // 10000, date // 100 % 100, date % 100), "us")
        on = known & (dates == date)
        out[on] = day + np.round(seconds[on] * 1e6).astype(np.int64).astype("timedelta64[us]")
    return out


class Chain:
    """Processing steps in the command-line program's syntax, run in order.

    Steps look like ``"dewow"``, ``"DEWOW@:WINDOW=1.50"``, ``"sec2:ATTENU=3"``,
    ``"agc:WINDOW=2,MAXGN@=200"``, ``"bgsub:50"``, ``"migrate:velocity=0.1"``,
    ``"envelope:10"``; ``catalogue_text()`` lists them. A bad step raises
    ValueError naming it (and, for a refused value, its bounds).
    """

    def __init__(self, steps):
        if isinstance(steps, str):
            steps = [steps]
        self._texts = list(steps)
        self._chain = _Chain(self._texts)

    @property
    def steps(self):
        """The parsed steps, described (e.g. ``'agc WINDOW=2 MAXGN@=200'``)."""
        return self._chain.steps

    def run(self, data, acquisition=None, **facts):
        """The steps over a profile (int16, (traces, samples)) with its
        acquisition facts: an Acquisition record, and/or its fields as keyword
        arguments (e.g. ``sample_interval_ns=0.1, antenna_frequency_mhz=500``).
        Returns a new array of the same shape."""
        acq = acquisition if acquisition is not None else Acquisition()
        if facts:
            acq = acq.replace(**facts)
        return self._chain.run(data, acq)

    def run_file(self, path, out_path=None, channel=None, block_traces=4096, **read_options):
        """The steps over a survey file, read in blocks of ``block_traces``
        traces through the file-backed source (the whole section at once when
        a step needs it: background subtraction, migration; and a
        ``sec2:auto`` step reads the channel once more to gather its
        statistics).

        With ``out_path`` the result is written there (format from its
        extension). ``channel=None`` processes every channel of the file, each
        with its own acquisition record (its facts checked, its ``sec2:auto``
        set up from its own data), into one file that keeps them in the
        input's order; only DZT holds several channels, so a multi-channel
        input into another format raises SurveyError unless ``channel`` picks
        one. An integer ``channel`` processes that channel alone into a
        one-channel file. A summary dict is returned: ``channels`` written,
        ``scales`` (one per channel) and ``scale`` (the first's), each the
        input's, or 1.0 where the output's sample type cannot hold the
        processed samples through it (an f32 file's fractions into an integer
        format) and the samples themselves were written; and ``not_kept``,
        the facts of the input that the written file does not keep (e.g.
        ``"marks of 3 traces"``), read back from it, empty when none is lost.
        When there are any, a FactsNotKeptWarning says so: ``"<out_path>
        (<FORMAT>) does not keep: <facts>"``; the file is written all the
        same (also when a warnings filter turns the warning into an error).

        Without ``out_path``, returns ``(array, acquisition)`` of one channel:
        ``channel``, or channel 0 when None.

        The keyword arguments of ``read()`` (``format``,
        ``sample_interval_ns``, ``antenna_frequency_mhz``,
        ``antenna_separation_m``, ``trace_spacing_m``) replace facts the file
        lacks or gets wrong."""
        path = os.fspath(path)
        if out_path is not None:
            out_path = os.fspath(out_path)
            if os.path.realpath(out_path) == os.path.realpath(path):
                raise ValueError("Chain.run_file: the output %s would replace its input" % out_path)
        return self._chain.run_file(path, out_path, channel, block_traces, **read_options)

    def __reduce__(self):
        return (Chain, (self._texts,))

    def __repr__(self):
        return "Chain(%r)" % (self._texts,)
