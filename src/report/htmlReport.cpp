#include "report/htmlReport.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <algorithm>

#include "report/htmlAssets.hpp"
#include "report/writers.hpp"

namespace lumaqc::report {

namespace {

constexpr size_t kFlushSize = 1 << 20;

// Buffered writes to a file descriptor that remember the first failure.
class Output {
public:
    explicit Output(int fd) : fd_(fd) { buffer_.reserve(kFlushSize + 4096); }
    void put(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kFlushSize) flush();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    bool flush() {
        size_t done = 0;
        while (error_ == 0 && done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0) {
                if (errno != EINTR) error_ = errno;
            } else {
                done += static_cast<size_t>(n);
            }
        }
        buffer_.clear();
        return error_ == 0;
    }
    int error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
    std::string buffer_;
};

// Characters that would end or change the markup around them.
void putHtml(Output& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&': out.put("&amp;"); break;
            case '<': out.put("&lt;"); break;
            case '>': out.put("&gt;"); break;
            case '"': out.put("&quot;"); break;
            case '\'': out.put("&#39;"); break;
            default: out.put(c);
        }
    }
}

// A JSON string that can sit inside a script element: '<', '>' and '&' are
// escaped too, so no "</script" can appear.
void putJsonString(Output& out, std::string_view text) {
    out.put('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.put('\\');
            out.put(c);
        } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out.put(escaped);
        } else {
            out.put(c);
        }
    }
    out.put('"');
}

template <typename T>
void putNumber(Output& out, T value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.put(std::string_view(text, static_cast<size_t>(result.ptr - text)));
}

// Shortest text that reads back as the same value; null when not finite.
template <typename T>
void putJsonReal(Output& out, T value) {
    if (std::isfinite(value))
        putNumber(out, value);
    else
        out.put("null");
}

std::string shortestText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, static_cast<size_t>(result.ptr - text));
}

std::string readableText(double value) {
    if (!std::isfinite(value)) return shortestText(value);
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// "Spatial Activity" from "Spatial Activity: \t\t".
std::string_view columnLabel(const Column& column) {
    std::string_view header = column.consoleHeader;
    const size_t end = header.find(':');
    return end == std::string_view::npos ? header : header.substr(0, end);
}

bool isIndicator(const Column& column) { return column.kind != ColumnKind::FrameIndex; }

struct Table {
    const std::vector<int64_t>& frames;
    const std::vector<double>& times;
    const std::vector<std::vector<float>>& values;
};

// The page's data is at most this many bytes: longer runs keep the least and
// greatest value of each bucket of rows (a power of two) rather than every row.
constexpr double kDataBudget = 12e6;

void putBase64(Output& out, const unsigned char* bytes, size_t size) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char quad[4];
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t b0 = bytes[i], b1 = i + 1 < size ? bytes[i + 1] : 0, b2 = i + 2 < size ? bytes[i + 2] : 0;
        const uint32_t word = b0 << 16 | b1 << 8 | b2;
        quad[0] = kDigits[word >> 18 & 63];
        quad[1] = kDigits[word >> 12 & 63];
        quad[2] = i + 1 < size ? kDigits[word >> 6 & 63] : '=';
        quad[3] = i + 2 < size ? kDigits[word & 63] : '=';
        out.put(std::string_view(quad, 4));
    }
}

// Little-endian numbers (the page reads them as typed arrays), base64 in a JSON string.
template <typename T>
void putArray(Output& out, const std::vector<T>& values) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the page reads little-endian arrays");
    out.put('"');
    putBase64(out, reinterpret_cast<const unsigned char*>(values.data()), values.size() * sizeof(T));
    out.put('"');
}

}  // namespace

size_t HtmlReport::bucketSize(size_t rows, size_t columns) {
    size_t bucket = 1;
    auto bytes = [&](size_t b) {
        const double perBucket = 16.0 + static_cast<double>(columns) * 4.0 * (b == 1 ? 1.0 : 2.0);
        return static_cast<double>((rows + b - 1) / b) * perBucket * 4.0 / 3.0;
    };
    while (bytes(bucket) > kDataBudget) bucket *= 2;
    return bucket;
}

