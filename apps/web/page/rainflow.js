// The rainflow panel: for the open file's channel, asks /api/rainflow and draws the
// cumulative exceedance (cycles against range, log count axis), the from-to matrix as a
// heat map and the damage per slope. It reads the open file from the page's hash, so it
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
      axes: [{ label: `range [${doc.unit}]` }, { label: "cycles with at least this range" }],
      series: [{}, { label: "cumulative", stroke: "#1f6fb4", width: 2, paths: uPlot.paths.stepped({ align: 1 }) }],
      legend: { show: false },
    }, [xs, ys], target);
  }

  function drawMatrix(doc) {
    const canvas = $("rf-matrix");
    const matrix = doc.total.matrix;
    const n = matrix.length;
    const size = 300, cell = size / Math.max(1, n);
    const ctx = canvas.getContext("2d");
    ctx.fillStyle = "#fff";
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    let most = 0;
    for (const row of matrix) for (const c of row) most = Math.max(most, c);
    const scale = Math.log10(1 + most) || 1;
    // Row: the class a cycle starts in (from, downwards); column: where it ends (to, rightwards).
    for (let i = 0; i < n; i++) {
      for (let j = 0; j < n; j++) {
        const c = matrix[i][j];
        if (!(c > 0)) continue;
        const t = Math.log10(1 + c) / scale;  // 0..1
        const hue = 240 - 240 * t;
        ctx.fillStyle = `hsl(${hue}, 85%, ${60 - 15 * t}%)`;
        ctx.fillRect(30 + j * cell, (n - 1 - i) * cell, Math.ceil(cell), Math.ceil(cell));
      }
    }
    ctx.strokeStyle = "#99a3ad";
    ctx.strokeRect(30.5, 0.5, size, size);
    ctx.fillStyle = "#506070";
    ctx.font = "11px sans-serif";
    ctx.fillText(fmt(doc.settings.range_min), 30, size + 14);
    ctx.fillText(fmt(doc.settings.range_max), 30 + size - 40, size + 14);
    ctx.fillText("to →", 30 + size / 2 - 12, size + 14);
    ctx.save();
    ctx.translate(12, size / 2 + 20);
    ctx.rotate(-Math.PI / 2);
    ctx.fillText("from →", 0, 0);
    ctx.restore();
  }

  function showFigures(doc) {
    const t = doc.total;
    const rows = [
      ["channel", `${doc.channel} ${doc.label} [${doc.unit}]`],
      ["classes", `${doc.settings.classes} over [${fmt(doc.settings.range_min)}, ${fmt(doc.settings.range_max)}]`],
      ["reversals", t.reversals],
      ["cycles", `${fmt(t.cycle_count)} (${fmt(t.full_cycles)} full, ${fmt(2 * t.half_cycles)} halves)`],
    ];
    for (const d of t.damage) rows.push([`damage k=${fmt(d.slope)}`, fmt(d.damage)]);
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
                                         gate: $("rf-gate").value, method: $("rf-method").value, slope: $("rf-slopes").value });
    panel.dataset.rainflow = "counting";
    $("rf-status").textContent = "counting…";
    try {
      const response = await fetch("api/rainflow?" + params.toString());
      const doc = await response.json();
      if (!response.ok) throw new Error(doc.error || `${response.status}`);
      showFigures(doc);
      drawExceedance(doc);
      drawMatrix(doc);
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
