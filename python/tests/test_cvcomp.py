"""The cvcomp module as Python programs use it, checked against the cvcomp command itself."""

import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import threading
import time

import cv2
import numpy as np
import pytest

import cvcomp

ROOT = pathlib.Path(__file__).resolve().parents[2]
PROGRAM = os.environ.get("CVCOMP_PROGRAM", str(ROOT / "build" / "bin" / "cvcomp"))
DATA = pathlib.Path(os.environ.get("CVCOMP_SAMPLE_DATA", "/usr/share/doc/opencv-doc/examples/data"))
FACES = str(ROOT / "examples" / "face-detect.json")


def values(outputs):
    """The outputs that the JSON lines hold, in their order, as text: equal text, equal values."""
    return json.dumps({k: v for k, v in outputs.items() if not isinstance(v, np.ndarray)})


def clip_frames(count):
    video = cv2.VideoCapture(str(DATA / "Megamind.avi"))
    frames = [video.read()[1] for _ in range(count)]
    assert all(frame is not None for frame in frames)
    return frames


@pytest.fixture(scope="module")
def faces():
    with cvcomp.Composition(FACES) as composition:
        yield composition


def test_run_gives_the_json_lines_and_the_picture_of_cvcomp_run(tmp_path):
    composition, last = ROOT / "examples" / "track-features.json", tmp_path / "last.png"
    run = subprocess.run([PROGRAM, "run", str(composition), "--frames", "30", "--json", "-",
                          "--quiet", "--video", str(last), "--set", "features.inputMaxPoints=50"],
                         capture_output=True, text=True, check=True)
    with cvcomp.Composition(composition) as c:
        c.set("features.inputMaxPoints", 50)
        got = list(c.run(frames=30))
    assert [values(frame) for frame in got] == [values(json.loads(line))
                                                 for line in run.stdout.splitlines()]
    written = cv2.imread(str(last), cv2.IMREAD_UNCHANGED)
    assert np.array_equal(got[-1]["overlay.outputImage"][..., :written.shape[2]], written)


@pytest.mark.parametrize("convert", [None, cv2.COLOR_BGR2BGRA, cv2.COLOR_BGR2GRAY])
def test_process_gives_what_run_gives_on_the_same_clip(convert):
    with cvcomp.Composition(FACES) as c:
        expected = list(c.run(frames=20))
    with cvcomp.Composition(FACES) as c:
        for frame, want in zip(clip_frames(20), expected):
            got = c.process(frame if convert is None else cv2.cvtColor(frame, convert))
            assert list(got) == c.published == list(want)[2:]
            assert values(got) == values({k: want[k] for k in c.published})
            if convert != cv2.COLOR_BGR2GRAY:
                assert np.array_equal(got["overlay.outputImage"], want["overlay.outputImage"])
        assert np.array_equal(c.get("overlay.outputImage"), got["overlay.outputImage"])
        assert json.dumps(c.get("faces.outputRects")) == json.dumps(got["faces.outputRects"])


@pytest.mark.parametrize("frame, error, message", [
    (None, TypeError, "not NoneType"),
    (np.zeros((4, 4, 3), np.float32), TypeError, "uint8 pixels are required, not float32"),
    (np.zeros(16, np.uint8), ValueError, r"not one of shape \(16,\)"),
    (np.zeros((4, 4, 2), np.uint8), ValueError, r"not one of shape \(4, 4, 2\)"),
    (np.zeros((0, 4, 3), np.uint8), ValueError, "empty"),
    (np.zeros((4, 8, 3), np.uint8)[:, ::2], ValueError, "not contiguous"),
    (np.zeros((8193, 1), np.uint8), ValueError, "larger than the 8192 pixels"),
])
def test_bad_frames_are_refused_with_a_message(faces, frame, error, message):
    with pytest.raises(error, match=message):
        faces.process(frame)
    assert faces.process(np.zeros((48, 64, 3), np.uint8))["faces.outputRects"] == {}


