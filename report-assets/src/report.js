// The plots of lumaqc's HTML report: one chart per value over the frame
// number, in groups, all on one zoomable frame axis, with the segments shaded,
// the gates' thresholds drawn and every value at the cursor in one line.
// The data comes from the page's JSON element (little-endian arrays in
// base64; a long run's buckets as their least and greatest value); nothing is fetched.
// What was drawn is written into #lumaqc-render-status (see lumaqcPublish).
(function () {
  "use strict";
  const status = window.lumaqcStatus;
  const started = performance.now();
  const dataElement = document.getElementById("lumaqc-data");
  const data = JSON.parse(dataElement.textContent);
  // The parsed arrays are all the page needs: the text (megabytes for long
  // videos) leaves the document.
  dataElement.textContent = "";
  function decoded(text, Type) {
    const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
    return new Type(bytes.buffer);
  }
  // Plain arrays with null for no value, as the charting library reads gaps.
  function withGaps(typed) {
    const values = new Array(typed.length);
    for (let i = 0; i < typed.length; i++) values[i] = Number.isNaN(typed[i]) ? null : typed[i];
    return values;
  }
  const bucket = data.bucket;
  const frames = Array.from(decoded(data.frames, Float64Array));
  const times = withGaps(decoded(data.times, Float64Array));
  status.bucket = bucket;

  const strokes = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                   "#bcbd22", "#17becf", "#ff7f0e", "#393b79", "#637939", "#8c6d31", "#843c39", "#7b4173"];
  const shades = {
    black: "rgba(0, 0, 0, 0.22)",
    freeze: "rgba(70, 130, 255, 0.22)",
    letterbox: "rgba(255, 170, 0, 0.25)",
    pillarbox: "rgba(220, 60, 220, 0.2)",
    interlaced: "rgba(0, 180, 90, 0.22)",
    out_of_range: "rgba(230, 40, 40, 0.2)",
    flat: "rgba(150, 110, 60, 0.22)",
    flash: "rgba(255, 215, 0, 0.35)",
  };
  const shadeOf = (kind) => shades[kind] || "rgba(128, 128, 128, 0.2)";

  // The time of a (possibly fractional) frame value: that of the nearest row
  // at or before it, or null when the rows carry no time.
  function timeAt(frame) {
    let lo = 0, hi = frames.length - 1;
    if (hi < 0 || frame < frames[0]) return null;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (frames[mid] <= frame) lo = mid; else hi = mid - 1;
    }
    const t = times[lo];
    return t === null ? null : t + (frame - frames[lo]) * frameStep(lo);
  }
  function frameStep(i) {
    const j = i + 1 < frames.length ? i + 1 : i - 1;
    if (j < 0 || times[i] === null || times[j] === null || frames[j] === frames[i]) return 0;
    return (times[j] - times[i]) / (frames[j] - frames[i]);
  }
  function clock(seconds) {
    const sign = seconds < 0 ? "-" : "";
    let s = Math.abs(seconds);
    const h = Math.floor(s / 3600); s -= h * 3600;
    const m = Math.floor(s / 60); s -= m * 60;
    const sec = s.toFixed(3).padStart(6, "0");
    return sign + (h > 0 ? h + ":" + String(m).padStart(2, "0") : String(m)) + ":" + sec;
  }
  function frameLabel(v) {
    if (v === null || !Number.isInteger(v)) return "";
    const t = timeAt(v);
    return t === null ? String(v) : v + "\n" + clock(t);
  }

  // Integer steps only: frames are whole numbers.
  const frameIncrs = [];
  for (let p = 1; p <= 1e12; p *= 10) frameIncrs.push(p, 2 * p, 5 * p);

  const plots = [];
  let syncing = false;
  function syncFrames(source) {
    if (syncing) return;
    syncing = true;
    const { min, max } = source.scales.x;
    for (const other of plots)
      if (other !== source && (other.scales.x.min !== min || other.scales.x.max !== max))
        other.setScale("x", { min, max });
    syncing = false;
  }

  function shadeSegments(u) {
    const ctx = u.ctx;
    const { left, top, width, height } = u.bbox;
    ctx.save();
    for (const seg of data.segments) {
      const x0 = Math.max(left, u.valToPos(seg.first - 0.5, "x", true));
      const x1 = Math.min(left + width, u.valToPos(seg.last + 0.5, "x", true));
      if (x1 < left || x0 > left + width) continue;
      ctx.fillStyle = shadeOf(seg.kind);
      // A one-frame event stays visible however far out the plot is.
      const w = Math.max(3, x1 - x0);
      ctx.fillRect(Math.min(x0, x0 + (x1 - x0 - w) / 2), top, w, height);
    }
    ctx.restore();
  }

  // Opaque pixels of the series' own colour inside the plotting area: proof
  // that the line was drawn, not only the axes.
  function paintedPixels(u, stroke) {
    const { left, top, width, height } = u.bbox;
    if (width < 1 || height < 1) return 0;
    const px = u.ctx.getImageData(Math.round(left), Math.round(top), Math.round(width), Math.round(height)).data;
    const r = parseInt(stroke.slice(1, 3), 16), g = parseInt(stroke.slice(3, 5), 16), b = parseInt(stroke.slice(5, 7), 16);
    let count = 0;
    for (let i = 0; i < px.length; i += 4)
      if (px[i + 3] >= 128 && Math.abs(px[i] - r) < 48 && Math.abs(px[i + 1] - g) < 48 && Math.abs(px[i + 2] - b) < 48)
        count++;
    return count;
  }

  const legend = document.getElementById("segment-legend");
  for (const kind of Object.keys(shades)) {
    const item = document.createElement("span");
    const swatch = document.createElement("span");
    swatch.className = "swatch";
    swatch.style.background = shadeOf(kind);
    item.appendChild(swatch);
    item.appendChild(document.createTextNode(kind + " (" + data.segments.filter((s) => s.kind === kind).length + ")"));
    legend.appendChild(item);
  }

  // Room above and below the values and the thresholds; a constant series sits mid-height.
  function paddedRange(lines) {
    return (u, min, max) => {
      for (const t of lines) {
        min = min === null || t.value < min ? t.value : min;
        max = max === null || t.value > max ? t.value : max;
      }
      if (min === null || max === null) return [0, 1];
      const pad = min === max ? Math.abs(min) * 0.1 || 1 : (max - min) * 0.05;
      return [min - pad, max + pad];
    };
  }
  // A gate on a statistic of the value: its threshold as a dashed line.
  function drawThresholds(u, lines) {
    const ctx = u.ctx;
    const { left, top, width, height } = u.bbox;
    ctx.save();
    ctx.font = Math.round(11 * devicePixelRatio) + "px sans-serif";
    for (const t of lines) {
      const y = Math.round(u.valToPos(t.value, "y", true));
      if (y < top || y > top + height) continue;
      ctx.strokeStyle = ctx.fillStyle = t.tripped ? "#c00" : "#777";
      ctx.setLineDash([6, 4]);
      ctx.lineWidth = devicePixelRatio;
      ctx.beginPath();
      ctx.moveTo(left, y);
      ctx.lineTo(left + width, y);
      ctx.stroke();
      ctx.fillText(t.expression, left + 4, y - 3);
    }
    ctx.restore();
  }
  const thresholdsOf = {};
  for (const t of data.thresholds) (thresholdsOf[t.column] = thresholdsOf[t.column] || []).push(t);

  // The plots in groups; a value of no group joins the last but one.
  const groupNames = [
    ["Picture", ["exposure", "contrast", "spatial_activity", "blur", "noise", "brightest_block", "blackout",
                 "letterbox", "pillarbox", "bar_top", "bar_bottom", "bar_left", "bar_right"]],
    ["Artefacts", ["blockiness", "block_loss", "slice", "interlace", "combing", "field_order", "flickering"]],
    ["Motion", ["temporal_activity", "block_difference", "freezing"]],
    ["Signal levels and flashes", ["luma_min", "luma_low", "luma_avg", "luma_high", "luma_max", "below_range",
                                   "above_range"]],
    ["Other values", []],
  ];
  function groupOf(name) {
    for (const [title, names] of groupNames) if (names.includes(name)) return title;
    return name.includes("flash") ? "Signal levels and flashes" : "Other values";
  }

  // As many decimals as the step between the ticks needs.
  function valueLabels(u, splits, axis, space, incr) {
    const decimals = Math.min(12, Math.max(0, Math.ceil(-Math.log10(incr) - 1e-9)));
    return splits.map((v) => (v === null ? "" : v.toFixed(decimals)));
  }

  const charts = document.getElementById("charts");
  const width = () => Math.max(320, charts.clientWidth);

  const groupBoxes = {};
  for (const [title] of groupNames) {
    const section = document.createElement("section");
    section.className = "group";
    const heading = document.createElement("h3");
    heading.textContent = title;
    section.appendChild(heading);
    groupBoxes[title] = section;
  }
  const series = [];  // per column: least and greatest values per bucket (the same arrays for one row a bucket)
  const order = data.columns.map((c, i) => i);
  order.sort((a, b) => {
    const ga = groupNames.findIndex(([t]) => t === groupOf(data.columns[a].name));
    const gb = groupNames.findIndex(([t]) => t === groupOf(data.columns[b].name));
    return ga - gb || a - b;
  });
  for (const [title] of groupNames) charts.appendChild(groupBoxes[title]);

  order.forEach((index) => {
    const column = data.columns[index];
    const stroke = strokes[index % strokes.length];
    const values = withGaps(decoded(column.min, Float32Array));
    const highs = column.max === undefined ? values : withGaps(decoded(column.max, Float32Array));
    series[index] = { column, values, highs };
    const lines = thresholdsOf[column.name] || [];
    // What the page holds (per bucket its least value; every row when a
    // bucket is one row): the status tells a test which values arrived.
    let points = 0, sum = 0, min = null, max = null;
    for (let i = 0; i < values.length; i++) {
      if (values[i] === null) continue;
      const v = values[i], h = highs[i];
      points++;
      sum += v;
      if (min === null || v < min) min = v;
      if (max === null || h > max) max = h;
    }
    const record = { name: column.name, points, sum, min, max, thresholds: lines.length, draws: 0, painted: 0,
                     xMin: null, xMax: null };
    status.plots.push(record);

    const box = document.createElement("div");
    box.className = "chart";
    box.id = "chart-" + column.name;
    groupBoxes[groupOf(column.name)].appendChild(box);

    const opts = {
      title: column.label + " (" + column.name + ")",
      width: width(),
      height: 170,
      cursor: { sync: { key: "lumaqc-frames" }, drag: { x: true, y: false } },
      scales: { x: { time: false }, y: { range: column.flag ? [-0.1, 1.1] : paddedRange(lines) } },
      legend: { show: false },
      series: [{ label: "frame" }].concat((bucket > 1 ? ["least", "greatest"] : [""]).map((which) => ({
        label: column.label + (which ? " (" + which + ")" : ""),
        stroke,
        width: 1,
        spanGaps: column.spanGaps,
        paths: column.flag ? uPlot.paths.stepped({ align: 1 }) : undefined,
      }))),
      bands: bucket > 1 ? [{ series: [2, 1], fill: stroke + "55" }] : [],
      axes: [
        { incrs: frameIncrs, values: (u, splits) => splits.map(frameLabel), size: 48, space: 90 },
        { size: 72, values: valueLabels },
      ],
      hooks: {
        drawClear: [shadeSegments],
        setScale: [(u, key) => { if (key === "x") syncFrames(u); }],
        setCursor: [(u) => showReadout(u.cursor.idx)],
        draw: [(u) => {
          drawThresholds(u, lines);
          record.draws++;
          record.painted = paintedPixels(u, stroke);
          record.xMin = u.scales.x.min;
          record.xMax = u.scales.x.max;
          status.renderMs = Math.round(performance.now() - started);
          window.lumaqcPublish();
        }],
      },
    };
    plots.push(new uPlot(opts, bucket > 1 ? [frames, values, highs] : [frames, values], box));
    if (points === 0) {
      const note = document.createElement("p");
      note.className = "not-computed";
      note.textContent = frames.length === 0 ? "No frames were analysed." : "Not computed for this input.";
      box.appendChild(note);
    }
  });

  // Every value of the frame (or bucket) at the cursor, in one line.
  const readout = document.getElementById("readout");
  const shortText = (v) => (v === null ? "\u2013" : Number(v.toPrecision(6)).toString());
  function showReadout(i) {
    if (i === null || i === undefined || i < 0 || i >= frames.length) return;
    const last = i + 1 < frames.length ? frames[i + 1] - 1 : frames[0] + data.rows - 1;
    const t = times[i];
    let text = (bucket > 1 && last > frames[i] ? "frames " + frames[i] + "\u2013" + last : "frame " + frames[i]) +
               (t === null ? "" : " at " + clock(t));
    for (const index of order) {
      const s = series[index];
      const low = s.values[i], high = s.highs[i];
      text += " \u00b7 " + s.column.name + " " + (low === high ? shortText(low) : shortText(low) + "\u2013" + shortText(high));
    }
    readout.textContent = text;
  }

  function zoomTo(first, last) {
    if (plots.length > 0) plots[0].setScale("x", { min: first, max: last });
  }
  // A click on an event shows it with a frame either side.
  const eventRows = Array.from(document.querySelectorAll("#events tr.event"));
  for (const row of eventRows)
    row.addEventListener("click", () => {
      zoomTo(Number(row.dataset.first) - 1, Number(row.dataset.last) + 1);
      document.getElementById("charts").scrollIntoView();
    });

  window.addEventListener("resize", () => { for (const p of plots) p.setSize({ width: width(), height: 170 }); });
  document.getElementById("reset-zoom").addEventListener("click", () => {
    if (plots.length > 0 && frames.length > 0) plots[0].setScale("x", { min: frames[0], max: frames[frames.length - 1] });
  });

  // "#frames=A-B" opens the report zoomed to frames A to B, "#event=K" as a click on the K-th event.
  function followAddress() {
    const wanted = /^#frames=(-?\d+)-(-?\d+)$/.exec(location.hash);
    if (wanted) zoomTo(Number(wanted[1]), Number(wanted[2]));
    const event = /^#event=(\d+)$/.exec(location.hash);
    if (event && Number(event[1]) < eventRows.length) eventRows[Number(event[1])].click();
  }
  followAddress();
  window.addEventListener("hashchange", followAddress);

  // Each picture as decoded: its size and the mean red, green and blue of a 4 x 4 grid, for a test to compare.
  window.addEventListener("load", () => {
    eventRows.forEach((row, k) => {
      row.querySelectorAll("img.thumb").forEach((img, j) => {
        const grid = [];
        if (img.naturalWidth > 0) {
          const canvas = document.createElement("canvas");
          canvas.width = img.naturalWidth;
          canvas.height = img.naturalHeight;
          const ctx = canvas.getContext("2d");
          ctx.drawImage(img, 0, 0);
          const px = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
          for (let gy = 0; gy < 4; gy++)
            for (let gx = 0; gx < 4; gx++) {
              const total = [0, 0, 0];
              let n = 0;
              for (let y = Math.floor(gy * canvas.height / 4); y < Math.floor((gy + 1) * canvas.height / 4); y++)
                for (let x = Math.floor(gx * canvas.width / 4); x < Math.floor((gx + 1) * canvas.width / 4); x++) {
                  const o = 4 * (y * canvas.width + x);
                  for (let c = 0; c < 3; c++) total[c] += px[o + c];
                  n++;
                }
              for (let c = 0; c < 3; c++) grid.push(n > 0 ? (total[c] / n).toFixed(1) : "0");
            }
        }
        status.thumbs.push(k + " " + j + " frame " + img.dataset.frame + " width " + img.naturalWidth + " height " +
                           img.naturalHeight + " rgb " + grid.join(","));
      });
    });
    window.lumaqcPublish();
  });

  status.plotCount = plots.length;
  window.lumaqcPublish();
})();
