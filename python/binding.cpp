// The native part of the Python module: one Analyzer over one lumaqc context,
// through the public C header only. The picture is read in place when its rows
// are unit-stride; the GIL is released while a frame is analysed.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <mutex>
#include <type_traits>
#include <string>
#include <vector>

#include "binding.hpp"
#include "lumaqc/lumaqc.h"

namespace lumaqc::python {

// A library error as the Python exception of its kind, with its text.
[[noreturn]] void raiseStatus(int status, const std::string& what) {
    const std::string text = "lumaqc: " + what + ": " + lumaqc_error_text(status);
    switch (status) {
        case LUMAQC_ERROR_SIZE:
        case LUMAQC_ERROR_INVALID: throw py::value_error(text);
        case LUMAQC_ERROR_NO_MEMORY: PyErr_SetString(PyExc_MemoryError, text.c_str()); throw py::error_already_set();
        default: throw std::runtime_error(text);
    }
}

py::str textOf(const std::string& text) {
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "backslashreplace");
    if (decoded == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

void raiseValueError(const std::string& text) {
    PyErr_SetObject(PyExc_ValueError, textOf("lumaqc: " + text).ptr());
    throw py::error_already_set();
}

int64_t wholeArgument(const char* name, const py::handle& value, int64_t low, int64_t high) {
    const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow == 0 && number == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || number < low || number > high)
        raiseValueError(std::string(name) + " must be from " + std::to_string(low) + " to " + std::to_string(high) +
                        ", not " + py::str(index).cast<std::string>());
    return number;
}

double numberArgument(const char* name, const py::handle& value, double low, bool positive) {
    const double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
        PyErr_Clear();
    } else if (std::isfinite(number) && (positive ? number > low : number >= low)) {
        return number;
    }
    raiseValueError(std::string(name) + " must be a finite number " + (positive ? "above " : "of at least ") +
                    py::repr(py::float_(low)).cast<std::string>() + ", not " + py::repr(value).cast<std::string>());
}

uint32_t isaMask(const py::object& isa) {
    if (isa.is_none()) return LUMAQC_ISA_ALL;
    std::vector<py::object> names;
    if (py::isinstance<py::str>(isa)) {
        names.push_back(isa);
    } else if (py::isinstance<py::iterable>(isa)) {
        for (py::handle item : isa) names.push_back(py::reinterpret_borrow<py::object>(item));
    } else {
        throw py::type_error("lumaqc: isa must be None, a variant name or an iterable of them");
    }
    uint32_t mask = 0;
    for (const py::object& item : names) {
        if (!py::isinstance<py::str>(item)) throw py::type_error("lumaqc: isa names must be strings");
        const std::string name = item.cast<std::string>();
        bool known = false;
        for (const IsaName& n : kIsaNames)
            if (name == n.name) {
                mask |= n.bit;
                known = true;
            }
        if (!known) throw py::value_error("lumaqc: unknown isa '" + name + "' (known: generic, avx2, avx512)");
    }
    if (mask == 0) throw py::value_error("lumaqc: isa names no variant");
    return mask;
}

std::string isaName(uint32_t bit) {
    for (const IsaName& n : kIsaNames)
        if (n.bit == bit) return n.name;
    return "unknown";
}

void collectMessage(void* user, const char* text) { static_cast<std::vector<std::string>*>(user)->emplace_back(text); }

}  // namespace lumaqc::python

using namespace lumaqc::python;

