/* The per-frame values of lumaqc, one row each: the single table from which
 * the indicator numbers, the fields of lumaqc_result, every output column and
 * the library's calls of the indicators are made. Read it at run time through
 * lumaqc_value_info_at (lumaqc.h); the macros here serve the header itself.
 *
 * Rows are in the order of the output columns (after "frame"), which is the
 * order of the value indexes. A row is
 *
 *   X(NAME, field, KIND, indicator, timing_position, STAGE, PASS,
 *     NOT_COMPUTED, min_width, min_height, POOLING,
 *     console_header, log_header, console_format, log_format, timing_format,
 *     fast, literal, OUTPUTS, NOTHING_MEASURED)
 *
 *   NAME, field       LUMAQC_NAME of enum lumaqc_indicator, field of lumaqc_result
 *                     (also the machine name of the column)
 *   KIND              REAL (double), FLAG (uint8_t, 0 or 1), TRUNCATED (double the
 *                     console and log show truncated to a 32-bit integer)
 *   indicator         its lumaqc_indicator number: the index of its time in
 *                     lumaqc_times.seconds, and the order the indicators run in
 *   timing_position   its place in the timing report of the command line
 *   STAGE             PICTURE (the picture alone), PAIR (the picture and the one
 *                     before, from the second frame on), SEQUENCE (state carried
 *                     from frame to frame, in frame order)
 *   PASS              IN_PASS (part of the one-pass analysis) or ALONE
 *   NOT_COMPUTED      when the value carries no measurement (null in JSON): NEVER,
 *                     FIRST_FRAME, FIRST_FRAME_OR_MINUS_ONE, BELOW_SIZE (a picture
 *                     narrower than min_width or lower than min_height)
 *   POOLING           STATISTICS (the pooled statistics of the frames with a value;
 *                     flags count as 0 and 1) or NONE
 *   headers, formats  console and log texts with the separator before the next
 *                     column (the line's end is not theirs); the formats are printf
 *                     formats of a double (REAL) or an int (FLAG, TRUNCATED);
 *                     timing_format, of the milliseconds per frame, with its label
 *                     and the separator before it
 *   fast, literal     the library's entry points (lumaqc::fast, lumaqc::reference::
 *                     literal); nothing else reads them
 *   OUTPUTS           where the value is shown: ALL (console and log rows, timing
 *                     report and reports) or REPORTS (JSON, CSV, HTML, Python and
 *                     the column API only)
 *   NOTHING_MEASURED  NEVER, or ZERO: a value of exactly 0 says the indicator found
 *                     nothing to measure (blur: no edge width; noise: the typical
 *                     block is flat), so the pooled statistics leave it out
 *
 * Adding a value: one row at the end of LUMAQC_VALUES_ADDED (the next
 * indicator number and timing position, its field and column after the
 * others, so programs built earlier keep working), shown in the REPORTS only
 * with empty console, log and timing texts (so that the console rows, the log
 * and the timing report of any program, built before it or after, stay as
 * they are), its fast kernel and its literal composition (PICTURE and PAIR
 * rows are called through the row; a SEQUENCE row also needs its state in the
 * library's context), and their tests. An ALONE value runs after the one-pass
 * analysis; making it IN_PASS means computing it inside that pass
 * (indicators/fused.cpp). The values added since 1.0 are skipped, and their
 * fields left not-a-number, when the settings' skip_added_values is set. */
#ifndef LUMAQC_VALUES_H
#define LUMAQC_VALUES_H

/* The values of version 1.0. Their fields lie in lumaqc_result as then: the
 * flags first, then the doubles. */