def test_a_refused_composition_raises_what_cvcomp_check_prints(tmp_path):
    document = {"patches": {"p": {"class": "Pulse"}},
                "connections": [{"from": "p.outputSignal", "to": "q.x"}]}
    file = tmp_path / "refused.json"
    file.write_text(json.dumps(document))
    check = subprocess.run([PROGRAM, "check", str(file)], capture_output=True, text=True)
    with pytest.raises(cvcomp.CompositionError) as refused:
        cvcomp.Composition(file)
    assert isinstance(refused.value, ValueError)
    assert f"cvcomp: {refused.value}\n" == check.stderr
    with pytest.raises(cvcomp.CompositionError) as from_dict:
        cvcomp.Composition(document)
    assert str(from_dict.value) == str(refused.value).replace(str(file), "composition")


NO_SOURCE = {"patches": {"p": {"class": "Pulse"}}, "publish": ["p.outputSignal"]}


@pytest.mark.parametrize("use, error, message", [
    (lambda c: cvcomp.Composition(42), TypeError, "a path or a dict.*not int"),
    (lambda c: cvcomp.Composition(NO_SOURCE).process(np.zeros((2, 2), np.uint8)),
     cvcomp.CompositionError, "no ImageSource"),
    (lambda c: cvcomp.Composition(NO_SOURCE).run("pattern:8x8"), cvcomp.CompositionError,
     "no frame source"),
    (lambda c: c.set("nobody.inputX", 1), cvcomp.CompositionError, "nobody"),
    (lambda c: c.set("faces.inputMinNeighbors", object()), TypeError, "not JSON serializable"),
])
def test_misuse_raises_a_clear_error(faces, use, error, message):
    with pytest.raises(error, match=message):
        use(faces)


def test_an_abandoned_run_and_a_closed_composition():
    c = cvcomp.Composition(FACES)
    frames = c.run()
    assert next(frames)["frame"] == 0
    del frames
    assert [frame["frame"] for frame in c.run(frames=2)] == [1, 2]
    # An input that cannot be read leaves frames handed over as they were.
    with pytest.raises(OSError, match="/nonexistent/clip.avi: no such file"):
        c.run("/nonexistent/clip.avi")
    frame = np.zeros((8, 8, 3), np.uint8)
    assert c.process(frame, time=1.5)["faces.outputRects"] == {}
    later = c.run(DATA / "Megamind.avi")
    c.close()
    c.close()
    for use in (lambda: c.process(frame), lambda: c.run(), lambda: next(later),
                lambda: c.get("faces.outputRects"), lambda: c.set("faces.inputMinNeighbors", 2),
                lambda: c.published):
        with pytest.raises(ValueError, match="the composition is closed"):
            use()


def test_other_threads_run_while_a_frame_is_processed(faces):
    # More than a second of detection; the interpreter hands its lock over only when it is
    # released.
    big = cv2.resize(clip_frames(40)[-1], (2048, 1536))
    entered, found = threading.Event(), []
    worker = threading.Thread(
        target=lambda: (entered.set(), found.append(faces.process(big)["faces.outputRects"])))
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        worker.start()
        entered.wait()
        ran_during_the_frame = not found
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert ran_during_the_frame and len(found[0]) == 1


def test_ctrl_c_stops_a_run_between_frames():
    with cvcomp.Composition(str(ROOT / "examples" / "gray.json")) as c:
        frames = []
        threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
        with pytest.raises(KeyboardInterrupt):
            frames.extend(c.run("pattern:64x48", frames=1_000_000))
        assert 0 < len(frames) < 1_000_000
        assert next(c.run(frames=1))["frame"] == len(frames)


def test_patch_reports_go_to_standard_error_as_origin_and_message(tmp_path, capfd):
    document = json.loads(pathlib.Path(FACES).read_text())
    document["patches"]["cascade"]["inputs"]["inputPath"] = str(tmp_path / "gone.xml")
    with cvcomp.Composition(document) as c:
        frames = list(c.run(frames=2))
    assert re.fullmatch(r"OpenCVLoad: \S*/gone\.xml: [^\n]+\n", capfd.readouterr().err)
    assert [frame["faces.outputRects"] for frame in frames] == [None, None]


def test_patches_lists_what_cvcomp_patches_json_prints():
    listing = subprocess.run([PROGRAM, "patches", "--json"], capture_output=True, text=True,
                             check=True)
    assert json.dumps(cvcomp.patches()) == json.dumps(json.loads(listing.stdout))


