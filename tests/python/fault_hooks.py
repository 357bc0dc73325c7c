"""Whether the module under test was built with its fault hooks (src/lib/test_hooks.h)."""

import pytest

from vornel_codec import columnarize


def built_with_hooks():
    try:
        columnarize(b"!fault:transform:probe")
    except RuntimeError as error:
        return str(error) == "internal panic during columnarization: probe"
    return False


needs_hooks = pytest.mark.skipif(not built_with_hooks(), reason="module built without VORNEL_TEST_HOOKS")
