"""The routes of the native part: local files read in this process, and nodra-servers over
IIOP, through the client code of the C++ programs."""

from ._errors import ConnectionError, DataError, UsageError

try:
    from . import _native
except ImportError as e:  # a package without its native part: the HTTP route alone
    _native = None
    _WHY = str(e)
else:
    _native.set_errors(UsageError, DataError, ConnectionError)


def _require():
    if _native is None:
        raise UsageError("this nodra has no native part (%s): local files and corbaloc: URLs need it; "
                         "build it with the project (cmake --build) or install the nodra package, "
                         "or read through a nodra-web with nodra.connect(\"http://...\")" % _WHY)
    return _native


class NativeRoute:
    """A session of the native part, as the package's Connection asks of a route."""

    def __init__(self, session):
        self._session = session
        self.url = session.url

    @classmethod
    def local(cls):
        return cls(_require().Session.local())

    @classmethod
    def remote(cls, url):
        return cls(_require().Session.remote(url))

    def list(self, dir):
        return self._session.list(dir)

    def open(self, path):
        return self._session.open(str(path))

    def rainflow(self, sources, channel, options):
        return self._session.rainflow([str(s) for s in sources], channel, options)

    def close(self):
        pass