namespace {

void putData(Output& out, int32_t width, int32_t height, const Table& rows, const std::vector<html::Segment>& segments,
             const std::vector<html::Threshold>& thresholds) {
    const size_t count = rows.frames.size();
    const size_t bucket = HtmlReport::bucketSize(count, rows.values.size());
    const size_t buckets = (count + bucket - 1) / bucket;
    out.put("{\"width\":");
    putNumber(out, width);
    out.put(",\"height\":");
    putNumber(out, height);
    out.put(",\"rows\":");
    putNumber(out, count);
    out.put(",\"bucket\":");
    putNumber(out, bucket);
    // Each bucket is drawn at its first row's frame and time.
    std::vector<double> frames(buckets), times(buckets);
    for (size_t k = 0; k < buckets; ++k) {
        frames[k] = static_cast<double>(rows.frames[k * bucket]);
        times[k] = rows.times[k * bucket];
    }
    out.put(",\"frames\":");
    putArray(out, frames);
    out.put(",\"times\":");
    putArray(out, times);
    out.put(",\"columns\":[");
    size_t index = 0;
    std::vector<float> least(buckets), greatest(buckets);
    for (const Column& column : columns()) {
        if (!isIndicator(column)) continue;
        if (index > 0) out.put(',');
        out.put("\n{\"name\":");
        putJsonString(out, column.name);
        out.put(",\"label\":");
        putJsonString(out, columnLabel(column));
        out.put(column.kind == ColumnKind::Flag ? ",\"flag\":true" : ",\"flag\":false");
        // Flickering reports on one comparison in eight: its line joins the reports.
        out.put(column.notComputed == LUMAQC_NOT_COMPUTED_FIRST_FRAME_OR_MINUS_ONE ? ",\"spanGaps\":true"
                                                                           : ",\"spanGaps\":false");
        // NaN stands for no value (none in the bucket, or none finite).
        const std::vector<float>& values = rows.values[index];
        for (size_t k = 0; k < buckets; ++k) {
            float lo = __builtin_nanf(""), hi = __builtin_nanf("");
            for (size_t i = k * bucket; i < std::min(count, (k + 1) * bucket); ++i) {
                const float v = values[i];
                if (!std::isfinite(v)) continue;
                if (!(v >= lo)) lo = v;
                if (!(v <= hi)) hi = v;
            }
            least[k] = lo;
            greatest[k] = hi;
        }
        out.put(",\"min\":");
        putArray(out, least);
        if (bucket > 1) {
            out.put(",\"max\":");
            putArray(out, greatest);
        }
        out.put('}');
        ++index;
    }
    out.put("],\n\"segments\":[");
    for (size_t i = 0; i < segments.size(); ++i) {
        const html::Segment& s = segments[i];
        out.put(i > 0 ? ",\n{\"kind\":" : "{\"kind\":");
        putJsonString(out, s.kind);
        out.put(",\"first\":");
        putNumber(out, s.firstFrame);
        out.put(",\"last\":");
        putNumber(out, s.lastFrame);
        out.put(",\"start\":");
        putJsonReal(out, s.start);
        out.put(",\"end\":");
        putJsonReal(out, s.end);
        out.put('}');
    }
    out.put("],\n\"thresholds\":[");
    for (size_t i = 0; i < thresholds.size(); ++i) {
        const html::Threshold& t = thresholds[i];
        out.put(i > 0 ? ",{\"column\":" : "{\"column\":");
        putJsonString(out, t.column);
        out.put(",\"value\":");
        putJsonReal(out, t.value);
        out.put(",\"expression\":");
        putJsonString(out, t.expression);
        out.put(t.tripped ? ",\"tripped\":true}" : ",\"tripped\":false}");
    }
    out.put("]}");
}

void putCell(Output& out, std::string_view text, const char* cls = nullptr) {
    out.put(cls ? "<td class=\"" : "<td");
    if (cls) {
        out.put(cls);
        out.put('"');
    }
    out.put('>');
    putHtml(out, text);
    out.put("</td>");
}

// A number shown to six digits, with every digit in its tooltip.
void putRealCell(Output& out, double value) {
    out.put("<td title=\"");
    putHtml(out, shortestText(value));
    out.put("\">");
    putHtml(out, readableText(value));
    out.put("</td>");
}

void putSummary(Output& out, int32_t width, int32_t height, const Table& rows) {
    std::string text = std::to_string(width) + " \u00d7 " + std::to_string(height) + " pixels, " +
                       std::to_string(rows.frames.size()) + (rows.frames.size() == 1 ? " frame" : " frames");
    if (!rows.frames.empty()) {
        text += " (" + std::to_string(rows.frames.front()) + " to " + std::to_string(rows.frames.back()) + ")";
        if (std::isfinite(rows.times.front()) && std::isfinite(rows.times.back()))
            text += ", " + readableText(rows.times.front()) + " s to " + readableText(rows.times.back()) + " s";
    }
    out.put("<p class=\"summary\" id=\"summary\">");
    putHtml(out, text);
    out.put("</p>\n");
}

void putSettings(Output& out, const std::vector<std::pair<std::string, std::string>>& settings) {
    out.put("<h2>Settings</h2>\n");
    if (settings.empty()) {
        out.put("<p class=\"empty\">No settings recorded.</p>\n");
        return;
    }
    out.put("<table class=\"settings\" id=\"settings\"><tr><th>setting</th><th>value</th></tr>\n");
    for (const auto& [key, value] : settings) {
        out.put("<tr>");
        putCell(out, key);
        putCell(out, value);
        out.put("</tr>\n");
    }
    out.put("</table>\n");
}

void putPooled(Output& out, const std::vector<html::Pooled>& pooled) {
    out.put("<h2>Pooled statistics</h2>\n");
    if (pooled.empty()) {
        out.put("<p class=\"empty\">No pooled statistics.</p>\n");
        return;
    }
    out.put("<table id=\"pooled\"><tr><th class=\"text\">indicator</th><th>min</th><th>max</th><th>mean</th>"
            "<th>harmonic mean</th><th>p1</th><th>p5</th><th>p50</th><th>p95</th><th>p99</th><th>count</th><th>excluded</th></tr>\n");
    for (const html::Pooled& p : pooled) {
        out.put("<tr>");
        putCell(out, p.metric, "text");
        for (double v : {p.min, p.max, p.mean, p.harmonicMean, p.p1, p.p5, p.p50, p.p95, p.p99}) putRealCell(out, v);
        putCell(out, std::to_string(p.count));
        putCell(out, std::to_string(p.excluded));
        out.put("</tr>\n");
    }
    out.put("</table>\n");
}

void putThumbnail(Output& out, const html::Thumbnail& t, const char* role) {
    out.put("<img class=\"thumb\" alt=\"");
    out.put(role);
    out.put(" frame ");
    putNumber(out, t.frame);
    out.put("\" title=\"");
    out.put(role);
    out.put(" frame ");
    putNumber(out, t.frame);
    out.put("\" data-frame=\"");
    putNumber(out, t.frame);
    out.put("\" width=\"");
    putNumber(out, t.width);
    out.put("\" height=\"");
    putNumber(out, t.height);
    out.put("\" src=\"data:image/jpeg;base64,");
    putBase64(out, reinterpret_cast<const unsigned char*>(t.jpeg.data()), t.jpeg.size());
    out.put("\">");
}

// The verdict, the profile and the events, above everything else; a click on
// an event zooms every plot to it.
void putReview(Output& out, const html::Review& review, const std::vector<html::Segment>& segments) {
    out.put("<section id=\"review\">\n");
    if (!review.verdict.empty()) {
        out.put(review.verdict == "PASS" ? "<p class=\"verdict pass\" id=\"verdict\">" : "<p class=\"verdict fail\" id=\"verdict\">");
        putHtml(out, review.verdict);
        if (!review.profile.empty()) {
            out.put(" <span class=\"profile\">profile ");
            putHtml(out, review.profile);
            out.put("</span>");
        }
        out.put("</p>\n");
    } else if (!review.profile.empty()) {
        out.put("<p class=\"profile\" id=\"profile\">profile ");
        putHtml(out, review.profile);
        out.put("</p>\n");
    }
    if (!review.gates.empty()) {
        out.put("<ul class=\"gates\" id=\"gates\">");
        for (const std::string& line : review.gates) {
            out.put(line.find("tripped") != std::string::npos && line.find("not tripped") == std::string::npos
                        ? "<li class=\"tripped\">"
                        : "<li>");
            putHtml(out, line);
            out.put("</li>");
        }
        out.put("</ul>\n");
    }
    std::vector<html::Event> fromSegments;
    if (review.events.empty())
        for (const html::Segment& s : segments) fromSegments.push_back({s.kind, s.firstFrame, s.lastFrame, s.start, s.end, "", "", "", {}});
    const std::vector<html::Event>& events = review.events.empty() ? fromSegments : review.events;
    out.put("<h2>Events</h2>\n");
    if (events.empty()) {
        out.put("<p class=\"empty\">No events.</p>\n");
    } else {
        // Many events scroll in their own box, so that the plots stay near the top.
        out.put("<div class=\"events-box\"><table id=\"events\"><tr><th class=\"text\">kind</th><th class=\"text\">first, middle, last frame"
                "</th><th class=\"text\">timecodes</th><th>frames</th><th>start (s)</th><th>end (s)</th>"
                "<th>duration (s)</th><th class=\"text\">note</th></tr>\n");
        for (const html::Event& e : events) {
            out.put("<tr class=\"event\" data-first=\"");
            putNumber(out, e.firstFrame);
            out.put("\" data-last=\"");
            putNumber(out, e.lastFrame);
            out.put("\" title=\"Zoom every plot to this event\">");
            putCell(out, e.kind, "text");
            out.put("<td class=\"thumbs\">");
            static constexpr const char* kRoles[] = {"first", "middle", "last"};
            for (size_t k = 0; k < e.thumbnails.size() && k < 3; ++k) putThumbnail(out, e.thumbnails[k], kRoles[k]);
            out.put("</td>");
            putCell(out, e.firstTimecode.empty() ? "" : e.firstTimecode + " \u2013 " + e.lastTimecode, "text");
            putCell(out, std::to_string(e.firstFrame) + " \u2013 " + std::to_string(e.lastFrame));
            putRealCell(out, e.start);
            putRealCell(out, e.end);
            putRealCell(out, e.end - e.start);
            putCell(out, e.note, "note");
            out.put("</tr>\n");
        }
        out.put("</table></div>\n");
    }
    if (!review.picturesNote.empty()) {
        out.put("<p class=\"empty\" id=\"pictures-note\">");
        putHtml(out, review.picturesNote);
        out.put("</p>\n");
    }
    out.put("</section>\n");
}

// Collects script errors and blocked loads before anything else runs, and
// publishes them with what was drawn in #lumaqc-render-status, one fact a line
// ("plots N", "error TEXT", "plot NAME key value ...", "renderMs N", "bucket N",
// "thumb EVENT INDEX frame F width W height H rgb R,G,B,R,G,B,...") so that a
// test can read it without a JSON parser.
constexpr std::string_view kStatusScript = R"JS(
window.lumaqcStatus = { errors: [], plots: [], plotCount: 0, renderMs: null, bucket: null, thumbs: [] };
window.lumaqcPublish = function () {
  var s = window.lumaqcStatus, lines = ["plots " + s.plotCount, "renderMs " + s.renderMs, "bucket " + s.bucket];
  s.thumbs.forEach(function (t) { lines.push("thumb " + t); });
  s.errors.forEach(function (e) { lines.push("error " + String(e).replace(/\s+/g, " ")); });
  s.plots.forEach(function (p) {
    var line = "plot " + p.name;
    for (var key in p) if (key !== "name") line += " " + key + " " + p[key];
    lines.push(line);
  });
  var element = document.getElementById("lumaqc-render-status");
  if (element) element.textContent = lines.join("\n") + "\n";
};
window.addEventListener("error", function (e) {
  window.lumaqcStatus.errors.push(String(e.message || e.type) + (e.filename ? " at " + e.lineno + ":" + e.colno : ""));
  window.lumaqcPublish();
});
document.addEventListener("securitypolicyviolation", function (e) {
  window.lumaqcStatus.errors.push("blocked " + e.blockedURI + " (" + e.violatedDirective + ")");
  window.lumaqcPublish();
});
)JS";

