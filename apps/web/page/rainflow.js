// The rainflow panel: for the open file's channel, asks /api/rainflow (class range,
// reference range S_ref and cycles N_ref as set) and draws the cumulative exceedance
// (cycles against range, log count axis), the from-to matrix as a heat map with its class
// values and colour scale, and the damage per slope; links export the route's document
// (JSON) and the matrix (CSV). It reads the open file from the page's hash, so it
// stands beside the viewer without reaching into it; "rainflow=N" in the hash counts
// channel N as soon as the page opens. data-rainflow on the panel: idle, counting, drawn
// or error.
(function () {
  const $ = (id) => document.getElementById(id);
  let plot = null;

  function hashFile() {
    const params = new URLSearchParams(location.hash.slice(1));
    const channels = (params.get("channels") || "").split(",").map(Number).filter((n) => n > 0);
    return { file: params.get("file"), channel: Number(params.get("rainflow")) || channels[0] || 1,
             auto: params.has("rainflow") };
  }

  function fmt(v) {
    return typeof v === "number" ? (Math.abs(v) >= 1e5 || (v !== 0 && Math.abs(v) < 1e-3) ? v.toExponential(4) : String(+v.toPrecision(6))) : String(v);
  }

  function drawExceedance(doc) {
    const total = doc.total;
    const xs = [], ys = [];
    for (const r of total.ranges) {
      xs.push(r.from);
      ys.push(r.cumulative > 0 ? r.cumulative : null);
    }
    const target = $("rf-exceedance");
    target.textContent = "";
    if (plot) plot.destroy();
    const width = Math.max(320, Math.min(560, target.clientWidth || 480));
    plot = new uPlot({
      width, height: 300,
      scales: { x: { time: false }, y: { distr: 3 } },
      axes: [{ label: `range [${doc.unit}]` }, { label: "cycles with at least this range", size: 64 }],
      series: [{}, { label: "cumulative", stroke: "#1f6fb4", width: 2, paths: uPlot.paths.stepped({ align: 1 }) }],
      legend: { show: false },
    }, [xs, ys], target);
  }

  // Heat colour of t in [0, 1]: blue (few cycles) to red (most).
  const heat = (t) => `hsl(${240 - 240 * t}, 85%, ${60 - 15 * t}%)`;

  function drawMatrix(doc) {
    const canvas = $("rf-matrix");
    const matrix = doc.total.matrix;
    const n = matrix.length;
    const left = 64, size = 280, top = 8, bar = left + size + 40;
    const cell = size / Math.max(1, n);
    const ctx = canvas.getContext("2d");
    ctx.fillStyle = "#fff";
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    let most = 0;
    for (const row of matrix) for (const c of row) most = Math.max(most, c);
    const scale = Math.log10(1 + most) || 1;
    // Row: the class a cycle starts in (from, upwards); column: where it ends (to, rightwards).
    for (let i = 0; i < n; i++) {
      for (let j = 0; j < n; j++) {
        const c = matrix[i][j];
        if (!(c > 0)) continue;
        ctx.fillStyle = heat(Math.log10(1 + c) / scale);
        ctx.fillRect(left + j * cell, top + (n - 1 - i) * cell, Math.ceil(cell), Math.ceil(cell));
      }
    }
    ctx.strokeStyle = "#99a3ad";
    ctx.strokeRect(left + 0.5, top + 0.5, size, size);
    // Class boundaries as ticks: five along each side.
    const { range_min: low, range_max: high } = doc.settings;
    ctx.fillStyle = "#506070";
    ctx.font = "11px sans-serif";
    for (let k = 0; k <= 4; k++) {
      const value = fmt(low + (high - low) * k / 4), at = size * k / 4;
      ctx.fillRect(left + at, top + size, 1, 4);
      ctx.fillRect(left - 4, top + size - at, 4, 1);
      ctx.textAlign = k === 0 ? "left" : k === 4 ? "right" : "center";
      ctx.fillText(value, left + at, top + size + 16);
      ctx.textAlign = "right";
      ctx.fillText(value, left - 6, top + size - at + (k === 0 ? 0 : k === 4 ? 9 : 4));
    }
    ctx.textAlign = "center";
    ctx.fillText(`to [${doc.unit}]`, left + size / 2, top + size + 32);
    ctx.save();
    ctx.translate(12, top + size / 2);
    ctx.rotate(-Math.PI / 2);
    ctx.fillText(`from [${doc.unit}]`, 0, 0);
    ctx.restore();
    // The colour scale: cycles per cell, logarithmic.
    for (let y = 0; y < size; y++) {
      ctx.fillStyle = heat(1 - y / size);
      ctx.fillRect(bar, top + y, 14, 1);
    }
    ctx.strokeRect(bar + 0.5, top + 0.5, 14, size);
    ctx.fillStyle = "#506070";
    ctx.textAlign = "left";
    for (const t of [0, 0.5, 1]) {
      ctx.fillText(fmt(Math.round(10 ** (t * scale) - 1)), bar + 18, top + size - t * size + (t === 1 ? 9 : t === 0 ? 0 : 4));
    }
    ctx.save();
    ctx.translate(bar + 62, top + size / 2);
    ctx.rotate(Math.PI / 2);
    ctx.textAlign = "center";
    ctx.fillText("cycles per cell (log)", 0, 0);
    ctx.restore();
  }

  // The damage per slope, said as what it is: a fraction of life with N_ref, else the sum.
  function damageRows(doc) {
    const s = doc.settings, rows = [];
    const life = s.reference_cycles > 0;
    for (const d of doc.total.damage) {
      rows.push(life ? [`damage k=${fmt(d.slope)}, fraction of life`, fmt(d.damage)]
                     : [`damage sum k=${fmt(d.slope)}, Σ n (S/${fmt(s.reference_range)})^k`, fmt(d.damage)]);
    }
    rows.push(["S-N reference", life ? `N_ref = ${fmt(s.reference_cycles)} cycles at S_ref = ${fmt(s.reference_range)} ${doc.unit}`
                                     : `S_ref = ${fmt(s.reference_range)} ${doc.unit}, no N_ref: a plain sum, not a life`]);
    return rows;
  }

  function showFigures(doc) {
    const t = doc.total;
    const rows = [
      ["channel", `${doc.channel} ${doc.label} [${doc.unit}]`],
      ["classes", `${doc.settings.classes} over [${fmt(doc.settings.range_min)}, ${fmt(doc.settings.range_max)}]`],
      ["reversals", t.reversals],
      ["cycles", `${fmt(t.cycle_count)} (${fmt(t.full_cycles)} full, ${fmt(2 * t.half_cycles)} halves)`],
    ];
    rows.push(...damageRows(doc));
    const body = $("rf-figures").querySelector("tbody");
    body.textContent = "";
    for (const [name, value] of rows) {
      const tr = document.createElement("tr");
      const a = document.createElement("th"), b = document.createElement("td");
      a.textContent = name;
      b.textContent = String(value);
      tr.append(a, b);
      body.append(tr);
    }
  }

  async function count() {
    const panel = $("rainflow");
    const { file } = hashFile();
    if (!file) return;
    const params = new URLSearchParams({ path: file, channel: $("rf-channel").value, classes: $("rf-classes").value,
                                         gate: $("rf-gate").value, method: $("rf-method").value, slope: $("rf-slopes").value,
                                         reference_range: $("rf-reference-range").value });
    const [low, high] = [$("rf-range-min").value, $("rf-range-max").value];
    if (low !== "" || high !== "") params.set("range", `${low},${high}`);
    if ($("rf-reference-cycles").value !== "") params.set("reference_cycles", $("rf-reference-cycles").value);
    panel.dataset.rainflow = "counting";
    $("rf-export").hidden = true;
    $("rf-status").textContent = "counting…";
    try {
      const response = await fetch("api/rainflow?" + params.toString());
      const doc = await response.json();
      if (!response.ok) throw new Error(doc.error || `${response.status}`);
      showFigures(doc);
      drawExceedance(doc);
      drawMatrix(doc);
      const base = `${file.split("/").pop().replace(/\.[^.]*$/, "")}-rainflow-${doc.channel}`;
      $("rf-json").href = "api/rainflow?" + params.toString();
      $("rf-json").download = `${base}.json`;
      params.set("format", "matrix-csv");
      $("rf-csv").href = "api/rainflow?" + params.toString();
      $("rf-csv").download = `${base}-matrix.csv`;
      $("rf-export").hidden = false;
      $("rf-status").textContent = "";
      panel.dataset.rainflow = "drawn";
    } catch (error) {
      $("rf-status").textContent = error.message || String(error);
      panel.dataset.rainflow = "error";
    }
  }

  $("rf-count").addEventListener("click", () => count());
  const start = hashFile();
  $("rf-channel").value = start.channel;
  if (start.auto) {
    // The viewer opens the file first; count once it has (or straight away if it failed).
    const wait = () => (["loading", "listed"].includes(document.body.dataset.state) ? setTimeout(wait, 50) : count());
    wait();
  }
})();
