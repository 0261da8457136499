# Type hints of the lumaqc module.
from os import PathLike
from types import TracebackType
from typing import Any, Dict, Iterable, List, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str

def column_names() -> List[str]: ...

class Analyzer:
    width: int
    height: int
    fps: float
    reference: bool
    measure_time: bool
    threads: int
    def __init__(
        self,
        width: int,
        height: int,
        fps: float = 25.0,
        isa: Union[None, str, Iterable[str]] = None,
        reference: bool = False,
        measure_time: bool = True,
        threads: int = 0,
        analysis_path: str = "one-pass",
    ) -> None: ...
    def analyze(self, luma: npt.ArrayLike) -> Dict[str, Union[int, float, bool]]: ...
    def send(self, luma: npt.ArrayLike) -> bool: ...
    def receive(self) -> Dict[str, Union[int, float, bool]]: ...
    @property
    def frames_in_flight(self) -> int: ...
    def timings(self) -> Dict[str, float]: ...
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    @property
    def isa(self) -> str: ...
    @property
    def messages(self) -> List[str]: ...
    def __enter__(self) -> "Analyzer": ...
    def __exit__(
        self,
        exc_type: Optional[type],
        exc: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None: ...

class AnalysisResult(Dict[str, np.ndarray]):
    path: Union[str, bytes]
    width: int
    height: int
    fps: float
    reader: str
    isa: str
    frames_analysed: int
    pooled: Dict[str, Dict[str, Union[float, int]]]
    segments: List[Dict[str, Union[str, int, float]]]
    segment_summary: Dict[str, Dict[str, Union[int, float]]]
    flash_screening: str
    warnings: List[str]
    messages: List[str]
    verdict: Optional["Verdict"]
    def _repr_html_(self) -> str: ...
    @property
    def columns(self) -> Dict[str, np.ndarray]: ...
    def to_pandas(self) -> Any: ...
    @property
    def frame(self) -> Any: ...

def analyze_file(
    path: Union[str, bytes, "PathLike[str]", "PathLike[bytes]"],
    width: Optional[int] = None,
    height: Optional[int] = None,
    fps: Optional[float] = None,
    frames: Optional[int] = None,
    start: int = 0,
    threads: Optional[int] = None,
    *,
    isa: Union[None, str, Iterable[str]] = None,
    reference: bool = False,
    input_format: Optional[str] = None,
    min_black: float = 0.0,
    min_freeze: float = 0.1,
    min_letterbox: float = 0.0,
    min_pillarbox: float = 0.0,
    min_interlaced: float = 0.1,
    min_flat: float = 0.08,
    min_flash: float = 0.0,
    interlace_threshold: float = 0.0006,
    field_order_threshold: float = 0.03,
    min_bar: float = 4.0,
    bar_change: float = 8.0,
    black_level: float = 32.0,
    freeze_noise: float = 3.5,
    decoder_threads: int = 0,
    range: str = "r103",
    range_area: float = 0.01,
    min_out_of_range: float = 0.0,
) -> AnalysisResult: ...

class Verdict:
    result: AnalysisResult
    passed: bool
    profile: str
    events: List[Dict[str, Union[str, int, float]]]
    waived: List[Dict[str, Union[str, int, float]]]
    at_edges: List[Dict[str, Union[str, int, float]]]
    gates: List[Dict[str, Union[str, float, bool]]]
    tripped: List[str]
    def _repr_html_(self) -> str: ...

def check(
    path: Union[str, bytes, "PathLike[str]", "PathLike[bytes]"],
    profile: Union[str, bytes, "PathLike[str]", "PathLike[bytes]"] = "broadcast",
    waivers: Union[None, str, bytes, "PathLike[str]", "PathLike[bytes]"] = None,
    width: Optional[int] = None,
    height: Optional[int] = None,
    fps: Optional[float] = None,
    frames: Optional[int] = None,
    start: int = 0,
    threads: Optional[int] = None,
    *,
    input_format: Optional[str] = None,
    decoder_threads: int = 0,
) -> Verdict: ...