namespace {

// How one column of a result row is read: built once from the library's
// table of values, so the dict keys follow lumaqc_column_name's order.
struct ColumnReader {
    PyObject* key;                   // interned, kept for the life of the process
    int column;
    const lumaqc_value_info* value;  // null for "frame"
};
std::vector<ColumnReader>& columnReaders() {
    static auto* readers = new std::vector<ColumnReader>();  // never freed: outlives the interpreter's teardown
    return *readers;
}
// The values by lumaqc_indicator, for the keys of timings().
std::vector<const lumaqc_value_info*>& timedValues() {
    static auto* values = new std::vector<const lumaqc_value_info*>();
    return *values;
}
PyObject* gHasPreviousKey = nullptr;

void buildColumnReaders() {
    const int count = lumaqc_value_count();
    timedValues().resize(static_cast<size_t>(count));
    for (int i = 0; i <= count; ++i) {
        const lumaqc_value_info* value = i > 0 ? lumaqc_value_info_at(i - 1) : nullptr;
        // Only the values this module's lumaqc_result holds.
        if (value != nullptr && value->offset + (value->kind == LUMAQC_KIND_FLAG ? 1 : sizeof(double)) > sizeof(lumaqc_result))
            break;
        ColumnReader reader{PyUnicode_InternFromString(lumaqc_column_name(i)), i, value};
        if (reader.key == nullptr) throw py::error_already_set();
        columnReaders().push_back(reader);
        if (value != nullptr) timedValues()[static_cast<size_t>(value->indicator)] = value;
    }
    gHasPreviousKey = PyUnicode_InternFromString("has_previous");
    if (gHasPreviousKey == nullptr) throw py::error_already_set();
}

class Analyzer {
public:
    Analyzer(const py::object& width, const py::object& height, const py::object& fps, const py::object& isa,
             bool reference, bool measureTime, const py::object& threads, const std::string& analysisPath)
        : width_(wholeArgument("width", width, 1, INT32_MAX)),
          height_(wholeArgument("height", height, 1, INT32_MAX)),
          fps_(numberArgument("fps", fps, 0.0, true)),
          threads_(static_cast<int>(wholeArgument("threads", threads, 0, kMaxThreads))),
          measureTime_(measureTime),
          reference_(reference) {
        if (analysisPath != "one-pass" && analysisPath != "per-indicator")
            throw py::value_error("lumaqc: unknown analysis_path '" + analysisPath + "' (known: one-pass, per-indicator)");
        lumaqc_settings settings;
        lumaqc_default_settings(&settings);
        settings.fps = fps_;
        settings.isa_mask = isaMask(isa);
        settings.indicators = reference ? LUMAQC_INDICATORS_REFERENCE : LUMAQC_INDICATORS_FAST;
        settings.measure_time = measureTime ? 1 : 0;
        settings.threads = threads_;
        settings.analysis_path = analysisPath == "per-indicator" ? LUMAQC_PATH_PER_INDICATOR : LUMAQC_PATH_ONE_PASS;
        settings.message = collectMessage;
        settings.message_user = &messages_;
        const int status = lumaqc_open(&context_, static_cast<int32_t>(width_), static_cast<int32_t>(height_), &settings);
        if (status != LUMAQC_OK) raiseStatus(status, sizeText());
    }
    Analyzer(const Analyzer&) = delete;
    Analyzer& operator=(const Analyzer&) = delete;
    // Only reached when no Python reference is left, so no call is running.
    ~Analyzer() { lumaqc_close(&context_); }

    py::dict analyze(const py::object& luma) {
        const py::array plane = planeOf(luma);
        const auto* data = static_cast<const uint8_t*>(plane.data());
        const ptrdiff_t stride = strideOf(plane);
        lumaqc_result r;
        const int status = locked([&] { return lumaqc_analyse(context_, data, stride, &r); });
        if (status != LUMAQC_OK) raiseStatus(status, "analyze");
        return rowOf(r);
    }

    bool send(const py::object& luma) {
        const py::array plane = planeOf(luma);
        const auto* data = static_cast<const uint8_t*>(plane.data());
        const ptrdiff_t stride = strideOf(plane);
        const int status = locked([&] { return lumaqc_send_frame(context_, data, stride); });
        if (status == LUMAQC_ERROR_AGAIN) return false;
        if (status != LUMAQC_OK) raiseStatus(status, "send");
        return true;
    }

    py::dict receive() {
        lumaqc_result r;
        const int status = locked([&] { return lumaqc_receive_result(context_, &r); });
        if (status == LUMAQC_ERROR_AGAIN) throw std::runtime_error("lumaqc: receive: no frame was sent");
        if (status != LUMAQC_OK) raiseStatus(status, "receive");
        return rowOf(r);
    }

    int inFlight() {
        int count = 0;
        const int status = locked([&] { return lumaqc_frames_in_flight(context_, &count); });
        if (status != LUMAQC_OK) raiseStatus(status, "frames_in_flight");
        return count;
    }

    py::dict timings() {
        if (!measureTime_) throw std::runtime_error("lumaqc: timings() needs an analyzer made with measure_time=True");
        lumaqc_times times;
        const int status = locked([&] { return lumaqc_get_times(context_, &times); });
        if (status != LUMAQC_OK) raiseStatus(status, "timings");
        py::dict seconds;
        for (const lumaqc_value_info* v : timedValues())
            if (v != nullptr && v->indicator < LUMAQC_INDICATOR_COUNT)
                seconds[v->name] = static_cast<double>(times.seconds[v->indicator]);
        return seconds;
    }

