// The plots of lumaqc's HTML report: one chart per indicator over the frame
// number, all on one zoomable frame axis, with the segments shaded.
// The data comes from the page's JSON element; nothing is fetched.
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
  const frames = data.frames;
  const times = data.times;

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
      if (x1 <= x0) continue;
      ctx.fillStyle = shadeOf(seg.kind);
      ctx.fillRect(x0, top, Math.max(1, x1 - x0), height);
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

  // Room above and below the values; a constant series sits mid-height.
  function paddedRange(u, min, max) {
    if (min === null || max === null) return [0, 1];
    const pad = min === max ? Math.abs(min) * 0.1 || 1 : (max - min) * 0.05;
    return [min - pad, max + pad];
  }

  // As many decimals as the step between the ticks needs.
  function valueLabels(u, splits, axis, space, incr) {
    const decimals = Math.min(12, Math.max(0, Math.ceil(-Math.log10(incr) - 1e-9)));
    return splits.map((v) => (v === null ? "" : v.toFixed(decimals)));
  }

  const charts = document.getElementById("charts");
  const width = () => Math.max(320, charts.clientWidth);

  data.columns.forEach((column, index) => {
    const stroke = strokes[index % strokes.length];
    const values = column.values;
    // What the page holds, at the single precision the values were written
    // in: the status tells a test which values arrived.
    let points = 0, sum = 0, min = null, max = null;
    for (const value of values) {
      if (value === null) continue;
      const v = Math.fround(value);
      points++;
      sum += v;
      if (min === null || v < min) min = v;
      if (max === null || v > max) max = v;
    }
    const record = { name: column.name, points, sum, min, max, draws: 0, painted: 0, xMin: null, xMax: null };
    status.plots.push(record);

    const box = document.createElement("div");
    box.className = "chart";
    box.id = "chart-" + column.name;
    charts.appendChild(box);

    const opts = {
      title: column.label + " (" + column.name + ")",
      width: width(),
      height: 170,
      cursor: { sync: { key: "lumaqc-frames" }, drag: { x: true, y: false } },
      scales: { x: { time: false }, y: { range: column.flag ? [-0.1, 1.1] : paddedRange } },
      legend: { live: true },
      series: [
        { label: "frame", value: (u, v) => (v === null ? "\u2013" : frameLabel(v).replace("\n", " at ")) },
        {
          label: column.label,
          stroke,
          width: 1,
          spanGaps: column.spanGaps,
          paths: column.flag ? uPlot.paths.stepped({ align: 1 }) : undefined,
          value: (u, v, s, i) => (i === null ? "\u2013" : v === null ? "no value" : String(v)),
        },
      ],
      axes: [
        { incrs: frameIncrs, values: (u, splits) => splits.map(frameLabel), size: 48, space: 90 },
        { size: 72, values: valueLabels },
      ],
      hooks: {
        drawClear: [shadeSegments],
        setScale: [(u, key) => { if (key === "x") syncFrames(u); }],
        draw: [(u) => {
          record.draws++;
          record.painted = paintedPixels(u, stroke);
          record.xMin = u.scales.x.min;
          record.xMax = u.scales.x.max;
          status.renderMs = Math.round(performance.now() - started);
          window.lumaqcPublish();
        }],
      },
    };
    plots.push(new uPlot(opts, [frames, values], box));
    if (points === 0) {
      const note = document.createElement("p");
      note.className = "not-computed";
      note.textContent = frames.length === 0 ? "No frames were analysed." : "Not computed for this input.";
      box.appendChild(note);
    }
  });

  window.addEventListener("resize", () => { for (const p of plots) p.setSize({ width: width(), height: 170 }); });
  document.getElementById("reset-zoom").addEventListener("click", () => {
    if (plots.length > 0 && frames.length > 0) plots[0].setScale("x", { min: frames[0], max: frames[frames.length - 1] });
  });

  // "#frames=A-B" opens the report zoomed to frames A to B.
  const wanted = /^#frames=(-?\d+)-(-?\d+)$/.exec(location.hash);
  if (wanted && plots.length > 0) plots[0].setScale("x", { min: Number(wanted[1]), max: Number(wanted[2]) });

  status.plotCount = plots.length;
  window.lumaqcPublish();
})();
