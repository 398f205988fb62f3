"""The harborsweep command: ``harborsweep`` and ``python -m harborsweep``."""

import errno
import os
import select
import sys

# The status of a run whose standard output was closed by its reader (`| head`):
# the one the shell gives a command killed by SIGPIPE, 128 + 13.
READER_GONE = 141


def run() -> None:
    # The option parser names the program after argv[0]; under ``-m`` that
    # would be "__main__.py".
    sys.argv[0] = "harborsweep"
    # Started with standard output closed (`>&-`), the interpreter has none:
    # every result would be dropped, and the first connection to the
    # controller would take its descriptor.
    if sys.stdout is None:
        sys.exit(f"{sys.argv[0]}: error: standard output is closed")
    _keep_writes_until_flushed()
    from harborsweep import harborsweep

    try:
        harborsweep.main()
    except BaseException as error:
        _finish_output(error)
        raise
    _finish_output(None)


def _keep_writes_until_flushed():
    """Unbuffered (PYTHONUNBUFFERED, -u), standard output would take each
    write at once, and argparse ignores a failing write of the help screen,
    so the run would end with status 0 having printed nothing. Kept until
    the run flushes it (after each description and result, at a prompt and at
    the end), a write fails where the same run buffered would: at that
    flush, which reports it."""
    if getattr(sys.stdout, "write_through", False):
        try:
            sys.stdout.reconfigure(write_through=False)
        except (AttributeError, ValueError, OSError):
            pass


def _finish_output(error):
    """Flushes standard output while its failure can still be reported once.

    Standard output that fails is then pointed at the null device, so that
    the interpreter's flush at exit has nothing to report a second time. A
    pipe whose reader has gone ends the run quietly with READER_GONE when the
    run ended on that, or ended without an error of its own."""
    failure = _flush_failure()
    if failure is None and isinstance(error, BrokenPipeError) and _reader_gone():
        failure = error
    if failure is None:
        return
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, sys.stdout.fileno())
        os.close(null)
    except (OSError, ValueError, AttributeError):
        pass
    if error is None or isinstance(error, SystemExit):
        if failure.errno == errno.EPIPE:
            sys.exit(READER_GONE)
        raise failure from None
    if isinstance(error, BrokenPipeError) and failure.errno == errno.EPIPE:
        sys.exit(READER_GONE)


def _flush_failure():
    try:
        if sys.stdout is not None:
            sys.stdout.flush()
    except OSError as failure:
        return failure
    return None


def _reader_gone():
    # Asked when a BrokenPipeError leaves nothing to flush (standard output
    # unbuffered): was it standard output's, or the controller connection's?
    try:
        poll = select.poll()
        poll.register(sys.stdout.fileno(), select.POLLOUT)
        return any(events & (select.POLLERR | select.POLLHUP) for _, events in poll.poll(0))
    except (OSError, ValueError, AttributeError):
        return False


if __name__ == "__main__":
    run()