    std::string isa() {
        uint32_t bit = 0;
        const int status = locked([&] { return lumaqc_get_isa(context_, &bit); });
        if (status != LUMAQC_OK) raiseStatus(status, "isa");
        return isaName(bit);
    }

    std::vector<std::string> messages() {
        return locked([&] { return messages_; });
    }

    void close() {
        locked([&] { return lumaqc_close(&context_); });
    }

    bool closed() {
        return locked([&] { return context_ == nullptr; });
    }

    Analyzer& enter() {
        if (closed()) raiseStatus(LUMAQC_ERROR_CLOSED, "enter");
        return *this;
    }

    std::string repr() {
        return "<lumaqc.Analyzer " + std::to_string(width_) + "x" + std::to_string(height_) + " fps=" +
               py::repr(py::float_(fps_)).cast<std::string>() + (reference_ ? " reference" : "") +
               (closed() ? " closed>" : ">");
    }

    int64_t width_, height_;
    double fps_;
    int threads_;
    bool measureTime_, reference_;

private:
    // Runs call on the context with the GIL released and the context's lock held.
    template <typename Call>
    std::invoke_result_t<Call> locked(Call call) {
        const py::gil_scoped_release release;
        const std::lock_guard<std::mutex> lock(mutex_);
        return call();
    }

    ptrdiff_t strideOf(const py::array& plane) const {
        return height_ > 1 ? static_cast<ptrdiff_t>(plane.strides(0)) : static_cast<ptrdiff_t>(width_);
    }

    static py::dict rowOf(const lumaqc_result& r) {
        py::dict row;
        for (const ColumnReader& c : columnReaders()) {
            double v = 0.0;
            if (c.value != nullptr) lumaqc_get_value(&r, c.column - 1, &v);
            py::object value = c.value == nullptr                ? py::object(py::int_(r.frame))
                               : c.value->kind == LUMAQC_KIND_FLAG ? py::object(py::int_(static_cast<int>(v)))
                                                                   : py::object(py::float_(v));
            row[py::handle(c.key)] = value;
        }
        row[py::handle(gHasPreviousKey)] = py::bool_(r.has_previous != 0);
        return row;
    }

    std::string sizeText() const {
        return "width " + std::to_string(width_) + ", height " + std::to_string(height_) + ", threads " + std::to_string(threads_);
    }

    // The picture as an array the library can read rows of: uint8, (height,
    // width), unit column stride and rows at least width apart; other layouts
    // of the right dtype and shape become a contiguous copy.
    py::array planeOf(const py::object& luma) const {
        py::array plane = py::isinstance<py::array>(luma) ? py::reinterpret_borrow<py::array>(luma)
                                                          : py::module_::import("numpy").attr("asarray")(luma).cast<py::array>();
        const py::dtype dtype = plane.dtype();
        if (dtype.kind() != 'u' || dtype.itemsize() != 1)
            throw py::type_error("lumaqc: luma must be of dtype uint8, not " + dtype.attr("name").cast<std::string>());
        if (plane.ndim() != 2)
            throw py::value_error("lumaqc: luma must be 2-D (height, width), not " + std::to_string(plane.ndim()) + "-D");
        if (plane.shape(0) != height_ || plane.shape(1) != width_)
            throw py::value_error("lumaqc: luma has shape (" + std::to_string(plane.shape(0)) + ", " +
                                  std::to_string(plane.shape(1)) + "), the analyzer expects (" + std::to_string(height_) +
                                  ", " + std::to_string(width_) + ")");
        const bool unitColumns = width_ == 1 || plane.strides(1) == 1;
        const bool rowsApart = height_ == 1 || plane.strides(0) >= width_;
        if (unitColumns && rowsApart) return plane;
        return py::array_t<uint8_t, py::array::c_style>::ensure(plane);
    }

    lumaqc_context* context_ = nullptr;
    std::mutex mutex_;  // one call per context at a time; taken only with the GIL released
    std::vector<std::string> messages_;
};

}  // namespace

