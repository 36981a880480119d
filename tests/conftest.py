import numpy as np
import pytest

from velkized_ta import velk_ta_funcs


def f32(*values):
    return np.array(values, dtype=np.float32)


@pytest.fixture
def module():
    return velk_ta_funcs


@pytest.fixture
def restore_module_globals():
    """Lets a test rebind module attributes (np, a sibling function) and puts them back."""
    saved = dict(vars(velk_ta_funcs))
    yield velk_ta_funcs
    for name in list(vars(velk_ta_funcs)):
        if name not in saved:
            delattr(velk_ta_funcs, name)
    for name, value in saved.items():
        if name.startswith("__") and name not in ("__test__",):
            continue
        setattr(velk_ta_funcs, name, value)


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "every_dispatch: bit-exactness tests that `make test` re-runs with VELKIZED_TA_PORTABLE_FMA=1 "
        "and with VELKIZED_TA_NARROW_VECTORS=1")
