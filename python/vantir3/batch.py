"""Many survey files through one chain of steps on a Dask cluster."""

import os
import time
import uuid


def _row(path, out_path, error=None):
    """A row of batch's table, before (or without) a result."""
    return {"path": str(path), "output": str(out_path), "ok": False, "error": error, "traces": None,
            "samples": None, "channels": None, "not_kept": None, "seconds": None}


def _process_file(path, steps, out_path, channel, block_traces, read_options):
    """One task: the chain over one file, written to out_path. Never raises:
    a failure is reported in the returned row with its error."""
    from . import Chain  # imported on the worker

    row = _row(path, out_path)
    start = time.perf_counter()
    try:
        summary = Chain(steps).run_file(path, out_path, channel=channel, block_traces=block_traces,
                                        **read_options)
        row.update(ok=True, traces=summary["traces"], samples=summary["samples"], channels=summary["channels"],
                   not_kept=summary["not_kept"])
    except Exception as error:  # reported per file; the other files go on
        row["error"] = "%s: %s" % (type(error).__name__, error)
    row["seconds"] = time.perf_counter() - start
    return row


def batch(paths, steps, out_dir, client=None, *, out_format=None, channel=None, block_traces=4096, **read_options):
    """Processes survey files with a chain of steps on Dask, one task per file.

    ``client`` is a ``distributed.Client`` of any cluster; without one a local
    cluster is started for the call (two single-threaded workers in this
    process) and closed afterwards. Each output goes to ``out_dir`` under the
    input's file name, in its format; with ``out_format`` (an extension:
    "DZT", "DT1", "RD3", "RD7", "sgy") under the input's stem in that format.
    ``channel`` is ``Chain.run_file``'s: None writes every channel of each
    file (a file with several into a format other than DZT then fails; an
    integer picks that channel alone). The keyword arguments of ``read()``
    (e.g. ``antenna_frequency_mhz=250``) apply to every file. The steps are
    checked before anything is scheduled (ValueError). A file that fails does
    not stop the others.

    Returns a list of dicts, one per path in the given order: ``path``,
    ``output``, ``ok``, ``error`` (None or "Type: message"), ``traces``,
    ``samples``, ``channels`` (written), ``not_kept`` (the input's facts the
    output's format could not hold, as ``Chain.run_file`` reports them),
    ``seconds``.
    """
    from . import Chain

    Chain(steps)  # a bad step is refused here, not once per file
    steps = list([steps] if isinstance(steps, str) else steps)
    paths = [os.fspath(p) for p in paths]
    names = [os.path.basename(p) for p in paths]
    if out_format is not None:
        from . import SurveyError, format_of

        out_format = str(out_format).lstrip(".")
        try:
            format_of("output." + out_format)
        except SurveyError as error:
            raise ValueError("batch: out_format %r: %s" % (out_format, error.detail)) from None
        names = [os.path.splitext(n)[0] + "." + out_format for n in names]
    if len(set(names)) != len(names):
        raise ValueError("batch: two inputs have the same output name; their outputs would collide")
    os.makedirs(out_dir, exist_ok=True)
    outputs = [os.path.join(os.fspath(out_dir), n) for n in names]

    own = None
    if client is None:
        from distributed import Client, LocalCluster

        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                               dashboard_address=None)
        own = (cluster, Client(cluster))
        client = own[1]
    # Keys unique to this call: a cluster answers a key it still holds with
    # that task's result, so an earlier call's keys must not come back.
    call = uuid.uuid4().hex
    try:
        futures = [client.submit(_process_file, p, steps, o, channel, block_traces, read_options,
                                 key="vantir3-%s-%d-%s" % (call, i, n), pure=False)
                   for i, (p, o, n) in enumerate(zip(paths, outputs, names))]
        rows = []
        for path, output, future in zip(paths, outputs, futures):
            try:
                rows.append(future.result())
            except Exception as error:  # the task itself was lost (e.g. a worker died)
                rows.append(_row(path, output, "%s: %s" % (type(error).__name__, error)))
        return rows
    finally:
        if own is not None:
            own[1].close()
            own[0].close()