PYBIND11_MODULE(_lumaqc, m) {
    m.doc() = "Native part of lumaqc: the Analyzer over the library's C API.";
    buildColumnReaders();
    m.attr("__version__") = LUMAQC_VERSION_STRING;
    m.attr("FLICKERING_PERIOD") = LUMAQC_FLICKERING_PERIOD;
    defineFileAnalysis(m);

    m.def(
        "column_names",
        [] {
            std::vector<std::string> names;
            for (const ColumnReader& c : columnReaders()) names.emplace_back(lumaqc_column_name(c.column));
            return names;
        },
        "The sixteen result columns in table order: 'frame', then the fifteen indicators.");

    py::class_<Analyzer> analyzer(m, "Analyzer", R"doc(
Analyses the luma planes of one stream of pictures of one size, frame after frame.

Analyzer(width, height, fps=25.0, isa=None, reference=False, measure_time=True, threads=0,
         analysis_path='one-pass')

fps is the frame rate the freezing indicator uses. isa limits the instruction-set
variants ('generic', 'avx2', 'avx512', or an iterable of them; None allows all; the
generic one is always allowed) and the best one the processor runs is chosen.
reference=True runs the literal step-by-step indicators (same values, slower).
measure_time (on by default) accumulates the processor time of each indicator for
timings(); measure_time=False leaves out the clock readings.
threads > 1 analyses the picture parts of several frames at once on the analyzer's
own threads (send/receive); the values are the same for any number of threads.
analysis_path='per-indicator' has each fast indicator walk the picture on its own
instead of the one pass over bands of rows (for comparisons; the same values).

Raises ValueError for a width or height that is not positive or a picture of more
than 715,827,882 pixels, an fps that is not a positive finite number, an unknown isa
name or analysis_path, or threads outside 0 to 1024 (naming the argument); TypeError
for a width, height or threads that is not an integer.
)doc");
    analyzer.attr("__module__") = "lumaqc";
    analyzer
        .def(py::init<py::object, py::object, py::object, py::object, bool, bool, py::object, std::string>(),
             py::arg("width"), py::arg("height"), py::arg("fps") = 25.0, py::arg("isa") = py::none(), py::arg("reference") = false,
             py::arg("measure_time") = true, py::arg("threads") = 0, py::arg("analysis_path") = "one-pass")
        .def("analyze", &Analyzer::analyze, py::arg("luma"), R"doc(
Analyses the next frame and returns its values as a dict.

luma is a 2-D uint8 array-like of shape (height, width). Arrays whose columns are
adjacent bytes and whose rows lie at least width bytes apart (C-contiguous, or a
slice of a larger picture) are read in place; any other layout of the same dtype
and shape (Fortran order, column steps, negative or overlapping strides) is copied
to a contiguous array first. Other dtypes raise TypeError, other shapes ValueError.

The keys are the column names ('frame' = frames this analyzer analysed before this
one, the fifteen indicators) and 'has_previous' (False on the first frame, when the
frame-to-frame indicators keep their initial values). blackout and freezing are 0 or
1, exposure is the untruncated mean (the log shows it truncated to an integer).
The GIL is released while the frame is analysed. RuntimeError once closed.
)doc")
        .def("send", &Analyzer::send, py::arg("luma"), R"doc(
Queues the next frame (copied in, the array may be reused at once) and returns True,
or returns False without queueing when as many frames are in flight as the analyzer
holds (threads + 1; 1 without threads): receive() one first. luma as for analyze().
)doc")
        .def("receive", &Analyzer::receive, R"doc(
The row of the oldest frame sent and not yet received, as analyze() returns it,
waiting for it with the GIL released. RuntimeError when no frame is in flight.
)doc")
        .def_property_readonly("frames_in_flight", &Analyzer::inFlight, "Frames sent and not yet received.")
        .def("timings", &Analyzer::timings, R"doc(
Processor seconds spent in each indicator so far, keyed by indicator name.

RuntimeError when the analyzer was made with measure_time=False. Without threads the process's
processor clock is read (work of other threads during a frame counts too); with
threads, each analysis thread's own clock, summed.
)doc")
        .def("close", &Analyzer::close, "Releases the stream; later calls raise RuntimeError. Closing twice is harmless.")
        .def("__enter__", &Analyzer::enter, py::return_value_policy::reference_internal)
        .def("__exit__", [](Analyzer& a, const py::args&) { a.close(); })
        .def("__repr__", &Analyzer::repr)
        .def_property_readonly("closed", &Analyzer::closed, "True once close() was called.")
        .def_property_readonly("isa", &Analyzer::isa, "The instruction-set variant that runs: 'generic', 'avx2' or 'avx512'.")
        .def_property_readonly("messages", &Analyzer::messages, "Texts of the indicators' messages so far, in order.")
        .def_readonly("width", &Analyzer::width_)
        .def_readonly("height", &Analyzer::height_)
        .def_readonly("fps", &Analyzer::fps_)
        .def_readonly("reference", &Analyzer::reference_)
        .def_readonly("measure_time", &Analyzer::measureTime_)
        .def_readonly("threads", &Analyzer::threads_);
}