#define LUMAQC_VALUES_1_0(X)                                                                                         \
    X(BLOCKINESS, blockiness, REAL, 0, 0, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Blockiness: \t",               \
      "Blockiness: \t", "%-5.5f \t", "%-5.5f \t", "\tBlockiness: %02.6f ms ", blockiness, blockiness, ALL, NEVER)    \
    X(SPATIAL_ACTIVITY, spatial_activity, REAL, 1, 1, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS,                     \
      "Spatial Activity: \t", "SA: \t", "%-5.5f \t\t", "%-5.5f \t", "\tSpatialAct: %02.6f ms ", spatialActivity,     \
      spatialActivity, ALL, NEVER)                                                                                   \
    X(LETTERBOX, letterbox, REAL, 2, 2, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Letterbox: \t", "Letterbox: \t", \
      "%-5.5f \t", "%-5.5f \t", "\tLetterbox: %02.6f ms \n", letterbox, letterbox, ALL, NEVER)                       \
    X(PILLARBOX, pillarbox, REAL, 3, 3, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Pillarbox: \t", "Pillarbox: \t", \
      "%-5.5f \t", "%-5.5f \t", "\tPillarbox: %02.6f ms ", pillarbox, pillarbox, ALL, NEVER)                         \
    X(BLOCK_LOSS, block_loss, REAL, 4, 4, PICTURE, IN_PASS, BELOW_SIZE, 256, 256, STATISTICS, "Blockloss: \t",       \
      "Blockloss: \t", "%-5.5f \t", "%-5.5f \t", "\t\tBlockLoss: %02.6f ms ", blockLoss, blockLoss, ALL, NEVER)      \
    X(BLUR, blur, REAL, 5, 5, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Blur: \t\t", "Blur: \t", "%-7.3f \t",      \
      "%-5.3f \t", "\t\tBlur: %02.6f ms \n ", blur, blur, ALL, ZERO)                                                 \
    X(TEMPORAL_ACTIVITY, temporal_activity, REAL, 12, 11, PAIR, IN_PASS, FIRST_FRAME, 0, 0, STATISTICS,              \
      "TemporalAct: \t", "TA: \t", "%-5.5f \t", "%-5.5f \t", "\t\tTemporal: %02.6f ms \n ", temporalActivity,        \
      temporalActivity, ALL, NEVER)                                                                                  \
    X(BLACKOUT, blackout, FLAG, 10, 10, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Blackout: \t", "Blackout: \t",   \
      "%-d \t\t", "%-d \t", "\t\tBlackout: %02.6f ms ", blackout, blackout, ALL, NEVER)                              \
    X(FREEZING, freezing, FLAG, 13, 12, SEQUENCE, ALONE, FIRST_FRAME, 0, 0, STATISTICS, "Freezing: \t",              \
      "Freezing: \t", "%-d \t\t", "%-d \t", "\tFreezing : %02.6f ms", freezing, freezing, ALL, NEVER)                \
    X(EXPOSURE, exposure, TRUNCATED, 6, 6, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Exposure(bri): \t",           \
      "Exposure(bri): \t", "%-6i \t\t", "%-6i \t", "\tExposure: %02.6f ms ", exposure, exposure, ALL, NEVER)         \
    X(CONTRAST, contrast, REAL, 11, 14, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Contrast: \t", "Contrast: \t",   \
      "%-5.5f \t", "%-5.5f \t", "\tContrast: %02.6f ms", contrastRMS, contrastRMS, ALL, NEVER)                       \
    X(INTERLACE, interlace, REAL, 7, 7, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Interlace: \t", "Interlace: \t", \
      "%-5.5f \t", "%-5.5f \t", "\t\tInterlace: %02.6f ms ", interlace, interlace, ALL, NEVER)                       \
    X(NOISE, noise, REAL, 8, 8, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "Noise: \t\t", "Noise: \t", "%-8.4f \t",  \
      "%-8.4f \t", "\t\tNoise: %02.6f ms \n ", noise, noise, ALL, ZERO)                                              \
    X(SLICE, slice, REAL, 9, 9, PICTURE, IN_PASS, BELOW_SIZE, 0, 48, STATISTICS, "Slice: \t\t", "Slice: \t",         \
      "%-7.3f \t", "%-7.3f \t", "\tSlice: %02.6f ms", slice, slice, ALL, NEVER)                                      \
    X(FLICKERING, flickering, REAL, 14, 13, SEQUENCE, ALONE, FIRST_FRAME_OR_MINUS_ONE, 0, 0, STATISTICS,             \
      "Flickering:", "Flickering:", "%-5.5f", "%-5.5f", "\t\tFlickering: %02.6f ms ", flickering, flickering, ALL,   \
      NEVER)

/* Values added since: their fields follow those of 1.0 in lumaqc_result, in
 * this order, and their columns come last. */
