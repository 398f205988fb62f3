"""The harborsweep command: ``harborsweep`` and ``python -m harborsweep``."""

import sys


def run() -> None:
    # The option parser names the program after argv[0]; under ``-m`` that
    # would be "__main__.py".
    sys.argv[0] = "harborsweep"
    from harborsweep import harborsweep

    harborsweep.main()


if __name__ == "__main__":
    run()
