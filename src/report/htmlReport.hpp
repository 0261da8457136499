// The --html report: one self-contained page that opens offline. On top the
// verdict, the profile and the events with their pictures (setReview); below,
// a plot per value column in groups, all sharing one zoomable frame axis, the
// segments shaded and the gates' thresholds drawn, the pooled statistics and
// the settings.
//
// Rows are kept as they come, column by column: the frame index (int64), the
// presentation time (double) and each value column as a float, with NaN
// standing for "no value" (not computed per isNotComputed, or not finite).
// The page holds them as little-endian arrays in base64: every row while they
// fit its budget, else per bucket of rows (bucketSize) each value's least and
// greatest. The plots show single-precision values (about seven significant
// digits); the exact values are those of the log and the other reports.
//
// The page embeds the pinned charting library and its own script at build
// time (see report-assets/) and fetches nothing; a content security policy
// forbids any load. It is written to a temporary file beside the target and
// renamed over it only once complete, so a failed write leaves an existing
// file as it was (a symbolic link is followed; a character device, such as a
// terminal, is written in place; a read-only file or a FIFO is refused).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/frameRows.hpp"
#include "report/summaryTypes.hpp"

namespace lumaqc::report {

class HtmlReport {
public:
    // The report for pictures of width x height (which decide the "not
    // computed" columns), to be written to path by finish().
    HtmlReport(std::string path, int32_t width, int32_t height);

    // Whether finish() will be able to create the file (tried with a
    // temporary beside it, which is removed); else false with the reason.
    // Lets a caller refuse a run before hours of analysis.
    bool canWrite(std::string* error) const;

    // Rows must come in increasing frame order.
    void addRow(const FrameRow& row);

    // Writes the page. False, with the reason in *error (when not null), if
    // the rows were out of order or the file could not be written.
    bool finish(const std::vector<std::pair<std::string, std::string>>& settings, const std::vector<html::Segment>& segments,
                const std::vector<html::Pooled>& pooled, std::string* error);

    size_t rowCount() const { return frames_.size(); }

    // The verdict, profile, events with their pictures and the gates' lines
    // shown on top (without one, the events are the segments given to finish).
    void setReview(html::Review review) { review_ = std::move(review); }

    // Rows per bucket of the page's data for rows x columns values: 1 (every
    // row) while the data fits the page's budget, else the least power of two that fits.
    static size_t bucketSize(size_t rows, size_t columns);

private:
    std::string path_;
    int32_t width_;
    int32_t height_;
    bool ordered_ = true;
    std::vector<int64_t> frames_;
    std::vector<double> times_;
    std::vector<std::vector<float>> values_;  // one per indicator column, in columns() order
    html::Review review_;
};

}  // namespace lumaqc::report