#define LUMAQC_VALUES_ADDED(X)                                                                                       \
    X(BRIGHTEST_BLOCK, brightest_block, REAL, 15, 15, PICTURE, IN_PASS, BELOW_SIZE, 8, 8, STATISTICS, "", "", "",    \
      "", "", brightestBlock, brightestBlock, REPORTS, NEVER)                                                        \
    X(BLOCK_DIFFERENCE, block_difference, REAL, 16, 16, PAIR, IN_PASS, FIRST_FRAME_OR_MINUS_ONE, 0, 0, STATISTICS,   \
      "", "", "", "", "", blockDifference, blockDifference, REPORTS, NEVER)                                         \
    X(BAR_TOP, bar_top, REAL, 17, 17, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", barTop, barTop, \
      REPORTS, NEVER)                                                                                                \
    X(BAR_BOTTOM, bar_bottom, REAL, 18, 18, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", barBottom, \
      barBottom, REPORTS, NEVER)                                                                                     \
    X(BAR_LEFT, bar_left, REAL, 19, 19, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", barLeft,      \
      barLeft, REPORTS, NEVER)                                                                                       \
    X(BAR_RIGHT, bar_right, REAL, 20, 20, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", barRight,   \
      barRight, REPORTS, NEVER)                                                                                      \
    X(COMBING, combing, REAL, 21, 21, PICTURE, IN_PASS, BELOW_SIZE, 8, 8, STATISTICS, "", "", "", "", "", combing,   \
      combing, REPORTS, NEVER)                                                                                       \
    X(FIELD_ORDER, field_order, REAL, 22, 22, PAIR, IN_PASS, FIRST_FRAME, 0, 0, STATISTICS, "", "", "", "", "",      \
      fieldOrder, fieldOrder, REPORTS, NEVER)                                                                        \
    LUMAQC_LEVEL_VALUES(X)                                                                                           \
    LUMAQC_FLASH_VALUES(X)

/* Signal levels: the lowest, typical dark, mean, typical bright and highest
 * luma code, and the fractions of samples below and above the legal range. */
#define LUMAQC_LEVEL_VALUES(X)                                                                                       \
    X(LUMA_MIN, luma_min, REAL, 23, 23, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", lumaMin,      \
      lumaMin, REPORTS, NEVER)                                                                                       \
    X(LUMA_LOW, luma_low, REAL, 24, 24, PICTURE, IN_PASS, BELOW_SIZE, 8, 8, STATISTICS, "", "", "", "", "", lumaLow, \
      lumaLow, REPORTS, NEVER)                                                                                       \
    X(LUMA_AVG, luma_avg, REAL, 25, 25, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", lumaAvg,      \
      lumaAvg, REPORTS, NEVER)                                                                                       \
    X(LUMA_HIGH, luma_high, REAL, 26, 26, PICTURE, IN_PASS, BELOW_SIZE, 8, 8, STATISTICS, "", "", "", "", "",        \
      lumaHigh, lumaHigh, REPORTS, NEVER)                                                                            \
    X(LUMA_MAX, luma_max, REAL, 27, 27, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "", lumaMax,      \
      lumaMax, REPORTS, NEVER)                                                                                       \
    X(BELOW_RANGE, below_range, REAL, 28, 28, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "",         \
      belowRange, belowRange, REPORTS, NEVER)                                                                        \
    X(ABOVE_RANGE, above_range, REAL, 29, 29, PICTURE, IN_PASS, NEVER, 0, 0, STATISTICS, "", "", "", "", "",         \
      aboveRange, aboveRange, REPORTS, NEVER)

/* Flash screening: the share of the screen in a transition on this frame (-1
 * without a whole 8 x 8 block), and the flashes in the one-second window that
 * ends on it. */
#define LUMAQC_FLASH_VALUES(X)                                                                                       \
    X(FLASH_AREA, flash_area, REAL, 30, 30, SEQUENCE, ALONE, FIRST_FRAME_OR_MINUS_ONE, 0, 0, STATISTICS, "", "", "", \
      "", "", flashes, flashes, REPORTS, NEVER)                                                                      \
    X(FLASHES_PER_SECOND, flashes_per_second, REAL, 31, 31, SEQUENCE, ALONE, NEVER, 0, 0, STATISTICS, "", "", "",    \
      "", "", flashes, flashes, REPORTS, NEVER)

#define LUMAQC_VALUES(X) LUMAQC_VALUES_1_0(X) LUMAQC_VALUES_ADDED(X)

/* The C type of a value of each kind. */
#define LUMAQC_VALUE_TYPE_REAL double
#define LUMAQC_VALUE_TYPE_FLAG uint8_t
#define LUMAQC_VALUE_TYPE_TRUNCATED double

#endif /* LUMAQC_VALUES_H */