void putPage(Output& out, int32_t width, int32_t height, const Table& rows,
             const std::vector<std::pair<std::string, std::string>>& settings, const std::vector<html::Segment>& segments,
             const std::vector<html::Pooled>& pooled, const html::Review& review) {
    out.put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src 'unsafe-inline'; "
            "style-src 'unsafe-inline'; img-src data:\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<meta name=\"generator\" content=\"lumaqc " LUMAQC_VERSION_STRING "\">\n"
            "<title>lumaqc report</title>\n<style>\n");
    out.put(assets::uplotCss());
    out.put("\n</style>\n<style>\n");
    out.put(assets::reportCss());
    out.put("\n</style>\n<script>");
    out.put(kStatusScript);
    out.put("</script>\n</head>\n<body>\n<pre id=\"lumaqc-render-status\" hidden></pre>\n<h1>lumaqc report</h1>\n");
    putSummary(out, width, height, rows);
    putReview(out, review, segments);
    out.put("<h2>Values</h2>\n<div class=\"toolbar\"><button id=\"reset-zoom\" type=\"button\">Show all frames"
            "</button><span>Drag across a plot to zoom every plot; double-click to show all; click an event to zoom to it."
            "</span><span id=\"segment-legend\" class=\"toolbar\"></span></div>\n"
            "<div id=\"readout\" class=\"readout\">Point at a plot to read every value of that frame.</div>\n"
            "<div id=\"charts\"></div>\n");
    putPooled(out, pooled);
    putSettings(out, settings);
    out.put("<script type=\"application/json\" id=\"lumaqc-data\">");
    putData(out, width, height, rows, segments, review.thresholds);
    out.put("</script>\n<script>\n");
    out.put(assets::uplotJs());
    out.put("\n</script>\n<script>\n");
    out.put(assets::reportJs());
    out.put("\n</script>\n</body>\n</html>\n");
}