def test_the_readme_example_runs_as_written(tmp_path):
    readme = (ROOT / "README.md").read_text()
    example = re.search(r"## Python\n.*?```python\n(.*?)```", readme, re.S).group(1)
    (tmp_path / "examples").symlink_to(ROOT / "examples")
    run = subprocess.run([sys.executable, "-c", example], cwd=tmp_path, capture_output=True,
                         text=True)
    assert run.returncode == 0, run.stderr
    # The 40th frame, with the face it shows outlined in green.
    drawn = cv2.imread(str(tmp_path / "faces.png")) != clip_frames(40)[-1]
    outline = cv2.imread(str(tmp_path / "faces.png"))[drawn.any(axis=2)]
    assert len(outline) > 100 and (outline == (0, 255, 0)).all()


RESIZED_DURING_PROCESS = """
import sys, threading
import numpy as np
import cvcomp
c = cvcomp.Composition(sys.argv[1])
frame = np.random.default_rng(7).integers(0, 256, (3072, 4096, 3), np.uint8)
expected = c.process(frame.copy())["toHost.outputImage"]
go = threading.Event()
def shrink():
    go.wait()
    frame.resize((1, 1, 3), refcheck=False)
shrinker = threading.Thread(target=shrink)
shrinker.start()
go.set()
got = c.process(frame)["toHost.outputImage"]
shrinker.join()
assert frame.shape == (1, 1, 3)
print(np.array_equal(got, expected))
"""


def test_a_frame_resized_by_another_thread_while_it_is_processed_was_copied_before():
    # numpy lets another thread shrink the array, freeing its memory, once the interpreter's lock
    # is released; in a process of its own, as reading freed memory may end it.
    run = subprocess.run([sys.executable, "-c", RESIZED_DURING_PROCESS,
                          str(ROOT / "examples" / "gray.json")], capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (0, "True\n"), run.stderr


def test_with_on_a_closed_composition_is_refused():
    c = cvcomp.Composition(NO_SOURCE)
    c.close()
    with pytest.raises(ValueError, match="the composition is closed"):
        with c:
            pass


@pytest.mark.parametrize("number", [np.int64(2), np.int32(2), np.uint8(2), np.float64(2.0),
                                    np.float32(2.0)])
def test_numpy_scalars_are_the_numbers_they_hold(number):
    document = json.loads(pathlib.Path(FACES).read_text())
    document["patches"]["faces"].setdefault("inputs", {})["inputMinNeighbors"] = number
    with cvcomp.Composition(document) as c:
        assert c.get("faces.inputMinNeighbors") == 2
        c.set("faces.inputMinNeighbors", number + 1)
        assert c.get("faces.inputMinNeighbors") == 3
        c.set("faces.inputCannyPruning", np.bool_(True))
        assert c.get("faces.inputCannyPruning") is True


def test_text_without_a_utf8_form_is_refused_before_it_reaches_json(faces):
    lone = "gone\udcff.xml"
    document = json.loads(pathlib.Path(FACES).read_text())
    document["patches"]["cascade"]["inputs"]["inputPath"] = lone
    for use in (lambda: faces.set("cascade.inputPath", lone), lambda: cvcomp.Composition(document),
                lambda: faces.run(lone)):
        with pytest.raises(ValueError, match="not valid UTF-8"):
            use()
    assert faces.process(np.zeros((48, 64, 3), np.uint8))["faces.outputRects"] == {}


def test_ctrl_c_during_a_long_frame_is_honoured_at_once():
    # Several seconds of detection; the frame ends on the composition's thread, and the next call
    # waits for it.
    big = cv2.resize(clip_frames(40)[-1], (4096, 3072))
    with cvcomp.Composition(FACES) as c:
        sent = []
        threading.Timer(0.3, lambda: (sent.append(time.monotonic()),
                                      os.kill(os.getpid(), signal.SIGINT))).start()
        with pytest.raises(KeyboardInterrupt):
            c.process(big)
        assert time.monotonic() - sent[0] < 1.5
        small = clip_frames(40)[-1]
        assert len(c.process(small)["faces.outputRects"]) == 1
