// The indicators of one frame, called in their fixed order, each timed alone.
#pragma once

#include "app/report.hpp"
#include "tools/definitions.hpp"

// Pictures that live for the whole run.
struct RunPictures {
    Image current;
    Image previous;
    Image flickerCounts;  // first flickering accumulator: switch counts per 8 x 8 block
    Image flickerStates;  // second flickering accumulator: still (0) or changing (1)
};

// Computes the row of one frame. The frame-to-frame indicators run only when
// hasPrevious is set; otherwise their columns keep the values carried in row
// (temporal activity, freezing and flickering persist from frame to frame).
void analyseFrame(RunPictures& pictures, bool hasPrevious, double fps, FrameRow& row, MetricTimes& times);

// The frame just analysed becomes the previous picture; no pixel is copied.
void exchangeCurrentAndPrevious(RunPictures& pictures);