std::string reason(const std::string& path, int error) {
    return "Cannot write the report " + path + ": " + std::strerror(error);
}

}  // namespace

HtmlReport::HtmlReport(std::string path, int32_t width, int32_t height)
    : path_(std::move(path)), width_(width), height_(height) {
    for (const Column& column : columns())
        if (isIndicator(column)) values_.emplace_back();
}

void HtmlReport::addRow(const FrameRow& row) {
    if (!frames_.empty() && row.frame <= frames_.back()) ordered_ = false;
    frames_.push_back(row.frame);
    times_.push_back(row.ptsTime);
    size_t index = 0;
    for (const Column& column : columns()) {
        if (!isIndicator(column)) continue;
        const bool none = isNotComputed(column, row, width_, height_);
        values_[index++].push_back(none ? __builtin_nanf("") : static_cast<float>(columnValue(column, row)));
    }
}

// Creates the file the page goes to, by the rule of every report: a symbolic
// link is followed, a file that cannot be opened for writing (read-only) and
// a FIFO or other kind that is not a regular file or a character device are
// refused. A character device (a terminal, /dev/null) is written in place; else
// a new temporary is made beside the file the path resolves to (*target), which
// takes its permissions.
static int openTarget(const std::string& path, bool* inPlace, std::string* target, std::string* temporary,
                      std::string* refusal, int* error) {
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    *target = path;
    // A folder is left to open(), which names the reason.
    if (exists && !S_ISDIR(existing.st_mode) && !writableKind(existing)) {
        *refusal = notAFileError("Cannot create the report " + path);
        return -1;
    }
    *inPlace = exists && !S_ISREG(existing.st_mode);
    if (exists) {
        // Not emptied: only the complete page replaces it.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || *inPlace) {
            if (fd < 0) *error = errno;
            return fd;
        }
        ::close(fd);
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved != nullptr) *target = resolved;
        std::free(resolved);
    }
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        *temporary = *target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100)) {
            *error = errno;
            return -1;
        }
    }
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0) {
        *error = errno;
        ::close(fd);
        ::unlink(temporary->c_str());
        return -1;
    }
    return fd;
}

bool HtmlReport::canWrite(std::string* error) const {
    bool inPlace = false;
    std::string target, temporary, refusal;
    int failure = 0;
    const int fd = openTarget(path_, &inPlace, &target, &temporary, &refusal, &failure);
    if (fd >= 0) {
        ::close(fd);
        if (!inPlace) ::unlink(temporary.c_str());
    }
    if (fd < 0 && error) *error = refusal.empty() ? reason(path_, failure) : refusal;
    return fd >= 0;
}

bool HtmlReport::finish(const std::vector<std::pair<std::string, std::string>>& settings,
                        const std::vector<html::Segment>& segments, const std::vector<html::Pooled>& pooled, std::string* error) {
    auto fail = [&](std::string message) {
        if (error) *error = std::move(message);
        return false;
    };
    if (!ordered_) return fail("Cannot write the report " + path_ + ": the rows are not in increasing frame order");

    // A regular file (or none) is replaced only by a complete page.
    bool inPlace = false;
    std::string target, temporary, refusal;
    int failure = 0;
    const int fd = openTarget(path_, &inPlace, &target, &temporary, &refusal, &failure);
    if (fd < 0) return fail(refusal.empty() ? reason(path_, failure) : refusal);
    if (inPlace) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    Output out(fd);
    putPage(out, width_, height_, Table{frames_, times_, values_}, settings, segments, pooled, review_);
    out.flush();
    failure = out.error();
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && !inPlace && ::rename(temporary.c_str(), target.c_str()) != 0) failure = errno;
    if (failure != 0) {
        if (!inPlace) ::unlink(temporary.c_str());
        return fail(reason(path_, failure));
    }
    return true;
}

}  // namespace lumaqc::report
